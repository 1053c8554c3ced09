#include "windowkit/secondarywindow.h"

#include "windowkit/windowhost.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

namespace {

// A plain top-level widget is a bare panel to assistive tools; the secondary windows are
// windows, as the main window is. Dialogs and the main window have their own interfaces, found
// for their more specific classes before this one is asked.
QAccessibleInterface *windowInterface(const QString &className, QObject *object)
{
    if (className != QLatin1String("QWidget") || !object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (widget->windowType() != Qt::Window)
        return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Window);
}

bool isPlainKey(const QKeyEvent *key)
{
    return (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

const char *const kFilterName = "secondaryWindowFilter";

class SecondaryWindowFilter : public QObject
{
public:
    explicit SecondaryWindowFilter(QWidget *window) : QObject(window), m_window(window)
    {
        setObjectName(QLatin1String(kFilterName));
    }

    void centreOnShow() { m_centreOnShow = true; }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window)
            return false;
        switch (event->type()) {
        case QEvent::Show:
            // An opening (a window given back by the desktop stays where it was) that asked to
            // be centred, or of a window that has no place of its own yet.
            if (!event->spontaneous() && (m_centreOnShow || !m_window->testAttribute(Qt::WA_Moved)))
                beginPlacing();
            m_centreOnShow = false;
            break;
        case QEvent::Resize:
            // The size may still change while the window opens (a layout settling, a window
            // that sizes itself when shown): it stays centred until the opening has settled.
            if (m_placing)
                centreOverOwner(m_window);
            break;
        case QEvent::KeyPress:
            return keyPressed(static_cast<QKeyEvent *>(event));
        default:
            break;
        }
        return false;
    }

    bool event(QEvent *event) override
    {
        if (event->type() != kPlacedEvent)
            return QObject::event(event);
        m_placing = false;
        return true;
    }

private:
    // Behind every event already waiting, such as the layout requests of the opening.
    static constexpr QEvent::Type kPlacedEvent = QEvent::User;

    void beginPlacing()
    {
        centreOverOwner(m_window);
        m_placing = true;
        QCoreApplication::postEvent(this, new QEvent(kPlacedEvent), Qt::LowEventPriority);
    }

    // Reached only by keys that the focused control left alone.
    bool keyPressed(QKeyEvent *key)
    {
        if (qobject_cast<QDialog *>(m_window) || !isPlainKey(key) || key->isAutoRepeat())
            return false;
        if (key->key() == Qt::Key_Escape) {
            m_window->close();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            auto *button = qobject_cast<QPushButton *>(m_window->focusWidget());
            if (!button || !button->isEnabled() || !button->isVisible())
                return false;
            button->click();
            return true;
        }
        return false;
    }

    QWidget *m_window;
    bool m_centreOnShow = false;
    bool m_placing = false;
};

} // namespace

void makeSecondaryWindow(QWidget *window, const QString &objectName, const QString &caption)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(windowInterface);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    window->setObjectName(objectName);
    window->setWindowTitle(caption);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->installEventFilter(new SecondaryWindowFilter(window));
}

void showCentred(QWidget *window)
{
    // Right at once for a window whose size is known; the kit's own centre it again once shown.
    centreOverOwner(window);
    if (QObject *filter =
            window->findChild<QObject *>(QLatin1String(kFilterName), Qt::FindDirectChildrenOnly))
        static_cast<SecondaryWindowFilter *>(filter)->centreOnShow();
    window->show();
}

void centreOverOwner(QWidget *window)
{
    if (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
        return;
    QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (auto *host = dynamic_cast<WindowHost *>(owner)) {
        host->CenterOverMainWindow(window);
        return;
    }
    QRect area;
    if (owner)
        area = owner->geometry();
    else if (const QScreen *screen = window->screen())
        area = screen->availableGeometry();
    else
        return;
    window->move(area.left() + (area.width() - window->width()) / 2,
                 area.top() + (area.height() - window->height()) / 2);
}
