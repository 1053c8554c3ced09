#include "platform/applicationend.h"

#include <QGuiApplication>

void endRunWithLastWindow(QGuiApplication &app)
{
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app,
                     [] { QCoreApplication::exit(0); });
}
