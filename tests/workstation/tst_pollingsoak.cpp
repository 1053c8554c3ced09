#include "pollingtestenv.h"

#include "platform/clock.h"

#include "app/program.h"
#include "platform/settings.h"

#include <QAction>

// Minutes of polling over three devices, one of which drops a fifth of its replies: exactly one
// row per good reply, none for a dropped one, every value as the device sent it.
class TestPollingSoak : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
    }

    void rowsMatchGoodReplies()
    {
        const int seconds = qEnvironmentVariableIntValue("LORVAN_SOAK_SECONDS") > 0
                                ? qEnvironmentVariableIntValue("LORVAN_SOAK_SECONDS")
                                : 150;
        devsim::FaultSettings dropping;
        dropping.drop = 0.2;
        dropping.seed = 7;
        const QList<PolledDevice> devices = {{1, 4, 1}, {2, 1, 1, true, dropping}, {5, 0, 1}};

        SimTraffic traffic;
        devsim::DeviceSimulator sim;
        sim.setLogger([&](const QString &line) { traffic.append(line); });
        sim.load(pollingScenario(devices));
        QString error;
        QVERIFY2(sim.start(m_dir.filePath("ports"), &error), qPrintable(error));

        ScopedRecordingMessages messages;
        Session session(systemClock());
        std::unique_ptr<MainWindow> main = createConfiguratorWindows(session);
        main->show();
        QTRY_VERIFY(main->isActivated());
        const QString tables = m_dir.filePath("tables");
        addPolledDevices(*main, devices, tables);

        QAction *polling = main->command(QStringLiteral("butEnableCycleReqDev"));
        polling->trigger();
        QTest::qWait(seconds * 1000);
        polling->trigger();
        QVERIFY(session.pollIdleEvent().isSet());

        int totalRows = 0;
        for (const PolledDevice &d : devices) {
            const QString path = tables + QStringLiteral("/ArcData%1.dbf").arg(d.address);
            const QList<SimTraffic::Reply> replies = traffic.liveReplies(d.address);
            const int asked = int(traffic.requests(4, d.address).size());
            const QStringList rows = readPolledRows(path);
            qInfo("address %d: %d requests, %d good replies, %d rows", d.address, asked,
                  int(replies.size()), int(rows.size() - 1));
            QCOMPARE(rows.mid(1), expectedRows(replies));
            if (d.faults.drop > 0)
                QVERIFY(asked - replies.size() > asked / 10);
            else
                QCOMPARE(int(replies.size()), asked);
            totalRows += int(replies.size());
        }
        qInfo("%d rows in %d s: %.1f rows per minute", totalRows, seconds,
              totalRows * 60.0 / seconds);
        QVERIFY(messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestPollingSoak)
#include "tst_pollingsoak.moc"
