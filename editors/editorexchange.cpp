#include "editors/editorexchange.h"

#include "platform/messageservice.h"
#include "session/session.h"

#include <QWidget>

namespace editorexchange {

Disabled::Disabled(std::initializer_list<QWidget *> widgets) : m_widgets(widgets)
{
    for (QWidget *w : std::as_const(m_widgets))
        w->setEnabled(false);
}

Disabled::~Disabled()
{
    for (QWidget *w : std::as_const(m_widgets))
        w->setEnabled(true);
}

void showExchangeFailure(const QString &text)
{
    showMessage(text, QStringLiteral("Ошибка обмена"), MessageIcon::Error);
}

void pointPortAtCurrentDevice(Session &session)
{
    CommPort &port = session.commPort();
    const DeviceNode &device = session.CurrentDevice();
    if (!port.IsOpen())
        port.setPortNum(device.portNumber());
    if (const auto rate = baudrateForSpeedCode(device.speedCode()))
        port.setBaudrate(*rate);
}

} // namespace editorexchange
