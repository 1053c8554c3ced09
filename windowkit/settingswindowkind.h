#pragma once

#include "device/devicenode.h"

#include <QStringList>

#include <span>

class EditorWindow;
class Session;
class WindowHost;

// One settings window of the selected device as everything outside it knows it: the tree entry
// that opens it, its names, its commands on the toolbar and in the "Настройка" menu, the
// controls it remembers per device and how it is made. The table of them all belongs to the
// settings windows (settingsWindowKinds()); the assembly makes the windows from it, the main
// window builds its commands and finds a tree entry's window by it, and the stored-state switch
// and the window pictures follow its order, which is the order the windows are made in.
struct SettingsWindowKind
{
    FeatureCode feature;
    const char *objectName;
    const char *caption;
    // The picture of its toolbar command (images::).
    int image;
    // Its place among the settings commands on the toolbar and in the menu, from 0.
    int commandSlot;
    const char *button;
    const char *buttonHint;
    const char *menuItem;
    const char *menuText;
    // The controls it remembers per device, as "Control.Property"; nullptr for none.
    QStringList (*storedProperties)();
    EditorWindow *(*make)(Session &session, WindowHost &host);
};

using SettingsWindowKinds = std::span<const SettingsWindowKind>;

// The kind of code in kinds, nullptr when there is none.
inline const SettingsWindowKind *findKind(SettingsWindowKinds kinds, FeatureCode code)
{
    for (const SettingsWindowKind &kind : kinds) {
        if (kind.feature == code)
            return &kind;
    }
    return nullptr;
}
