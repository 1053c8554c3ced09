#pragma once

#include "editors/alarmwindow.h"
#include "editors/channelconfigwindow.h"
#include "editors/configwindow.h"
#include "editors/contursconfigwindow.h"
#include "editors/programcontrolwindow.h"
#include "windowkit/editorwindow.h"

// The settings windows of the selected device. Each is created once at start, hidden, and only
// shown and hidden afterwards; four of them remember their controls per device. Each binds its
// own controls to the session.

// "Просмотр архива": the device's internal archive.
class ArchDataWindow : public EditorWindow
{
    Q_OBJECT
public:
    ArchDataWindow(Session &session, WindowHost &host);
};
