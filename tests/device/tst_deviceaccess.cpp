#include "device/deviceaccess.h"
#include "device/devicenode.h"
#include "device/registermap.h"
#include "devsim/devicesimulator.h"
#include "link/commport.h"
#include "link/modbuslink.h"

#include <QtTest>

// The logged device operations against simulated regulators on pseudo-terminals: the default
// plant on COM1 (addresses 1, 2, 5 at 115200, 19200, 9600) and a second line on COM3.
class TestDeviceAccess : public QObject
{
    Q_OBJECT

    struct LogLine
    {
        QString text;
        bool failed;
    };

    QTemporaryDir m_dir;
    devsim::DeviceSimulator m_sim;
    CommPort m_port;
    RegisterImages m_images;
    ModbusLink m_link{m_images};
    DeviceNode m_current;
    QList<LogLine> m_log;
    DeviceAccess m_access{m_link, m_port, [this]() -> const DeviceNode & { return m_current; },
                          [this](const QString &line, bool failed) {
                              m_log.append({line, failed});
                          }};

    void selectDevice(int port, int address, int speedCode)
    {
        std::uint8_t ident[18] = {};
        ident[6] = std::uint8_t(address);
        ident[7] = std::uint8_t(speedCode);
        m_current = DeviceNode::found(1, port, ident, QString());
    }

    // The line must start with the time stamp of a moment within the call.
    void verifyLastLine(const QDateTime &before, const QString &tail, bool failed)
    {
        QVERIFY(!m_log.isEmpty());
        const LogLine &l = m_log.last();
        QCOMPARE(l.failed, failed);
        QVERIFY2(l.text.endsWith(tail), qPrintable(l.text));
        const QString stamp = l.text.left(l.text.size() - tail.size());
        const QDateTime after = QDateTime::currentDateTime();
        QVERIFY2(stamp == accessLogStamp(before) || stamp == accessLogStamp(after),
                 qPrintable(stamp));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toLocal8Bit());
        qputenv("LORVAN_PORT_DIR", m_dir.path().toLocal8Bit());
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));

        devsim::Scenario scenario = devsim::defaultScenario();
        devsim::LineSetup line3;
        line3.port = 3;
        devsim::DeviceSetup quick;
        quick.address = 9;
        quick.speedCode = 2;
        quick.serial = 0x0903;
        devsim::DeviceSetup refusing = quick;
        refusing.address = 10;
        refusing.faults.exception = 1;
        refusing.faults.exceptionCode = 4;
        line3.devices = {quick, refusing};
        scenario.lines.append(line3);
        m_sim.load(scenario);
        QString error;
        QVERIFY2(m_sim.start(m_dir.path(), &error), qPrintable(error));
        m_link.Setup(m_port);
    }

    void init()
    {
        m_log.clear();
        m_images = RegisterImages{};
    }

    void stampUsesShortDateAndLongTime()
    {
        const QDateTime t(QDate(2026, 12, 9), QTime(8, 5, 3));
        QCOMPARE(accessLogStamp(t), QStringLiteral("09.12.2026 08:05:03"));
    }

    void logTexts_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("text");
        const int rf = int(AccessKind::ReadFlags), wf = int(AccessKind::WriteFlags),
                  rs = int(AccessKind::ReadSettings), rd = int(AccessKind::ReadData),
                  ws = int(AccessKind::WriteSettings);
        QTest::newRow("identity") << rs << 0 << 0 << 18
                                  << " Чтение регистров настройки  (0x0000,9)";
        QTest::newRow("common block write failed")
            << ws << 999 << 0x936 << 14 << " Ошибка записи регистров настройки: 999 (0x049B,7)";
        QTest::newRow("odd byte") << rs << 0 << 0x79 << 1
                                  << " Чтение регистров настройки  (0x003C,1)";
        QTest::newRow("odd start, even length")
            << rs << 2 << 0x79 << 2 << " Ошибка чтения регистров настройки: 2 (0x003C,2)";
        QTest::newRow("coils") << rf << 0 << 1 << 5 << " Чтение флагов:  (0x0001,5)";
        QTest::newRow("coils failed") << wf << 3 << 4 << 2 << " Ошибка записи флагов: 3 (0x0004,2)";
        QTest::newRow("coils written") << wf << 0 << 0 << 16 << " Запись флагов:  (0x0000,16)";
        QTest::newRow("coils not read")
            << rf << 999 << 1 << 5 << " Ошибка чтения флагов: 999 (0x0001,5)";
        QTest::newRow("live values")
            << rd << 0 << 0 << 16 << " Чтение регистров данных  (0x0000,8)";
        QTest::newRow("archive state failed")
            << rd << 999 << 0x64 << 4 << " Ошибка чтения регистров данных: 999 (0x0032,2)";
        QTest::newRow("settings written")
            << ws << 0 << 0x9FE << 200 << " Запись регистров настройки  (0x04FF,100)";
        QTest::newRow("high register, hex upper case")
            << rs << 0 << 0xD1E << 2 << " Чтение регистров настройки  (0x068F,1)";
    }

    void logTexts()
    {
        QFETCH(int, kind);
        QFETCH(int, result);
        QFETCH(int, position);
        QFETCH(int, length);
        QTEST(
            accessLogText(AccessKind(kind), result, std::uint16_t(position), std::uint16_t(length)),
            "text");
    }

    void readSettingsSwitchesToTheDevice_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("speedCode");
        QTest::addColumn<int>("baud");
        QTest::newRow("COM1 address 2 at 19200") << 1 << 2 << 1 << 19200;
        QTest::newRow("COM1 address 1 at 115200") << 1 << 1 << 4 << 115200;
        QTest::newRow("COM1 address 5 at 9600") << 1 << 5 << 0 << 9600;
        QTest::newRow("COM3 address 9 at 38400") << 3 << 9 << 2 << 38400;
    }

    void readSettingsSwitchesToTheDevice()
    {
        QFETCH(int, port);
        QFETCH(int, address);
        QFETCH(int, speedCode);
        QFETCH(int, baud);
        // Start from a line and speed that would not reach the device.
        m_port.setPortNum(port == 1 ? 3 : 1);
        m_port.setBaudrate(Baudrate::br1200);
        selectDevice(port, address, speedCode);

        const QDateTime before = QDateTime::currentDateTime();
        QCOMPARE(m_access.ReadSettings(regmap::kIdentity, regmap::kIdentityBytes), 0);
        verifyLastLine(before, QStringLiteral(" Чтение регистров настройки  (0x0000,9)"), false);
        QCOMPARE(m_port.PortNum(), port);
        QCOMPARE(baudrateValue(m_port.baudrate()), baud);
        QCOMPARE(int(m_images.holding[6]), address); // the device's own identity came back
        QCOMPARE(int(m_images.holding[7]), speedCode);
        QVERIFY(!m_port.IsOpen());
        QCOMPARE(m_log.size(), 1);
    }

    void unknownSpeedCodeKeepsTheLineSpeed()
    {
        selectDevice(1, 5, 7); // address 5 listens at 9600
        m_port.setBaudrate(Baudrate::br9600);
        QCOMPARE(m_access.ReadSettings(0, 18), 0);
        QCOMPARE(m_port.baudrate(), Baudrate::br9600);

        m_port.setBaudrate(Baudrate::br19200);
        const QDateTime before = QDateTime::currentDateTime();
        QCOMPARE(m_access.ReadSettings(0, 18), 999);
        QCOMPARE(m_port.baudrate(), Baudrate::br19200);
        verifyLastLine(before, QStringLiteral(" Ошибка чтения регистров настройки: 999 (0x0000,9)"),
                       true);
    }

    void flagsRoundTripThroughTheDevice()
    {
        selectDevice(1, 2, 1);
        const std::uint8_t pattern[5] = {1, 0, 1, 1, 0};
        std::copy(std::begin(pattern), std::end(pattern), m_images.coils.begin() + 1);
        QDateTime before = QDateTime::currentDateTime();
        QCOMPARE(m_access.WriteFlags(1, 5), 0);
        verifyLastLine(before, QStringLiteral(" Запись флагов:  (0x0001,5)"), false);
        QVERIFY(m_sim.withDevice(1, 2, [&](devsim::SimDevice &d) {
            for (int i = 0; i < 5; ++i)
                QCOMPARE(d.coil(1 + i), pattern[i] != 0);
        }));

        m_images.coils.fill(0);
        before = QDateTime::currentDateTime();
        QCOMPARE(m_access.ReadFlags(1, 5), 0);
        verifyLastLine(before, QStringLiteral(" Чтение флагов:  (0x0001,5)"), false);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(m_images.coils[1 + i], pattern[i]);
        QCOMPARE(m_images.coils[0], std::uint8_t(0));
        QCOMPARE(m_images.coils[6], std::uint8_t(0));
    }

    void liveValuesAndSettingsWrite()
    {
        selectDevice(3, 9, 2);
        QDateTime before = QDateTime::currentDateTime();
        QCOMPARE(m_access.ReadData(regmap::measuredValue(1), regmap::kMeasuredValuesBytes), 0);
        verifyLastLine(before, QStringLiteral(" Чтение регистров данных  (0x0000,8)"), false);

        // A name written into the device reads back from it.
        QCOMPARE(m_access.ReadSettings(regmap::channelName(1), regmap::kNameBytes), 0);
        const QByteArray name("Zone-9          ");
        std::copy(name.begin(), name.end(), m_images.holding.begin() + regmap::channelName(1));
        before = QDateTime::currentDateTime();
        QCOMPARE(m_access.WriteSettings(regmap::channelName(1), regmap::kNameBytes), 0);
        verifyLastLine(before, QStringLiteral(" Запись регистров настройки  (0x010B,8)"), false);
        QVERIFY(m_sim.withDevice(3, 9, [&](devsim::SimDevice &d) {
            QCOMPARE(d.holding().mid(regmap::channelName(1), 16), name);
        }));
        QCOMPARE(m_log.size(), 3);
    }

    void failuresAreLoggedWithTheirCode()
    {
        selectDevice(3, 10, 2); // answers every request with exception 4
        QDateTime before = QDateTime::currentDateTime();
        QCOMPARE(m_access.ReadSettings(0, 18), 4);
        verifyLastLine(before, QStringLiteral(" Ошибка чтения регистров настройки: 4 (0x0000,9)"),
                       true);
        QCOMPARE(int(m_images.holding[6]), 0); // image untouched

        selectDevice(3, 11, 2); // nobody at this address
        before = QDateTime::currentDateTime();
        QCOMPARE(m_access.WriteSettings(regmap::kCommonBlock, regmap::kCommonBlockBytes), 999);
        verifyLastLine(before, QStringLiteral(" Ошибка записи регистров настройки: 999 (0x049B,7)"),
                       true);
    }

    void openPortIsReopenedOnTheDevicesLine()
    {
        // The flag and holding reads close an open port for the switch and reopen it.
        selectDevice(1, 2, 1);
        m_port.setPortNum(3);
        m_port.Open();
        QVERIFY(m_port.IsOpen());
        QCOMPARE(m_access.ReadFlags(0, 16), 0);
        QCOMPARE(m_port.PortNum(), 1);
        QVERIFY(!m_port.IsOpen()); // the exchange closes it as always

        // The others rely on a closed port; an open one refuses the switch.
        m_port.setPortNum(3);
        m_port.Open();
        m_log.clear();
        QVERIFY_THROWS_EXCEPTION(PortError, m_access.ReadData(0, 16));
        QVERIFY(m_log.isEmpty());
        m_port.Close();
    }
};

QTEST_GUILESS_MAIN(TestDeviceAccess)
#include "tst_deviceaccess.moc"
