#pragma once

#include <QObject>

class QMenuBar;

// Opens the first menu of a window's menu bar from the keyboard: F10, or Alt pressed and let go
// with nothing else in between. The platform does not always do it (without a desktop, or
// without a window manager), so the window does it itself; keys of other windows are left alone.
class MenuBarKeys : public QObject
{
    Q_OBJECT
public:
    explicit MenuBarKeys(QMenuBar *bar);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isForThisWindow(QObject *receiver) const;
    void openFirstMenu();

    QMenuBar *m_bar;
    bool m_altAlone = false;
};
