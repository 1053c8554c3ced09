#include "editors/editorwindows.h"

#include "editors/storedproperties.h"
#include "windowkit/windowhost.h"

ArchDataWindow::ArchDataWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, QStringLiteral("frmArchData"), QStringLiteral("Просмотр архива"),
                   host.mainWidget())
{
    resize(640, 480);
}
