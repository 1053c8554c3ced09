#include "platform/busycursor.h"

#include <QCursor>
#include <QGuiApplication>

BusyCursor::BusyCursor()
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(kDelayMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
        m_shown = true;
    });
    m_timer.start();
}

BusyCursor::~BusyCursor()
{
    m_timer.stop();
    if (m_shown)
        QGuiApplication::restoreOverrideCursor();
}
