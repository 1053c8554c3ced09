#include "workstation/menubarkeys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>

MenuBarKeys::MenuBarKeys(QMenuBar *bar) : QObject(bar), m_bar(bar)
{
    // The application's filter: a key goes to the focused control first, which may take it.
    qApp->installEventFilter(this);
}

bool MenuBarKeys::isForThisWindow(QObject *receiver) const
{
    if (!receiver->isWidgetType())
        return false;
    const QWidget *window = m_bar->window();
    return static_cast<QWidget *>(receiver)->window() == window && window->isVisible() &&
           window->isEnabled() && !QApplication::activePopupWidget();
}

bool MenuBarKeys::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (key->key() == Qt::Key_Alt) {
            // A key press travels up from the focused control: every step sees it again.
            if (!key->isAutoRepeat() && (modifiers & ~Qt::AltModifier) == Qt::NoModifier &&
                isForThisWindow(watched))
                m_altAlone = true;
            return false;
        }
        m_altAlone = false;
        if (key->key() == Qt::Key_F10 && modifiers == Qt::NoModifier && isForThisWindow(watched)) {
            openFirstMenu();
            return true;
        }
        return false;
    }
    case QEvent::KeyRelease: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Alt && !key->isAutoRepeat() && m_altAlone &&
            isForThisWindow(watched)) {
            m_altAlone = false;
            openFirstMenu();
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
        m_altAlone = false;
        return false;
    default:
        return false;
    }
}

void MenuBarKeys::openFirstMenu()
{
    const auto actions = m_bar->actions();
    for (QAction *action : actions) {
        if (action->menu() && action->isVisible() && action->isEnabled()) {
            m_bar->setActiveAction(action);
            return;
        }
    }
}
