#pragma once

#include <QColor>
#include <QObject>
#include <QString>

// What the settings windows share in how their controls look and are named.

// The number a control's name ends with, 1 … count, and 0 for any other name: the controls of
// an input, a loop or a comparator are named by it.
inline int controlNumber(const QObject *control, int count)
{
    const QString name = control ? control->objectName() : QString();
    const int n = name.isEmpty() ? 0 : name.back().digitValue();
    return n >= 1 && n <= count ? n : 0;
}

// A switched-on box: navy text on aqua; switched off the other way round.
inline const QColor kAqua(0, 255, 255);
inline const QColor kNavy(0, 0, 128);
