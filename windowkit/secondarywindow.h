#pragma once

class QString;
class QWidget;

// Top-level window behaviour shared by every secondary window: it never ends the program when
// closed, and it starts hidden. Each time it opens it is centred over the window that owns it
// (its parent's window; the main window places it through the host interface), once its size is
// known. Escape closes it, Enter presses its focused push button (a dialog keeps its own keys),
// and assistive tools are told it is a window.
void makeSecondaryWindow(QWidget *window, const QString &objectName, const QString &caption);

// Centres a window over its owner: the host's placement when the owner is the host, else the
// owner's area, else the screen's.
void centreOverOwner(QWidget *window);
