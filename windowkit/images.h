#pragma once

#include <QIcon>

// The main window's image list, shared by the toolbar, the menus and the device tree. Pictures
// come from the desktop's icon theme; where the theme lacks one (or there is no theme at all) a
// small picture drawn here stands in, so every button shows something on a bare machine.
namespace images {

constexpr int kDeviceAnswers = 0;
constexpr int kFindDevices = 1;
constexpr int kLoadTree = 2;
constexpr int kConfig = 3;
constexpr int kChannels = 4;
constexpr int kLoops = 5;
constexpr int kAlarms = 6;
constexpr int kPrograms = 7;
constexpr int kArchive = 8;
constexpr int kPolling = 12;
constexpr int kNetworkParams = 13;
constexpr int kDeviceFailed = 15;
constexpr int kHelp = 16;

// Picks a theme when the platform names none, so that theme pictures are found at all.
void initTheme();
QIcon icon(int index);
// The drawn stand-in alone (for tests and for indices without a theme picture).
QIcon fallbackIcon(int index);

} // namespace images

// The same picture the log uses for a good (0) or a failed (1) exchange.
QIcon logIcon(bool failed);
