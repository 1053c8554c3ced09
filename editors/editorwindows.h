#pragma once

#include "editors/alarmwindow.h"
#include "editors/archdatawindow.h"
#include "editors/channelconfigwindow.h"
#include "editors/configwindow.h"
#include "editors/contursconfigwindow.h"
#include "editors/programcontrolwindow.h"
#include "windowkit/editorwindow.h"

// The settings windows of the selected device, for the program's assembly. Each is created once
// at start, hidden, and only shown and hidden afterwards; each binds its own controls to the
// session.
