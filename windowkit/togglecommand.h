#pragma once

#include <QWidgetAction>

// A checkable command for a toolbar whose button runs the command however its state changes.
// A click or a key goes through the action; an assistive tool's toggle (or setChecked on the
// button) only flips the button, and Qt then copies the new state onto the action without
// triggering it, so the button would stay down with nothing started. This button triggers the
// action instead, exactly as a click does.
class ToggleCommand : public QWidgetAction
{
    Q_OBJECT
public:
    ToggleCommand(const QString &text, QObject *parent);

protected:
    QWidget *createWidget(QWidget *parent) override;
};
