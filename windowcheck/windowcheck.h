#pragma once

#include <QStringList>

class QWidget;

// What a user would see as a fault of a shown window's layout: a visible control reaching out
// of its parent, two sibling controls on top of each other, or a text wider than the control
// that shows it (a label, button, group title, list entry, header section or field) with no
// tool tip that gives it whole. Each fault is one line naming the window and the control.
QStringList checkWindowLayout(QWidget *window);
