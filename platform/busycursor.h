#pragma once

#include <QTimer>

// The busy cursor over the program's windows while a wait lasts longer than a moment. A short
// exchange leaves the cursor alone, so it does not flicker; a long one (a scan, a slow line)
// shows that the program works. The cursor goes back when the object ends, whichever way the
// wait ends: its result, an error travelling through, or a close of the window meanwhile.
class BusyCursor
{
public:
    static constexpr int kDelayMs = 300;

    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;

    bool isShown() const { return m_shown; }

private:
    QTimer m_timer;
    bool m_shown = false;
};

// A message box or file dialog inside a long wait: the plain arrow while it waits for the user,
// and no busy cursor coming up over it meanwhile.
class ArrowWhileAsking
{
public:
    ArrowWhileAsking();
    ~ArrowWhileAsking();
    ArrowWhileAsking(const ArrowWhileAsking &) = delete;
    ArrowWhileAsking &operator=(const ArrowWhileAsking &) = delete;

private:
    bool m_pushed = false;
};
