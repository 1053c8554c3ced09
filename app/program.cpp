#include "app/program.h"

#include "discovery/finddeviceswindow.h"
#include "editors/archdatawindow.h"
#include "editors/configwindow.h"
#include "editors/settingswindows.h"
#include "platform/applicationend.h"
#include "platform/clock.h"
#include "platform/messageservice.h"
#include "platform/portassignment.h"
#include "platform/qttranslation.h"
#include "platform/startupmark.h"
#include "platform/widgetmessageservice.h"
#include "session/namedobjects.h"
#include "session/session.h"
#include "windowkit/secondarywindow.h"
#include "workstation/application.h"
#include "workstation/linestatswindow.h"
#include "workstation/mainwindow.h"
#include "workstation/networkconfigwindow.h"
#include "workstation/networkfilecommands.h"
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
// signal; it then closes its main window like any other close, writing its report. The signals
// are caught from before the single-instance lock exists: one that comes while the windows are
// still being made waits in the pipe and closes the main window as soon as it is there.
void catchTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

void closeOnTerminationSignals(QWidget *main)
{
    if (g_signalPipe[0] < 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, main);
    QObject::connect(notifier, &QSocketNotifier::activated, main, [main] {
        char c;
        [[maybe_unused]] const auto got = ::read(g_signalPipe[0], &c, 1);
        main->close();
    });
}

} // namespace
#endif

namespace {

// The secondary windows, in their fixed order after the main window: the first settings window,
// the scan window, the other settings windows, the network's own windows; and the network file
// commands.
void createSecondaryWindows(Session &session, MainWindow &main)
{
    WindowHost &host = main;
    MainWindow::Windows w;
    auto made = [&w](auto *window) {
        w.made.append(window);
        return window;
    };
    const SettingsWindowKinds kinds = settingsWindowKinds();
    for (const SettingsWindowKind &kind : kinds) {
        w.settings.append(made(kind.make(session, host)));
        if (w.settings.size() == 1)
            w.findDevices = made(new FindDevicesWindow(session, host));
    }
    w.networkConfig = made(new NetworkConfigWindow(session, host));
    w.about = made(new AboutWindow(&main));
    w.lineStats = made(new LineStatsWindow(session.line().stats, session.network(), &main));
    w.portAssignment = made(new PortAssignmentWindow(&main));
    // Keys and placement as every other secondary window of the configurator.
    makeSecondaryWindow(w.portAssignment, w.portAssignment->objectName(),
                        w.portAssignment->windowTitle());
    main.setWindows(w);
    // The registration cycle is shown by the archive window and by the configuration window.
    auto *archData = qobject_cast<ArchDataWindow *>(main.settingsWindow(FeatureCode::Archive));
    auto *config = qobject_cast<ConfigWindow *>(main.settingsWindow(FeatureCode::Config));
    if (archData && config)
        QObject::connect(archData, &ArchDataWindow::registrationCycleShown, config,
                         &ConfigWindow::showRegistrationCycle);
    new NetworkFileCommands(session, main);
}

} // namespace

std::unique_ptr<MainWindow> createConfiguratorWindows(Session &session)
{
    auto main = std::make_unique<MainWindow>(session, settingsWindowKinds());
    createSecondaryWindows(session, *main);
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

#ifdef Q_OS_UNIX
    catchTerminationSignals();
#endif
    SingleInstanceEvent instance;
    if (!instance.create()) {
        showMessage(secondCopyText(QApplication::applicationFilePath()),
                    QStringLiteral("Невозможно запустить программу"), MessageIcon::Exclamation);
        setMessageService(nullptr);
        return 1;
    }

    // A child of the application, so that its objects can be found by name like the windows'.
    Session session(systemClock(), &app);
    // The hidden windows are made once the main window is on the screen, before its first
    // activation: the user sees the main window sooner and finds the others there all the same.
    auto main = std::make_unique<MainWindow>(session, settingsWindowKinds());
    main->setWindowsMadeLater(
        [&session, window = main.get()] { createSecondaryWindows(session, *window); });
    main->setSingleInstanceEvent(&instance);
#ifdef Q_OS_UNIX
    closeOnTerminationSignals(main.get());
#endif
    main->show();
    markFirstExposure(main.get());
    const int code = QApplication::exec();
    main->writeLateReport();
    main.reset();
    setMessageService(nullptr);
    return code;
}
