// The configurator's transactions (8N2) and the test tool's link (8N1), in process, against
// pymodbus's MODBUS ASCII slave on a pseudo-terminal: no framing code of ours on the far side.

#include "link/commport.h"
#include "link/modbuslink.h"
#include "link/testtoollink.h"

#include <QProcess>
#include <QtTest>

class TestPeerLink : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_slave;
    QStringList m_requests; // "request <speed> <stop bits>" lines as the slave saw them

    // Lines from the slave until one starts with prefix; the requests among them are kept.
    QString waitFor(const QString &prefix)
    {
        for (int waited = 0; waited < 20000;) {
            while (m_slave.canReadLine()) {
                const QString line = QString::fromUtf8(m_slave.readLine()).trimmed();
                if (line.startsWith(QLatin1String("request ")))
                    m_requests.append(line);
                if (line.startsWith(prefix))
                    return line;
            }
            if (!m_slave.waitForReadyRead(200))
                waited += 200;
        }
        return {};
    }

    void tell(const QByteArray &command)
    {
        m_slave.write(command + '\n');
        m_slave.waitForBytesWritten(2000);
    }

    // The slave store's numbers: function 3 holding, 4 input, 1 coils, 2 discrete inputs.
    QList<int> storeValues(int function, int first, int count)
    {
        tell(QStringLiteral("get %1 %2 %3").arg(function).arg(first).arg(count).toLatin1());
        QList<int> values;
        for (const QString &v : waitFor(QStringLiteral("values")).split(' ').mid(1))
            values.append(v.toInt());
        return values;
    }

    // The slave's view of the line for the last request: speed and stop bits.
    QString lastLine()
    {
        tell("get 3 0 1");
        waitFor(QStringLiteral("values"));
        return m_requests.value(m_requests.size() - 1);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toLocal8Bit());
        qputenv("LORVAN_PORT_DIR", m_dir.path().toLocal8Bit());
        m_slave.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_slave.start(QStringLiteral(LORVAN_PYTHON),
                      {QStringLiteral(LORVAN_PYMODBUS_SLAVE), m_dir.filePath("COM1")});
        QVERIFY2(!waitFor(QStringLiteral("ready")).isEmpty(), "pymodbus slave did not start");
    }

    void cleanupTestCase()
    {
        m_slave.closeWriteChannel();
        if (!m_slave.waitForFinished(5000))
            m_slave.kill();
    }

    void configuratorTransactions()
    {
        CommPort port;
        RegisterImages images;
        ModbusLink link(images);
        link.Setup(port);
        port.setBaudrate(Baudrate::br19200);

        // Four hundred registers each way: sixteen requests of 25.
        QCOMPARE(link.ReadHoldingRegisters(1, 0, 800), 0);
        for (int r = 0; r < 400; ++r) {
            const int v = (0x4000 + 3 * r) & 0xFFFF;
            QCOMPARE(images.holding[2 * r], std::uint8_t(v >> 8));
            QCOMPARE(images.holding[2 * r + 1], std::uint8_t(v & 0xFF));
        }
        QCOMPARE(lastLine(), QStringLiteral("request 19200 2"));
        QList<int> written;
        for (int r = 600; r < 1000; ++r) {
            const int v = (0x9000 + 11 * r) & 0xFFFF;
            images.holding[2 * r] = std::uint8_t(v >> 8);
            images.holding[2 * r + 1] = std::uint8_t(v & 0xFF);
            written.append(v);
        }
        const qsizetype before = m_requests.size();
        QCOMPARE(link.WriteHoldingRegisters(1, 1200, 800), 0);
        QCOMPARE(storeValues(3, 600, 400), written);
        QCOMPARE(m_requests.size() - before, 16);

        QCOMPARE(link.ReadInputRegisters(1, 0, 8), 0);
        QCOMPARE(images.input[0], std::uint8_t(0x20));
        QCOMPARE(images.input[7], std::uint8_t(0x03));
        std::array<std::uint16_t, 4> block{};
        QCOMPARE(link.ReadInputRegisterBlock(1, 40, 4, block), 0);
        // Words in device memory order: first wire byte + 256 * second.
        QCOMPARE(block[0], std::uint16_t(0x2820));
        QCOMPARE(block[3], std::uint16_t(0x2B20));

        QCOMPARE(link.ReadDiscreteInputs(1, 0, 24), 0);
        QCOMPARE(link.ReadCoils(1, 0, 16), 0);
        for (int i = 0; i < 24; ++i)
            QCOMPARE(images.discrete[i] != 0, i % 3 == 0);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(images.coils[i] != 0, i % 2 == 1);
        for (int i = 0; i < 16; ++i)
            images.coils[i] = i % 5 == 0;
        QCOMPARE(link.WriteCoils(1, 0, 16), 0);
        const QList<int> coils = storeValues(1, 0, 16);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(coils.value(i) != 0, i % 5 == 0);

        // An exception reply, then a silent slave: the image stays as it was.
        images.holding.fill(0xEE);
        QCOMPARE(link.ReadHoldingRegisters(17, 380, 40), 2);
        tell("mute");
        QCOMPARE(link.ReadHoldingRegisters(1, 0, 50), 999);
        QCOMPARE(link.WriteHoldingRegisters(1, 0, 50), 999);
        tell("speak");
        for (std::uint8_t b : images.holding)
            QCOMPARE(b, std::uint8_t(0xEE));
        QCOMPARE(link.ReadHoldingRegisters(1, 0, 2), 0);
        QVERIFY(!port.IsOpen());
    }

    void testToolLink()
    {
        CommPort port;
        TestToolLink tool;
        tool.Setup(port);
        QCOMPARE(tool.Read(1, 10, 3), 0);
        QCOMPARE(tool.values[0], std::uint16_t(0x4000 + 30));
        QCOMPARE(tool.values[2], std::uint16_t(0x4000 + 36));
        QCOMPARE(lastLine(), QStringLiteral("request 19200 1"));
        tool.values[0] = 0xBEEF;
        tool.values[1] = 0x0102;
        QCOMPARE(tool.Write(1, 1500, 2), 0);
        QCOMPARE(storeValues(3, 1500, 2), (QList<int>{0xBEEF, 0x0102}));
        QCOMPARE(tool.Read(17, 199, 5), 2);
        tell("mute");
        QCOMPARE(tool.Read(1, 0, 1), 999);
        tell("speak");
        QVERIFY(!port.IsOpen());
    }
};

QTEST_GUILESS_MAIN(TestPeerLink)
#include "tst_peerlink.moc"
