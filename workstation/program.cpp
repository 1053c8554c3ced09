#include "workstation/program.h"

#include "discovery/finddeviceswindow.h"
#include "editors/editorwindows.h"
#include "platform/messageservice.h"
#include "platform/widgetmessageservice.h"
#include "workstation/application.h"
#include "workstation/mainwindow.h"
#include "workstation/namedobjects.h"
#include "workstation/secondarywindows.h"

std::unique_ptr<MainWindow> createConfiguratorWindows()
{
    auto main = std::make_unique<MainWindow>();
    MainWindow::Windows w;
    w.config = new ConfigWindow(*main);
    w.findDevices = new FindDevicesWindow(*main);
    w.programControl = new ProgramControlWindow(*main);
    w.archData = new ArchDataWindow(*main);
    w.alarm = new AlarmWindow(*main);
    w.channelConfig = new ChannelConfigWindow(*main);
    w.contursConfig = new ContursConfigWindow(*main);
    w.networkConfig = new NetworkConfigWindow(main.get());
    w.about = new AboutWindow(main.get());
    main->setWindows(w);
    return main;
}

int runConfigurator(int argc, char **argv)
{
    ConfiguratorApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("LorvanConf"));
    QApplication::setOrganizationName(QStringLiteral("Nordak"));
    QApplication::setApplicationDisplayName(QStringLiteral("Конфигуратор Лорван "));

    WidgetMessageService boxes;
    if (qEnvironmentVariable("LORVAN_MESSAGES") != QLatin1String("console"))
        setMessageService(&boxes);

    SingleInstanceEvent instance;
    if (!instance.create()) {
        showMessage(secondCopyText(QApplication::applicationFilePath()),
                    QStringLiteral("Невозможно запустить программу"), MessageIcon::Exclamation);
        setMessageService(nullptr);
        return 1;
    }

    std::unique_ptr<MainWindow> main = createConfiguratorWindows();
    main->setSingleInstanceEvent(&instance);
    main->show();
    const int code = QApplication::exec();
    main.reset();
    setMessageService(nullptr);
    return code;
}
