#include "cli/netfile.h"
#include "device/networkfile.h"
#include "devsim/devicesimulator.h"
#include "devsim/scenario.h"

#include <QTemporaryDir>
#include <QtTest>

// The demonstration's network file, written from what the simulated plant's devices report.
class TestNetFile : public QObject
{
    Q_OBJECT
private slots:
    // The number is the tool's to choose; the configurator loads whatever it writes.
    void plantAsAScanWouldFindIt_data()
    {
        QTest::addColumn<int>("portNumber");
        QTest::newRow("COM1") << 1;
        QTest::newRow("beyond the settings window's ports") << 9;
    }
    void plantAsAScanWouldFindIt()
    {
        QFETCH(int, portNumber);
        QTemporaryDir dir;
        devsim::DeviceSimulator sim;
        sim.load(devsim::defaultScenario());
        QString error;
        QVERIFY2(sim.start(dir.filePath("ports"), &error), qPrintable(error));
        const QString file = dir.filePath("plant.ini");
        error = writeFoundNetwork(dir.filePath("ports/COM1"), portNumber,
                                  {{1, 115200}, {2, 19200}, {5, 9600}}, dir.filePath("data"), file);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        const std::optional<SavedNetwork> net = networkfile::load(file, &error);
        QVERIFY2(net, qPrintable(error));
        QCOMPARE(net->deviceCount, 3);
        QList<const SavedEntry *> devices;
        for (const SavedEntry &e : net->entries) {
            if (e.isDevice())
                devices.append(&e);
        }
        QCOMPARE(devices.size(), 3);
        const int addresses[] = {1, 2, 5};
        const int speeds[] = {4, 1, 0};
        for (int i = 0; i < 3; ++i) {
            const DeviceNode &d = devices[i]->device;
            QCOMPARE(int(d.address()), addresses[i]);
            QCOMPARE(int(d.speedCode()), speeds[i]);
            QCOMPARE(d.portNumber(), portNumber);
            QCOMPARE(d.deviceNumber(), i + 1);
            QCOMPARE(d.tablePath(), dir.filePath(QStringLiteral("data/ArcData%1.dbf").arg(i + 1)));
            QVERIFY(devices[i]->text.contains(
                QStringLiteral("/%1/").arg(addresses[i], 3, 10, QLatin1Char('0'))));
        }
        // The furnace regulator offers programs and an archive: six settings entries.
        QVERIFY(net->entries[7].isDevice());
        QCOMPARE(net->selectedIndex, 0);
        QVERIFY(net->current == devices[0]->device);

        // A device that is not there writes no file.
        QFile::remove(file);
        QVERIFY(!writeFoundNetwork(dir.filePath("ports/COM1"), 1, {{9, 9600}}, dir.path(), file)
                     .isEmpty());
        QVERIFY(!QFileInfo::exists(file));
    }
};

QTEST_GUILESS_MAIN(TestNetFile)
#include "tst_netfile.moc"
