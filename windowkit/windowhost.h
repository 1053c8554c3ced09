#pragma once

class QWidget;

// What a secondary window may ask of the main window: the steps that keep its exchanges apart
// from the polling cycle, its placement over the main window, and the window that owns it.
// Windows get this instead of the main window itself.
class WindowHost
{
public:
    virtual ~WindowHost() = default;

    // 1: polling was off; 0: the user keeps it running; 2: stopped on the user's word.
    virtual int ConfirmStopPolling() = 0;
    // Locks (false) or unlocks (true) the command panels of every editor window.
    virtual void SetEditorPanelsEnabled(bool on) = 0;
    virtual void CenterOverMainWindow(QWidget *window) = 0;
    // Centres a window over the main window and shows it without blocking the main window.
    virtual void openWindow(QWidget *window) = 0;
    // Highlights the selected device's entry in the device tree; nothing else runs.
    virtual void highlightSelectedNode() = 0;
    // Shows the selected device's table in the grid and chart, with its colours. Throws
    // TableError when the table cannot be had.
    virtual void ShowDeviceTable() = 0;
    // The parent of the secondary windows and of the shared dialogs (message boxes and file
    // dialogs go through the message service, platform/messageservice.h).
    virtual QWidget *mainWidget() = 0;
};
