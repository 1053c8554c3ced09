#pragma once

#include <QSettings>

#include <memory>

// The configurator's settings store: one INI file per user, keys named as the program names them
// ("ReadOnLoad", "TreeFile", "Forms/Device-<n>/...", "Ports/COM<n>").
std::unique_ptr<QSettings> openSettings();
