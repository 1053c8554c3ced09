#pragma once

class QWidget;

// The start-up benchmark's measuring point. With LORVAN_STARTUP_MARK set, the program reports on
// standard output the moment its window is first mapped on the screen (the monotonic clock in
// nanoseconds) and its resident memory then ("mapped <ns> <kB>"), and ends at once. Without
// it, nothing happens. Call right after the window's show().
void markFirstExposure(QWidget *window);
