#include "windowkit/secondarywindow.h"

#include <QWidget>

void makeSecondaryWindow(QWidget *window, const QString &objectName, const QString &caption)
{
    window->setObjectName(objectName);
    window->setWindowTitle(caption);
    window->setAttribute(Qt::WA_QuitOnClose, false);
}
