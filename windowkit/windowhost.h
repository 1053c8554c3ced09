#pragma once

class QWidget;

// What a secondary window may ask of the main window: its placement over the main window, the
// tree's highlight and the table shown, and the window that owns it. (Keeping exchanges apart
// from the polling cycle is the session's; asking the user to stop polling is the host's.)
// Windows get this instead of the main window itself.
class WindowHost
{
public:
    virtual ~WindowHost() = default;

    virtual void CenterOverMainWindow(QWidget *window) = 0;
    // Before an editor's exchanges: 1 when polling was off; 0 when the user keeps it running
    // (the command does nothing); 2 when it was stopped on the user's word.
    virtual int ConfirmStopPolling() = 0;
    // Centres a window over the main window and shows it without blocking the main window.
    virtual void openWindow(QWidget *window) = 0;
    // A network is there: the commands that work on devices become available.
    virtual void EnableDeviceCommands() = 0;
    // Highlights the selected device's entry in the device tree; nothing else runs.
    virtual void highlightSelectedNode() = 0;
    // Shows the selected device's table in the grid and chart, with its colours. Throws
    // TableError when the table cannot be had.
    virtual void ShowDeviceTable() = 0;
    // The parent of the secondary windows and of the shared dialogs (message boxes and file
    // dialogs go through the message service, platform/messageservice.h).
    virtual QWidget *mainWidget() = 0;
};
