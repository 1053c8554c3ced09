// The serial port object on a real pseudo-terminal.

#include "link/commport.h"
#include "platform/pumpedwait.h"
#include "support/ptyresponder.h"

#include <QtTest>

#include <cerrno>
#include <cstring>

class TestCommPort : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toLocal8Bit());
        qputenv("LORVAN_PORT_DIR", m_dir.path().toLocal8Bit());
    }

    void speedCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("rate");
        QTest::newRow("0") << 0 << 9600;
        QTest::newRow("1") << 1 << 19200;
        QTest::newRow("2") << 2 << 38400;
        QTest::newRow("3") << 3 << 57600;
        QTest::newRow("4") << 4 << 115200;
        QTest::newRow("5 unknown") << 5 << 0;
        QTest::newRow("255 unknown") << 255 << 0;
        QTest::newRow("-1 unknown") << -1 << 0;
    }
    void speedCodes()
    {
        QFETCH(int, code);
        QFETCH(int, rate);
        const auto setting = baudrateForSpeedCode(code);
        QCOMPARE(setting ? baudrateValue(*setting) : 0, rate);
    }

    void openUseAndClose()
    {
        PtyResponder peer(m_dir.filePath("COM2"));
        CommPort port;
        port.setPortNum(2);
        port.setStopbits(Stopbits::sb2);
        port.setBaudrate(Baudrate::br57600);
        QVERIFY(!port.IsOpen());
        QVERIFY(!port.WriteText("lost\r\n")); // closed: refused, nothing sent
        port.Open();
        QVERIFY(port.IsOpen());
        QCOMPARE(peer.lineSpeed(), 57600);
        QVERIFY_THROWS_EXCEPTION(PortError, port.Open());

        // Nothing received: a read returns at once with nothing.
        char buf[16];
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(port.ReadAvailable(buf, sizeof buf), 0);
        QVERIFY(clock.elapsed() < 100);

        // A speed change on the open line takes effect at once.
        port.setBaudrate(Baudrate::br115200);
        QCOMPARE(peer.lineSpeed(), 115200);

        QVERIFY(port.WriteText("ping\r\n"));
        QVERIFY(peer.waitForRequests(0, 0));
        for (int i = 0; i < 50 && peer.requests().isEmpty(); ++i)
            DelayPumping(10); // queued writes leave while the event loop runs
        QCOMPARE(peer.requests(), QList<QByteArray>{"ping\r\n"});

        port.SetRts(true); // a pseudo-terminal has no RTS: skipped, no error
        port.SetRts(false);
        port.Close();
        QVERIFY(!port.IsOpen());
        port.Close(); // no effect when closed
    }

    void settingsRefusedWhileOpen()
    {
        PtyResponder peer(m_dir.filePath("COM1"));
        CommPort port;
        port.Open();
        try {
            port.setPortNum(3);
            QFAIL("port number changed while open");
        } catch (const PortError &e) {
            QCOMPARE(e.message(),
                     QStringLiteral("Can't perform this operation while port is open"));
        }
        QCOMPARE(port.PortNum(), 1);
        QVERIFY(port.IsOpen());
        QVERIFY_THROWS_EXCEPTION(PortError, port.setDeviceName(QStringLiteral("/dev/null")));
        QVERIFY(port.WriteText("still\r\n"));
    }

    void directWriteIsAwaited()
    {
        PtyResponder peer(m_dir.filePath("COM1"));
        CommPort port;
        port.setDirectWrite(true);
        port.Open();
        QVERIFY(port.WriteText(":00\r\n"));
        QVERIFY(peer.waitForRequests(1, 1000)); // no event loop needed
    }

    void missingDevice()
    {
        CommPort port;
        port.setPortNum(7);
        try {
            port.Open();
            QFAIL("opened a missing device");
        } catch (const PortError &e) {
            QCOMPARE(e.message(), QStringLiteral("Specified device not found (COM7)."));
        }
        QVERIFY(!port.IsOpen());
        QCOMPARE(port.lastOpenProblem().kind, PortProblem::Missing);
        QCOMPARE(port.lastOpenProblem().path, m_dir.filePath("COM7"));
    }

    void openIsExclusive()
    {
        PtyResponder peer(m_dir.filePath("COM1"));
        CommPort first;
        first.Open();
        CommPort second;
        try {
            second.Open();
            QFAIL("opened twice");
        } catch (const PortError &e) {
            // The system's own number and text for the lock that failed, not a stale errno.
            QCOMPARE(e.message(), QStringLiteral("Can't open specified device COM1 (Error %1, %2)")
                                      .arg(EWOULDBLOCK)
                                      .arg(QString::fromLocal8Bit(strerror(EWOULDBLOCK))));
        }
        QVERIFY(!second.IsOpen());
        // The holder is found by its lock in the kernel's table, here this very process.
        const PortProblem busy = second.lastOpenProblem();
        QCOMPARE(busy.kind, PortProblem::Busy);
        QVERIFY2(busy.holder.endsWith(
                     QStringLiteral("процесс %1").arg(QCoreApplication::applicationPid())),
                 qPrintable(busy.holder));
        first.Close();
        second.Open();
        QVERIFY(second.IsOpen());
        QCOMPARE(second.lastOpenProblem().kind, PortProblem::None);
    }

    void openFailuresNameTheSystemError_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("kind");
        QTest::newRow("a folder") << "folder" << EISDIR << int(PortProblem::Other);
        QTest::newRow("a plain file") << "plain" << ENOTTY << int(PortProblem::NotSerial);
    }
    void openFailuresNameTheSystemError()
    {
        QFETCH(QString, name);
        QFETCH(int, error);
        QFETCH(int, kind);
        QVERIFY(QDir(m_dir.path()).mkpath("folder"));
        QFile plain(m_dir.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        CommPort port;
        port.setDeviceName(m_dir.filePath(name));
        try {
            port.Open();
            QFAIL("opened");
        } catch (const PortError &e) {
            QCOMPARE(e.message(), QStringLiteral("Can't open specified device %1 (Error %2, %3)")
                                      .arg(m_dir.filePath(name))
                                      .arg(error)
                                      .arg(QString::fromLocal8Bit(strerror(error))));
        }
        QVERIFY(!port.IsOpen());
        QCOMPARE(int(port.lastOpenProblem().kind), kind);
    }

    void rtsInHandshakeModeIsRefused()
    {
        PtyResponder peer(m_dir.filePath("COM1"));
        CommPort port;
        FlowControl flow;
        flow.ControlRts = RtsControl::rtsToggle;
        port.setFlowControl(flow);
        port.Open();
        try {
            port.SetRts(true);
            QFAIL("RTS changed in toggle mode");
        } catch (const PortError &e) {
            QCOMPARE(e.message(),
                     QStringLiteral("RTS line updates not allowed when flowcontrol is set to "
                                    "Handshake or Toggle."));
        }
    }

    void explicitDevicePath()
    {
        PtyResponder peer(m_dir.filePath("line-a"));
        CommPort port;
        port.setDeviceName(m_dir.filePath("line-a"));
        QCOMPARE(port.devicePath(), m_dir.filePath("line-a"));
        port.Open();
        QVERIFY(port.IsOpen());
        port.Close();

        // A relative path names the file from the working directory.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        port.setDeviceName(QStringLiteral("line-a"));
        bool opened = false;
        try {
            port.Open();
            opened = port.IsOpen();
        } catch (const PortError &) {
        }
        QDir::setCurrent(before);
        QVERIFY(opened);
    }
};

QTEST_GUILESS_MAIN(TestCommPort)
#include "tst_commport.moc"
