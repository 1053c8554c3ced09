#include "tests/support/workstationtestenv.h"

#include "platform/datafolder.h"

#include <QProcess>
#include <QtTest>

// The real programs against the simulator, closed while an exchange waits for its reply: a
// plug-in loaded into them presses the controls and closes at the chosen moment.
class TestCloseDuringExchange : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_sim;

    static QProcessEnvironment driven(const QString &script)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(LORVAN_PLUGIN_PATH));
        env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("lorvandriver"));
        env.insert(QStringLiteral("LORVAN_DRIVE"), script);
        env.insert(QStringLiteral("LORVAN_MESSAGES"), QStringLiteral("console"));
        return env;
    }

    // Runs a program under the script until it ends by itself; how it ended comes back, and
    // the driver's steps and the program's messages go to said.
    QString runUntilClosed(const QString &program, const QString &script, const char *closeStep,
                           QString &said)
    {
        QProcess process;
        process.setProcessEnvironment(driven(script));
        process.setProgram(program);
        process.start();
        if (!process.waitForStarted(10000))
            return QStringLiteral("did not start");
        QDeadlineTimer startLimit(60000);
        while (!said.contains(QLatin1String(closeStep)) && !startLimit.hasExpired() &&
               process.state() == QProcess::Running) {
            process.waitForReadyRead(100);
            said += QString::fromUtf8(process.readAllStandardError());
        }
        if (!said.contains(QLatin1String(closeStep))) {
            process.kill();
            process.waitForFinished();
            return said + QStringLiteral("\nnever reached the close");
        }
        QElapsedTimer clock;
        clock.start();
        const bool ended = process.state() == QProcess::NotRunning || process.waitForFinished(5000);
        const qint64 took = clock.elapsed();
        said += QString::fromUtf8(process.readAllStandardError());
        if (!ended) {
            process.kill();
            process.waitForFinished();
            return said + QStringLiteral("\nstill running 5 s after the close");
        }
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return said + QStringLiteral("\nended with %1").arg(process.exitCode());
        return QStringLiteral("ended in %1 ms").arg(took);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
        QFile scenario(m_dir.filePath(QStringLiteral("plant.txt")));
        QVERIFY(scenario.open(QIODevice::WriteOnly));
        scenario.write("line 1\nturnaround 5\ndevice 1 0\ntype 3\nserial 1A01\n");
        scenario.close();
        m_sim.setProgram(QStringLiteral(LORVAN_DEVSIM_PATH));
        m_sim.setArguments({scenario.fileName()});
        m_sim.start();
        QVERIFY(m_sim.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir.filePath(QStringLiteral("ports/COM1"))),
                                 10000);
    }

    void cleanupTestCase()
    {
        m_sim.terminate();
        m_sim.waitForFinished(5000);
    }

    void closeEndsTheProgram_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("closeStep");
        QTest::addColumn<bool>("logsTheRead");
        const QString conf = QStringLiteral(LORVAN_CONF_PATH);
        QTest::newRow("signal during a poll tick") << conf << "poll-signal"
                                                   << "SIGTERM during tick" << true;
        QTest::newRow("exit command during a poll tick") << conf << "poll-exit"
                                                         << "exit during tick" << true;
        QTest::newRow("close during a scan") << conf << "scan-close"
                                             << "close during scan" << false;
        QTest::newRow("test tool closed during its search")
            << QStringLiteral(LORVAN_TOOL_PATH) << "tool-close"
            << "close during search" << false;
    }

    void closeEndsTheProgram()
    {
        QFETCH(QString, program);
        QFETCH(QString, script);
        QFETCH(QString, closeStep);
        QFETCH(bool, logsTheRead);
        const QString report = dataFilePath(QStringLiteral("report.log"));
        QFile::remove(report);

        QString said;
        const QString outcome = runUntilClosed(program, script, qPrintable(closeStep), said);
        QVERIFY2(outcome.startsWith(QLatin1String("ended in")), qPrintable(outcome));
        // Qt's own buttons speak Russian too, under any locale.
        QVERIFY2(said.contains(QStringLiteral("driver: buttons &Да Отмена")), qPrintable(said));
        if (!logsTheRead)
            return;
        // The read of the channel names that the tick was waiting for is in the report.
        QFile log(report);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        QVERIFY2(text.contains(QLatin1String("(0x010B,32)")), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestCloseDuringExchange)
#include "tst_closeduringexchange.moc"
