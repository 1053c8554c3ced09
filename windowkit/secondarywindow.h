#pragma once

class QString;
class QWidget;

// Top-level window behaviour shared by every secondary window: it never ends the program when
// closed, and it starts hidden. Opened by showCentred, or shown before it has a place of its own,
// it is centred over the window that owns it (its parent's window; the main window places it
// through the host interface) once its size is known; otherwise it shows where it was. Escape
// closes it, Enter presses its focused push button (a dialog keeps its own keys), and assistive
// tools are told it is a window.
void makeSecondaryWindow(QWidget *window, const QString &objectName, const QString &caption);

// Shows a window centred over its owner, whatever place it had.
void showCentred(QWidget *window);

// Centres a window over its owner: the host's placement when the owner is the host, else the
// owner's area, else the screen's.
void centreOverOwner(QWidget *window);
