#pragma once

#include <memory>

class MainWindow;

// Creates the ten windows in their fixed order, the main window first; the others belong to it
// and start hidden.
std::unique_ptr<MainWindow> createConfiguratorWindows();

// The program: refuses a second running copy, creates the windows and runs until the main window
// has closed. With LORVAN_MESSAGES=console, messages go to standard error instead of boxes (for
// runs without a desktop).
int runConfigurator(int argc, char **argv);
