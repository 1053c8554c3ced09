#include "editors/editorwindows.h"

#include "editors/storedproperties.h"
#include "windowkit/windowhost.h"

ProgramControlWindow::ProgramControlWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, QStringLiteral("frmProgramControl"),
                   QStringLiteral("Программное управление"), host.mainWidget(),
                   Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint)
{
    setFixedSize(760, 509);
}
