#include "tests/support/workstationtestenv.h"

#include "platform/datafolder.h"
#include "session/namedobjects.h"
#include "workstation/application.h"

#include <QProcess>
#include <QtTest>

#include <unistd.h>

// One running copy per user: the real program started twice, and a copy that died.
class TestSingleInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_program = QStringLiteral(LORVAN_CONF_PATH);

    QString lockPath() const { return SingleInstanceEvent().path(); }

    void startFirst(QProcess &process)
    {
        process.setProgram(m_program);
        process.start();
        QVERIFY(process.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lockPath()), 10000);
    }

    // Starts a copy whose messages go to its standard error.
    void runSecond(QProcess &process)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LORVAN_MESSAGES"), QStringLiteral("console"));
        process.setProcessEnvironment(env);
        process.setProgram(m_program);
        process.start();
        QVERIFY(process.waitForStarted(10000));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
        QVERIFY(QFileInfo::exists(m_program));
    }

    void theMarkIsHeldOnce()
    {
        SingleInstanceEvent first(QStringLiteral("LorvanEventUnit"));
        SingleInstanceEvent second(QStringLiteral("LorvanEventUnit"));
        QVERIFY(first.create());
        QVERIFY(first.create()); // already held by this copy
        QVERIFY(!second.create());
        first.close();
        QVERIFY(second.create());
        QVERIFY(second.isHeld());
    }

    // Whatever a crash, an older version or somebody's editor left in the file, only a live
    // holder of the lock keeps a copy out.
    void onlyALiveHolderBlocks_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("heldElsewhere");
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("junk") << QByteArray("\xff\x00junk\n", 7) << false;
        QTest::newRow("dead process") << QByteArray("2147483000\nLorvanConf\nhost\n") << false;
        QTest::newRow("another live program") << QByteArray("1\ninit\n") << false;
        QTest::newRow("held by a live process") << QByteArray() << true;
    }

    void onlyALiveHolderBlocks()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, heldElsewhere);
        SingleInstanceEvent mark(QStringLiteral("LorvanEventRows"));
        QFile file(mark.path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        QProcess holder;
        if (heldElsewhere) {
            // Holds the lock until its input closes.
            holder.start(QStringLiteral("flock"),
                         {QStringLiteral("-x"), mark.path(), QStringLiteral("cat")});
            QVERIFY(holder.waitForStarted(5000));
            QTest::qWait(300);
        }
        QCOMPARE(mark.create(), !heldElsewhere);
        if (heldElsewhere) {
            holder.closeWriteChannel();
            QVERIFY(holder.waitForFinished(5000));
            QVERIFY(mark.create()); // the holder's death frees it
        }
        mark.close();
        QVERIFY(!QFile::exists(mark.path()));
    }

    // Without a private runtime folder the mark goes where only this user writes, never into
    // the shared temporary folder where another user could plant it.
    void theMarkStaysInAFolderOfTheUser()
    {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const QString shared = m_dir.filePath(QStringLiteral("shared"));
        QDir().mkpath(shared);
        QFile::setPermissions(shared, QFileDevice::Permissions(0x7777));
        for (const QByteArray &value : {QByteArray(), QFile::encodeName(shared)}) {
            if (value.isEmpty())
                qunsetenv("XDG_RUNTIME_DIR");
            else
                qputenv("XDG_RUNTIME_DIR", value);
            const QString folder = SingleInstanceEvent::lockFolder();
            QVERIFY2(!folder.startsWith(shared) && !folder.startsWith(QDir::tempPath()),
                     qPrintable(folder));
            QCOMPARE(QFileInfo(folder).ownerId(), uint(::geteuid()));
            QCOMPARE(QFile::permissions(folder) &
                         (QFileDevice::WriteGroup | QFileDevice::WriteOther),
                     QFileDevice::Permissions());
        }
        qputenv("XDG_RUNTIME_DIR", runtime);
        QCOMPARE(SingleInstanceEvent::lockFolder(), QString::fromLocal8Bit(runtime));
    }

    void aSecondCopyIsRefused()
    {
        QFile::remove(dataFilePath(QStringLiteral("report.log")));
        QProcess first;
        startFirst(first);

        QProcess second;
        runSecond(second);
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        const QString said = QString::fromUtf8(second.readAllStandardError());
        const QString expected = QStringLiteral("Невозможно запустить программу: ") +
                                 secondCopyText(QFileInfo(m_program).canonicalFilePath());
        QVERIFY2(said.contains(expected), qPrintable(said));

        // The first copy runs on, undisturbed, and still closes in order when told to stop.
        QTest::qWait(200);
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(QFile::exists(dataFilePath(QStringLiteral("report.log"))));
        QVERIFY(!QFile::exists(lockPath()));
    }

    void aCrashedCopyDoesNotBlockTheNext()
    {
        QProcess crashed;
        startFirst(crashed);
        crashed.kill();
        QVERIFY(crashed.waitForFinished(10000));
        QVERIFY(QFile::exists(lockPath())); // left behind

        QProcess next;
        runSecond(next);
        QTest::qWait(1500);
        QCOMPARE(next.state(), QProcess::Running);
        QVERIFY(!QString::fromUtf8(next.readAllStandardError())
                     .contains(QStringLiteral("вторая копия")));
        next.terminate();
        QVERIFY(next.waitForFinished(10000));
        QCOMPARE(next.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
