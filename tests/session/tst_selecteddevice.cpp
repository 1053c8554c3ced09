#include "device/registermap.h"
#include "devsim/devicesimulator.h"
#include "platform/clock.h"
#include "session/session.h"

#include <QtTest>

// The settings windows' door to the selected device, against a simulated one and without any
// widget: which operations leave a line in the message log, and moving the device to another
// address or line speed with the configurator following it.
class TestSelectedDevice : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<devsim::DeviceSimulator> m_sim;
    std::unique_ptr<Session> m_session;
    int m_logLines = 0;

    SelectedDevice &device() { return m_session->selected(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("LORVAN_PORT_DIR", QFile::encodeName(m_dir.filePath("ports")));
    }

    void init()
    {
        devsim::DeviceSetup d;
        d.address = 5;
        d.speedCode = 0;
        devsim::LineSetup line;
        line.devices = {d};
        devsim::Scenario s;
        s.lines = {line};
        m_sim = std::make_unique<devsim::DeviceSimulator>();
        m_sim->load(s);
        QString error;
        QVERIFY2(m_sim->start(m_dir.filePath("ports"), &error), qPrintable(error));
        m_session = std::make_unique<Session>(systemClock());
        DeviceNode node;
        node.setPortNumber(1);
        node.identity()[6] = 5;
        m_session->selected().select(0, node);
        m_logLines = 0;
        connect(m_session.get(), &Session::logLine, this, [this] { ++m_logLines; });
    }

    void cleanup()
    {
        m_session.reset();
        m_sim.reset();
    }

    // Settings reads and writes are logged; live values, archive records and the archive's
    // coils go quietly.
    void logLines_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<int>("lines");
        QTest::newRow("holding block") << 0 << 1;
        QTest::newRow("inputs") << 1 << 1;
        QTest::newRow("inputs, quiet") << 2 << 0;
        QTest::newRow("coils") << 3 << 1;
        QTest::newRow("coils, quiet") << 4 << 0;
        QTest::newRow("coil written") << 5 << 1;
        QTest::newRow("coils written, quiet") << 6 << 0;
        QTest::newRow("discrete inputs") << 7 << 0;
        QTest::newRow("input registers") << 8 << 0;
    }
    void logLines()
    {
        QFETCH(int, operation);
        QFETCH(int, lines);
        using Log = SelectedDevice::Log;
        std::array<std::uint16_t, 6> words{};
        const std::function<int()> operations[] = {
            [&] {
                return device().readHolding({regmap::kCommonBlock, regmap::kCommonBlockBytes});
            },
            [&] { return device().readInputs(0, 16); },
            [&] { return device().readInputs(0, 16, Log::Quiet); },
            [&] { return device().readCoils(1, 5); },
            [&] { return device().readCoils(1, 5, Log::Quiet); },
            [&] { return device().writeCoils(1, 1); },
            [&] { return device().writeCoils(1, 5, Log::Quiet); },
            [&] { return device().readDiscreteInputs(regmap::kAlarmStates, 8); },
            [&] { return device().readInputRegisters(52, words); },
        };
        QCOMPARE(operations[operation](), 0);
        QCOMPARE(m_logLines, lines);
    }

    // A new address or line speed: the device answers there, and the configurator follows it.
    void moves_data()
    {
        QTest::addColumn<bool>("address");
        QTest::newRow("address 9") << true;
        QTest::newRow("115200") << false;
    }
    void moves()
    {
        QFETCH(bool, address);
        const int result = address ? device().moveToAddress(9) : device().moveToSpeedCode(4);
        QCOMPARE(result, 0);
        QCOMPARE(int(device().record().address()), address ? 9 : 5);
        QCOMPARE(device().record().speedCode(), address ? 0 : 4);
        QCOMPARE(m_session->selected().key(), (DeviceKey{1, address ? 9 : 5}));
        QCOMPARE(device().readHolding({regmap::kIdentity, regmap::kIdentityBytes}), 0);
        QCOMPARE(int(device().holding()[6]), address ? 9 : 5);
        QCOMPARE(int(device().holding()[7]), address ? 0 : 4);
    }
};

QTEST_GUILESS_MAIN(TestSelectedDevice)
#include "tst_selecteddevice.moc"
