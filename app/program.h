#pragma once

#include <memory>

class MainWindow;
class Session;

// Creates the ten windows in their fixed order on the session, the main window first; the others
// belong to it and start hidden. The session must outlive the windows.
std::unique_ptr<MainWindow> createConfiguratorWindows(Session &session);

// The program: refuses a second running copy, creates the windows and runs until the main window
// has closed. With LORVAN_MESSAGES=console, messages go to standard error instead of boxes (for
// runs without a desktop).
int runConfigurator(int argc, char **argv);
