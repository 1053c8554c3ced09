#include "tests/support/pollingtestenv.h"

#include "platform/clock.h"

#include "app/program.h"
#include "platform/settings.h"

#include <QAction>

namespace {
qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

devsim::FaultSettings faults(int seed, double drop, double lrc, double noCrLf, double exception)
{
    devsim::FaultSettings f;
    f.seed = seed;
    f.drop = drop;
    f.corruptLrc = lrc;
    f.noCrLf = noCrLf;
    f.exception = exception;
    f.exceptionCode = 4;
    return f;
}
} // namespace

// Minutes of polling over eight devices on two lines, half of them with faults (dropped replies,
// wrong LRC, no CR LF, exception replies): exactly one row per good reply, none for a bad one,
// every value as the device sent it, and the process no larger at the end than once warmed up.
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
        const QList<PolledDevice> devices = {
            {1, 4, 1},
            {2, 1, 1, true, faults(7, 0.2, 0, 0, 0)},
            {3, 4, 1, true, faults(8, 0, 0.15, 0, 0.1)},
            {5, 0, 1},
            {11, 4, 1, true, faults(9, 0.05, 0.05, 0.05, 0.05), 2},
            {12, 4, 1, true, {}, 2},
            {13, 1, 1, true, faults(10, 0, 0, 0.2, 0), 2},
            {14, 4, 2, true, {}, 2},
        };
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
        // Memory once the tables, the chart and the log have their working size, and at the end.
        QTest::qWait(seconds * 200);
        const qint64 warmKb = residentKb();
        QTest::qWait(seconds * 800);
        const qint64 endKb = residentKb();
        polling->trigger();
        QVERIFY(session.line().pollIdle.isSet());

        int totalRows = 0;
        int faulted = 0;
        for (const PolledDevice &d : devices) {
            const QString path = tables + QStringLiteral("/ArcData%1.dbf").arg(d.address);
            const QList<SimTraffic::Reply> replies = traffic.liveReplies(d.address);
            const int asked = int(traffic.requests(4, d.address).size());
            const QStringList rows = readPolledRows(path);
            qInfo("address %d: %d requests, %d good replies, %d rows", d.address, asked,
                  int(replies.size()), int(rows.size() - 1));
            QCOMPARE(rows.mid(1), expectedRows(replies));
            const devsim::FaultSettings &f = d.faults;
            if (f.drop + f.corruptLrc + f.noCrLf + f.exception > 0) {
                QVERIFY(asked - replies.size() > asked / 20);
                faulted += asked - int(replies.size());
            } else {
                QCOMPARE(int(replies.size()), asked);
            }
            QVERIFY(replies.size() > 0);
            totalRows += int(replies.size());
        }
        qInfo("%d rows checked, %d faulted replies survived in %d s: %.1f rows per minute",
              totalRows, faulted, seconds, totalRows * 60.0 / seconds);
        qInfo("resident memory %lld kB once warm, %lld kB at the end", warmKb, endKb);
        QVERIFY(warmKb > 0);
        // The log's lines are all that may grow: far less than a megabyte in minutes.
        QVERIFY2(endKb - warmKb < 4096, "memory grew while polling");
        QVERIFY(messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestPollingSoak)
#include "tst_pollingsoak.moc"
