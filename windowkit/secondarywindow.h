#pragma once

class QString;
class QWidget;

// Top-level window behaviour shared by every secondary window: it never ends the program when
// closed, and it starts hidden.
void makeSecondaryWindow(QWidget *window, const QString &objectName, const QString &caption);
