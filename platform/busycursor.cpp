#include "platform/busycursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace {
// Boxes and dialogs open now.
int g_asking = 0;
} // namespace

BusyCursor::BusyCursor()
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(kDelayMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (g_asking > 0)
            return;
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

ArrowWhileAsking::ArrowWhileAsking()
{
    ++g_asking;
    if (QGuiApplication::overrideCursor()) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
        m_pushed = true;
    }
}

ArrowWhileAsking::~ArrowWhileAsking()
{
    --g_asking;
    if (m_pushed)
        QGuiApplication::restoreOverrideCursor();
}
