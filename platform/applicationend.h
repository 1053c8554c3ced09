#pragma once

class QGuiApplication;

// Ends the run when the last window closes, also when the close arrives inside a pumped wait (a
// poll tick, a scan, an exchange): every event loop, nested or not, is left at once. Qt's own
// quit on the last window is only posted, and a window shown on the way back (a progress popup)
// withdraws it; the program then sat idle and unseen.
void endRunWithLastWindow(QGuiApplication &app);
