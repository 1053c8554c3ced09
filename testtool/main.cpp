// LorvanModbusTest: checks the connection to one device on one COM port.

#include "platform/applicationend.h"
#include "platform/qttranslation.h"
#include "platform/widgetmessageservice.h"
#include "testtool/testtoolwindows.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installQtRussian(app);
    endRunWithLastWindow(app);
    QApplication::setApplicationName(QStringLiteral("LorvanModbusTest"));
    setApplicationTitle(QStringLiteral("LorvanModbusTest"));
    WidgetMessageService messageService;
    setMessageService(&messageService);

    TestToolWindows windows;
    windows.form1.show();
    const int status = QApplication::exec();
    setMessageService(nullptr);
    return status;
}
