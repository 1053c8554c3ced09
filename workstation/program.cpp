#include "workstation/program.h"

#include "discovery/finddeviceswindow.h"
#include "editors/editorwindows.h"
#include "platform/applicationend.h"
#include "platform/messageservice.h"
#include "platform/qttranslation.h"
#include "platform/widgetmessageservice.h"
#include "workstation/application.h"
#include "workstation/mainwindow.h"
#include "workstation/namedobjects.h"
#include "workstation/secondarywindows.h"

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &c, 1);
}

// A desktop session that ends, or a terminal that hangs up, asks the program to stop with a
// signal; it then closes its main window like any other close, writing its report.
void closeOnTerminationSignals(QWidget *main)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, main);
    QObject::connect(notifier, &QSocketNotifier::activated, main, [main] {
        char c;
        [[maybe_unused]] const auto got = ::read(g_signalPipe[0], &c, 1);
        main->close();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

} // namespace
#endif

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
    installQtRussian(app);
    endRunWithLastWindow(app);
    QApplication::setApplicationName(QStringLiteral("LorvanConf"));
    QApplication::setOrganizationName(QStringLiteral("Nordak"));
    setApplicationTitle(QStringLiteral("Конфигуратор Лорван "));

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
#ifdef Q_OS_UNIX
    closeOnTerminationSignals(main.get());
#endif
    main->show();
    const int code = QApplication::exec();
    main->writeLateReport();
    main.reset();
    setMessageService(nullptr);
    return code;
}
