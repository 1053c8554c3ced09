#pragma once

#include "windowkit/settingswindowkind.h"

// The settings windows of the selected device, in the order they are made at start. Each is
// created once, hidden, and only shown and hidden afterwards; each binds its own controls to
// the session.
SettingsWindowKinds settingsWindowKinds();
// The row of one of them (every feature code has one).
const SettingsWindowKind &settingsWindowKind(FeatureCode code);
