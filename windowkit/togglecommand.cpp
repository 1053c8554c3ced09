#include "windowkit/togglecommand.h"

#include <QToolBar>
#include <QToolButton>

namespace {

class ToggleButton : public QToolButton
{
public:
    using QToolButton::QToolButton;

protected:
    // Called whenever the button's own state is set. From a click the action has already
    // changed and the two agree; a difference means the change began at the button.
    void checkStateSet() override
    {
        if (QAction *action = defaultAction(); action && action->isChecked() != isChecked()) {
            if (action->isEnabled())
                action->trigger();
            else
                setChecked(action->isChecked());
        }
        QToolButton::checkStateSet();
    }
};

} // namespace

ToggleCommand::ToggleCommand(const QString &text, QObject *parent) : QWidgetAction(parent)
{
    setText(text);
    setCheckable(true);
}

QWidget *ToggleCommand::createWidget(QWidget *parent)
{
    auto *bar = qobject_cast<QToolBar *>(parent);
    if (!bar)
        return nullptr; // in a menu it stays a plain item, which Qt already triggers
    // Set up as the toolbar sets up its own buttons.
    auto *button = new ToggleButton(bar);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(bar->iconSize());
    button->setToolButtonStyle(bar->toolButtonStyle());
    connect(bar, &QToolBar::iconSizeChanged, button, &QToolButton::setIconSize);
    connect(bar, &QToolBar::toolButtonStyleChanged, button, &QToolButton::setToolButtonStyle);
    button->setDefaultAction(this);
    connect(button, &QToolButton::triggered, bar, &QToolBar::actionTriggered);
    return button;
}
