// Opens every window of both programs at its own size with a plant of three devices in the
// configurator's tree, keeps a picture of each in the folder given on the command line and
// reports every layout fault that checkWindowLayout finds. Exit status 0 when there is none.

#include "app/program.h"
#include "device/devicenode.h"
#include "device/identity.h"
#include "platform/clock.h"
#include "platform/datafolder.h"
#include "platform/measurementtable.h"
#include "platform/messageservice.h"
#include "platform/qttranslation.h"
#include "session/session.h"
#include "testtool/testtoolwindows.h"
#include "windowcheck/windowcheck.h"
#include "windowkit/editorwindow.h"
#include "workstation/application.h"
#include "workstation/devicetree.h"
#include "workstation/mainwindow.h"

#include <QDir>
#include <QLocale>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTreeWidget>

#include <cstdio>

namespace {

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}

// The widest texts the plant can bring: a device of every feature with a long description.
void fillPlant(Session &session)
{
    DeviceNetwork &network = session.network();
    const std::uint8_t addresses[] = {1, 2, 127};
    for (std::uint8_t address : addresses) {
        const std::uint8_t ident[identity::kBytes] = {105,     3, 0x15, 0x12, 0x34, 0x12,
                                                      address, 4, 0,    0,    0,    0x05};
        const QString text =
            session.selected().DescribeDevice(ident).left(DeviceNetwork::kNameLength);
        const int index = network.addDevice(
            text, DeviceNode::found(network.deviceCount() + 1, 1, ident,
                                    dataFilePath(QStringLiteral("ArcData%1.dbf").arg(address))));
        network.addFeatures(index);
        session.selected().select(index, *network.device(index));
        session.selected().showName(text);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "LORVAN_HOME", "LORVAN_PORT_DIR"})
        qputenv(name, home.filePath(QString::fromLatin1(name)).toLocal8Bit());
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    ConfiguratorApplication app(argc, argv);
    installQtRussian(app);
    ScopedRecordingMessages quiet;

    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : home.filePath("pictures");
    QDir().mkpath(out);
    QTextStream err(stderr);
    int faults = 0;
    int number = 0;
    auto look = [&](QWidget *window, const QString &suffix = QString()) {
        if (!window)
            return;
        window->show();
        settle();
        const QString name = QStringLiteral("%1-%2%3.png")
                                 .arg(++number, 2, 10, QLatin1Char('0'))
                                 .arg(window->objectName(), suffix);
        if (!window->grab().save(QDir(out).filePath(name)))
            err << "cannot save " << name << "\n";
        QStringList found = checkWindowLayout(window);
        // Every page of a window with pages is looked at.
        for (QTabWidget *pages : window->findChildren<QTabWidget *>()) {
            for (int page = 1; page < pages->count(); ++page) {
                pages->setCurrentIndex(page);
                settle();
                found += checkWindowLayout(window);
            }
            pages->setCurrentIndex(0);
        }
        found.removeDuplicates();
        for (const QString &fault : std::as_const(found)) {
            err << fault << "\n";
            ++faults;
        }
        err.flush();
        window->hide();
        settle();
    };

    VirtualClock clock;
    {
        Session session(clock);
        std::unique_ptr<MainWindow> main = createConfiguratorWindows(session);
        fillPlant(session);
        main->tree()->expandAll();
        look(main.get());
        // The chart's date labels with few and with many rows.
        const QString table = session.selected().CurrentDevice().tablePath();
        QDateTime when(QDate(2026, 12, 9), QTime(17, 36, 17));
        int rows = 0;
        for (int wanted : {2, 10, 1000}) {
            for (; rows < wanted; ++rows)
                AppendMeasurementRow(table, when.addSecs(31 * rows),
                                     {20.0 + rows % 7, 40.5, 60.25 - rows % 5, 80.0}, QLocale());
            main->ShowDeviceTable();
            look(main.get(), QStringLiteral("-%1rows").arg(wanted));
        }
        main->show();
        for (QWidget *window : main->windows().made)
            look(window);
        main->hide();
    }
    {
        TestToolWindows tool(clock);
        for (QWidget *window :
             {static_cast<QWidget *>(&tool.form1), static_cast<QWidget *>(&tool.form2),
              static_cast<QWidget *>(&tool.form3), static_cast<QWidget *>(&tool.form4),
              static_cast<QWidget *>(&tool.form5)})
            look(window);
        // The port assignment as the tool opens it.
        look(tool.form1.portAssignmentWindow(), QStringLiteral("-testtool"));
    }
    err << number << " windows, " << faults << " faults; pictures in " << out << "\n";
    return faults == 0 ? 0 : 1;
}
