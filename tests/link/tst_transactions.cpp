// The configurator's and the test tool's transactions against a scripted peer on a real
// pseudo-terminal: what goes on the wire, and what lands in the images.

#include "device/commonblock.h"
#include "device/imagefields.h"
#include "link/commport.h"
#include "link/modbuslink.h"
#include "link/testtoollink.h"
#include "support/ptyresponder.h"

#include <QtTest>

#include <chrono>
#include <cmath>
#include <sys/resource.h>

Q_DECLARE_METATYPE(PtyResponder::Piece)
Q_DECLARE_METATYPE(PtyResponder::Reply)

namespace {

// Register r's two bytes as the peer sends them: distinct for every register.
QByteArray registerBytes(int r)
{
    return QByteArray(1, char(r & 0xFF)) + QByteArray(1, char(0x80 | ((r >> 8) & 0x7F)));
}

// Answers reads of registers with registerBytes and writes with the echo of their header.
PtyResponder::Reply answerNormally(const QByteArray &request)
{
    const QByteArray req = frameBytes(request);
    if (req.size() < 6)
        return {};
    const int function = std::uint8_t(req[1]);
    const int start = std::uint8_t(req[2]) * 256 + std::uint8_t(req[3]);
    const int count = std::uint8_t(req[4]) * 256 + std::uint8_t(req[5]);
    if (function == 3 || function == 4) {
        QByteArray reply = req.left(2) + char(2 * count);
        for (int r = start; r < start + count; ++r)
            reply += registerBytes(r);
        return {{asciiFrame(reply), 0}};
    }
    if (function == 15 || function == 16)
        return {{asciiFrame(req.left(6)), 0}};
    return {};
}

// reply as a device sends it at the line's pace: it starts once the request has crossed the line
// and the device has turned round, and each character takes charMs.
PtyResponder::Reply pacedReply(const QByteArray &reply, int requestChars, double charMs,
                               int turnaroundMs)
{
    constexpr int kPiece = 16;
    PtyResponder::Reply pieces;
    double due = requestChars * charMs + turnaroundMs;
    int sentAt = 0;
    for (qsizetype i = 0; i < reply.size(); i += kPiece) {
        const QByteArray piece = reply.mid(i, kPiece);
        due += piece.size() * charMs;
        const int at = int(std::ceil(due));
        pieces.append({piece, at - sentAt});
        sentAt = at;
    }
    return pieces;
}

// The real port, with the moments of the write and of RTS falling noted.
class TimedPort : public LinkPort
{
public:
    explicit TimedPort(CommPort &port) : m_port(port) {}
    void Open() override { m_port.Open(); }
    void Close() override { m_port.Close(); }
    bool IsOpen() const override { return m_port.IsOpen(); }
    void Purge() override { m_port.Purge(); }
    bool WriteText(const QByteArray &text) override
    {
        writeStarted = std::chrono::steady_clock::now();
        return m_port.WriteText(text);
    }
    int ReadAvailable(char *buffer, int maxCount) override
    {
        return m_port.ReadAvailable(buffer, maxCount);
    }
    QByteArray ReadAllWaiting() override { return m_port.ReadAllWaiting(); }
    void SetRts(bool on) override
    {
        m_port.SetRts(on);
        if (!on)
            rtsFell = std::chrono::steady_clock::now();
    }
    void DrainOutput() override { m_port.DrainOutput(); }
    double characterMs() const override { return m_port.characterMs(); }

    std::chrono::steady_clock::time_point writeStarted;
    std::chrono::steady_clock::time_point rtsFell;

private:
    CommPort &m_port;
};

double msBetween(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double cpuSeconds()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestTransactions : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<PtyResponder> m_peer;
    std::unique_ptr<CommPort> m_port;
    RegisterImages m_images;
    std::unique_ptr<ModbusLink> m_link;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toLocal8Bit());
        qputenv("LORVAN_PORT_DIR", m_dir.path().toLocal8Bit());
    }

    void init()
    {
        m_peer = std::make_unique<PtyResponder>(m_dir.filePath("COM1"));
        m_port = std::make_unique<CommPort>();
        m_images = RegisterImages{};
        m_link = std::make_unique<ModbusLink>(m_images);
        m_link->Setup(*m_port);
    }

    void cleanup()
    {
        m_link.reset();
        m_port.reset();
        m_peer.reset();
    }

    void programsAreReadInFourChunks()
    {
        m_peer->setAnswer(answerNormally);
        QCOMPARE(m_link->ReadHoldingRegisters(1, 0x9FE, 200), 0);
        const QList<QByteArray> requests = m_peer->requests();
        QCOMPARE(requests.size(), 4);
        const int starts[] = {1279, 1304, 1329, 1354};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(requests[i], asciiFrame({1, 3, starts[i] >> 8, starts[i] & 0xFF, 0, 25}));
        for (int r = 1279; r < 1379; ++r)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(&m_images.holding[2 * r]), 2),
                     registerBytes(r));
        QCOMPARE(m_images.holding[0x9FD], std::uint8_t(0)); // nothing before the block
        QCOMPARE(m_peer->requestSpeeds(), QList<int>(4, 9600));
        QVERIFY(!m_port->IsOpen());
    }

    void oddPositionReadsTheWholeRegister()
    {
        m_peer->setAnswer(answerNormally);
        QCOMPARE(m_link->ReadHoldingRegisters(1, 0x79, 1), 0);
        QCOMPARE(m_peer->requests(), QList<QByteArray>{asciiFrame({1, 3, 0, 60, 0, 1})});
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&m_images.holding[0x78]), 2),
                 registerBytes(60));
    }

    void commonBlockGoesOutInOneWrite()
    {
        m_peer->setAnswer(answerNormally);
        for (int i = 0; i < 14; ++i)
            m_images.holding[0x936 + i] = std::uint8_t(0x40 + i);
        field::setU16(m_images.holding, 0x93A, 0x1234);
        QCOMPARE(m_link->WriteHoldingRegisters(7, 0x936, 14), 0);
        const QList<QByteArray> requests = m_peer->requests();
        QCOMPARE(requests.size(), 1);
        const QByteArray req = frameBytes(requests[0]);
        QCOMPARE(req.left(7), QByteArray("\x07\x10\x04\x9B\x00\x07\x0E", 7));
        QCOMPARE(req.size(), 7 + 14);
        // Register 1181 carries the field's low byte first.
        QCOMPARE(std::uint8_t(req[7 + 4]), std::uint8_t(0x34));
        QCOMPARE(std::uint8_t(req[7 + 5]), std::uint8_t(0x12));
        QCOMPARE(std::uint8_t(req[7 + 13]), std::uint8_t(0x4D));
    }

    void updateCommonBlockWritesShadowFirst()
    {
        m_peer->setAnswer(answerNormally);
        m_images.holding[0x936 + 3] = 0x11; // another editor's byte, carried as it stands
        const auto writes = UpdateCommonBlock(m_images, [&](std::uint16_t pos, std::uint16_t len) {
            return m_link->WriteHoldingRegisters(1, pos, len);
        });
        QVERIFY(writes.ok());
        const QList<QByteArray> requests = m_peer->requests();
        QCOMPARE(requests.size(), 2);
        const QByteArray shadow = frameBytes(requests[0]);
        const QByteArray block = frameBytes(requests[1]);
        QCOMPARE(shadow.mid(2, 2), QByteArray("\x04\xCD", 2)); // register 1229
        QCOMPARE(block.mid(2, 2), QByteArray("\x04\x9B", 2));  // register 1179
        QCOMPARE(shadow.mid(7), block.mid(7));
        QCOMPARE(std::uint8_t(block[7 + 3]), std::uint8_t(0x11));
    }

    void exceptionReplyLeavesImageUnchanged()
    {
        m_peer->queueReply(asciiFrame({1, 0x83, 2}));
        std::fill(m_images.holding.begin() + 0x78, m_images.holding.begin() + 0x8A, 0xEE);
        QCOMPARE(m_link->ReadHoldingRegisters(1, 0x78, 18), 2);
        for (int i = 0x78; i < 0x8A; ++i)
            QCOMPARE(m_images.holding[i], std::uint8_t(0xEE));
        QCOMPARE(m_link->replyText(), asciiFrame({1, 0x83, 2}));
    }

    void badReplies_data()
    {
        QTest::addColumn<PtyResponder::Reply>("reply");
        QTest::addColumn<int>("result");
        const QByteArray good = asciiFrame({1, 3, 4, 0xA1, 0xA2, 0xA3, 0xA4});
        QByteArray wrongLrc = good;
        wrongLrc[wrongLrc.size() - 3] = wrongLrc[wrongLrc.size() - 3] == '0' ? '1' : '0';
        QTest::newRow("good") << PtyResponder::Reply{{good, 0}} << 0;
        QTest::newRow("lower case")
            << PtyResponder::Reply{{asciiFrame({1, 3, 4, 0xA1, 0xA2, 0xA3, 0xA4}, true), 0}} << 0;
        QTest::newRow("in pieces with gaps")
            << PtyResponder::Reply{{good.left(3), 0}, {good.mid(3, 6), 40}, {good.mid(9), 40}} << 0;
        QTest::newRow("wrong LRC") << PtyResponder::Reply{{wrongLrc, 0}} << 999;
        QTest::newRow("no CR LF") << PtyResponder::Reply{{good.chopped(2), 0}} << 999;
        QTest::newRow("silence") << PtyResponder::Reply{} << 999;
        QTest::newRow("short data, good LRC")
            << PtyResponder::Reply{{asciiFrame({1, 3, 4, 0xA1, 0xA2}), 0}} << 999;
        QTest::newRow("CR LF after the last pass")
            << PtyResponder::Reply{{good.chopped(2), 0}, {"\r\n", 600}} << 999;
        QTest::newRow("noise") << PtyResponder::Reply{{"\x7F\x01garbage\r\n", 0}} << 999;
    }
    void badReplies()
    {
        QFETCH(PtyResponder::Reply, reply);
        QFETCH(int, result);
        m_peer->queueReply(reply);
        std::fill(m_images.holding.begin(), m_images.holding.begin() + 4, 0xEE);
        QCOMPARE(m_link->ReadHoldingRegisters(1, 0, 4), result);
        const QByteArray expected =
            result == 0 ? QByteArray("\xA1\xA2\xA3\xA4") : QByteArray(4, '\xEE');
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(m_images.holding.data()), 4), expected);
        QVERIFY(!m_port->IsOpen());
    }

    // Every chunk is tried; the first failure among them is the transaction's result.
    void chunkResults_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<QList<int>>("chunks"); // -1: silence, 0: good, n: exception n
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("requests");
        QTest::newRow("read, all good") << false << QList<int>{0, 0} << 0 << 2;
        QTest::newRow("read, first silent") << false << QList<int>{-1, 0} << 999 << 2;
        QTest::newRow("read, first exception") << false << QList<int>{2, 0} << 2 << 2;
        QTest::newRow("read, last silent") << false << QList<int>{0, -1} << 999 << 2;
        QTest::newRow("read, exception then silence") << false << QList<int>{3, -1} << 3 << 2;
        QTest::newRow("write, first exception") << true << QList<int>{2, 0} << 2 << 2;
        QTest::newRow("write, exception then silence") << true << QList<int>{4, -1} << 4 << 2;
        QTest::newRow("write, first silent stops") << true << QList<int>{-1, 0} << 999 << 1;
        QTest::newRow("write, last exception") << true << QList<int>{0, 6} << 6 << 2;
    }
    void chunkResults()
    {
        QFETCH(bool, write);
        QFETCH(QList<int>, chunks);
        QFETCH(int, result);
        QFETCH(int, requests);
        const int function = write ? 16 : 3;
        // Good chunks are answered from the request itself.
        auto next = std::make_shared<int>(0);
        m_peer->setAnswer([chunks, function, next](const QByteArray &request) {
            const int chunk = chunks.value((*next)++, -1);
            if (chunk < 0)
                return PtyResponder::Reply{};
            if (chunk > 0)
                return PtyResponder::Reply{{asciiFrame({1, 0x80 | function, chunk}), 0}};
            return answerNormally(request);
        });
        m_images.holding.fill(0xEE);
        const int got = write ? m_link->WriteHoldingRegisters(1, 0, 60)
                              : m_link->ReadHoldingRegisters(1, 0, 60);
        QCOMPARE(got, result);
        QCOMPARE(m_peer->requests().size(), requests);
        if (!write) {
            // What could be read is in the image; a failed chunk left its part alone.
            const QByteArray first(reinterpret_cast<const char *>(&m_images.holding[0]), 2);
            const QByteArray last(reinterpret_cast<const char *>(&m_images.holding[50]), 2);
            QCOMPARE(first, chunks[0] == 0 ? registerBytes(0) : QByteArray(2, '\xEE'));
            QCOMPARE(last, chunks[1] == 0 ? registerBytes(25) : QByteArray(2, '\xEE'));
        }
    }

    // A full chunk from a device at 9600 baud takes longer on the line than the bare wait of
    // the faster speeds; the exchange must still wait for it, with every wait the scan uses.
    void fullChunkAtLowSpeed_data()
    {
        QTest::addColumn<int>("responseWait");
        for (const int wait : {10, 20, 30, 40, 50, 60, 70, 100})
            QTest::addRow("wait %d", wait) << wait;
    }
    void fullChunkAtLowSpeed()
    {
        QFETCH(int, responseWait);
        m_port->setBaudrate(Baudrate::br9600);
        const double charMs = m_port->characterMs();
        m_peer->setAnswer([charMs](const QByteArray &request) {
            PtyResponder::Reply whole = answerNormally(request);
            return pacedReply(whole.value(0).bytes, int(request.size()), charMs, 10);
        });
        m_link->setResponseWait(responseWait);
        QCOMPARE(m_link->ReadHoldingRegisters(1, 0x9FE, 50), 0);
        for (int r = 1279; r < 1304; ++r)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(&m_images.holding[2 * r]), 2),
                     registerBytes(r));
    }

    void testToolFindsASlowDevice()
    {
        m_link.reset();
        CommPort port;
        TestToolLink tool;
        tool.Setup(port);
        port.setBaudrate(Baudrate::br2400);
        tool.setResponseWait(70); // the search's wait at 2400
        const double charMs = port.characterMs();
        m_peer->setAnswer([charMs](const QByteArray &request) {
            PtyResponder::Reply whole = answerNormally(request);
            return pacedReply(whole.value(0).bytes, int(request.size()), charMs, 10);
        });
        QCOMPARE(tool.Read(0, 0, 10), 0);
        QCOMPARE(tool.values[9], std::uint16_t(0x0980));
    }

    // A converter switched by RTS must not turn the line round before the request has left.
    void rtsFallsOnlyAfterTheRequestLeft()
    {
        m_link.reset();
        CommPort port;
        TestToolLink tool;
        tool.Setup(port);
        port.setBaudrate(Baudrate::br9600);
        TimedPort timed(port);
        tool.setPort(&timed);
        QVERIFY(tool.rtsControl());
        QCOMPARE(tool.Read(0, 0, 3), 999); // silent: only the sending matters here
        QCOMPARE(m_peer->requests().size(), 1);
        const double lineMs = 17 * port.characterMs(); // 17.7 ms
        const double held = msBetween(timed.writeStarted, timed.rtsFell);
        QVERIFY2(held >= lineMs + port.characterMs(), qPrintable(QString::number(held)));
        QVERIFY(m_peer->requestTimes().value(0) <= timed.rtsFell);
    }

    void coilsAreUnpackedLowBitFirst()
    {
        m_peer->queueReply(asciiFrame({1, 1, 1, 0xD6}));
        m_images.coils.fill(0x55);
        QCOMPARE(m_link->ReadCoils(1, 1, 5), 0);
        QCOMPARE(m_peer->requests(), QList<QByteArray>{asciiFrame({1, 1, 0, 1, 0, 5})});
        const std::uint8_t expected[] = {0x55, 0, 1, 1, 0, 1, 0x55};
        for (int i = 0; i < 7; ++i)
            QCOMPARE(m_images.coils[i], expected[i]);
    }

    void discreteInputsSpanTwoBytes()
    {
        m_peer->queueReply(asciiFrame({1, 2, 2, 0xA5, 0x01}));
        QCOMPARE(m_link->ReadDiscreteInputs(1, 15, 9), 0);
        const std::uint8_t expected[] = {1, 0, 1, 0, 0, 1, 0, 1, 1};
        for (int i = 0; i < 9; ++i)
            QCOMPARE(m_images.discrete[15 + i], expected[i]);
    }

    void coilsArePackedLowBitFirst()
    {
        m_peer->setAnswer(answerNormally);
        const std::uint8_t coils[] = {1, 0, 2, 0, 1};
        std::copy(std::begin(coils), std::end(coils), m_images.coils.begin() + 1);
        QCOMPARE(m_link->WriteCoils(1, 1, 5), 0);
        QCOMPARE(frameBytes(m_peer->requests().value(0)),
                 QByteArray("\x01\x0F\x00\x01\x00\x05\x01\x15", 8));
    }

    void inputRegistersAndBlock()
    {
        QByteArray values("\x01\x04\x10", 3);
        for (const float f : {1.5f, -2.0f, 100.25f, 0.0f}) {
            std::uint8_t le[4];
            field::setF32(le, 0, f);
            values.append(reinterpret_cast<const char *>(le), 4);
        }
        m_peer->queueReply(asciiFrame(values));
        QCOMPARE(m_link->ReadInputRegisters(1, 0, 16), 0);
        QCOMPARE(field::f32(m_images.input, 0), 1.5f);
        QCOMPARE(field::f32(m_images.input, 4), -2.0f);
        QCOMPARE(field::f32(m_images.input, 8), 100.25f);

        m_peer->queueReply(asciiFrame({1, 4, 6, 1, 2, 3, 4, 5, 6}));
        std::uint16_t words[3] = {};
        QCOMPARE(m_link->ReadInputRegisterBlock(1, 52, 3, words), 0);
        QCOMPARE(m_peer->requests().value(1), asciiFrame({1, 4, 0, 52, 0, 3}));
        QCOMPARE(words[0], std::uint16_t(0x0201));
        QCOMPARE(words[1], std::uint16_t(0x0403));
        QCOMPARE(words[2], std::uint16_t(0x0605));
    }

    // A timer delivered while an exchange waits starts another transaction: it must be refused
    // without disturbing the running one.
    void nestedTransactionIsRefused()
    {
        m_peer->setAnswer([](const QByteArray &request) {
            PtyResponder::Reply r = answerNormally(request);
            if (!r.isEmpty())
                r[0].delayMs = 120;
            return r;
        });
        int nestedResult = -1;
        QByteArray requestDuringNested;
        QTimer::singleShot(90, [&] {
            const QByteArray before = m_link->requestText();
            m_images.coils.fill(0x33);
            nestedResult = m_link->ReadCoils(1, 0, 5);
            requestDuringNested = m_link->requestText() == before ? "same" : "changed";
        });
        QCOMPARE(m_link->ReadHoldingRegisters(1, 0, 60), 0);
        QCOMPARE(nestedResult, 999);
        QCOMPARE(requestDuringNested, QByteArray("same"));
        QCOMPARE(m_images.coils[0], std::uint8_t(0x33));
        QCOMPARE(m_peer->requests().size(), 2);
        for (int r = 0; r < 30; ++r)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(&m_images.holding[2 * r]), 2),
                     registerBytes(r));
        QVERIFY(!m_link->busy());
    }

    void waitingForASilentDeviceCostsNoCpu()
    {
        m_link->setResponseWait(1500);
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = cpuSeconds();
        QCOMPARE(m_link->ReadHoldingRegisters(1, 0, 2), 999);
        const double wall = clock.elapsed() / 1000.0;
        const double cpu = cpuSeconds() - cpuBefore;
        // Given up no earlier than the wait of 1600 ms after the 50 ms settling pause.
        QVERIFY2(wall >= 1.65, qPrintable(QString::number(wall)));
        QVERIFY2(cpu < 0.1 * wall,
                 qPrintable(QStringLiteral("cpu %1 s of %2 s").arg(cpu).arg(wall)));
    }

    void testToolReadAndWrite()
    {
        m_link.reset();
        CommPort port;
        TestToolLink tool;
        tool.Setup(port);
        QVERIFY(tool.rtsControl()); // a line without RTS still works with the converter control on
        m_peer->queueReply(asciiFrame({0, 3, 6, 0, 105, 0, 3, 0xAB, 0xCD}));
        QCOMPARE(tool.Read(0, 0, 3), 0);
        QCOMPARE(m_peer->requests().value(0), asciiFrame({0, 3, 0, 0, 0, 3}));
        QCOMPARE(tool.values[0], std::uint16_t(105));
        QCOMPARE(tool.values[1], std::uint16_t(3));
        QCOMPARE(tool.values[2], std::uint16_t(0xABCD));
        QCOMPARE(tool.rawBytes, QByteArray("\x00\x69\x00\x03\xAB\xCD", 6));
        QCOMPARE(m_peer->requestSpeeds().value(0), 19200);

        tool.values[0] = 0x0503;
        tool.values[1] = 0x180E;
        tool.values[2] = 0x071E;
        m_peer->queueReply(asciiFrame({0, 16, 0, 3, 0, 3}));
        QCOMPARE(tool.Write(0, 3, 3), 0);
        QCOMPARE(tool.lastWriteResult, 0);
        QCOMPARE(frameBytes(m_peer->requests().value(1)),
                 QByteArray("\x00\x10\x00\x03\x00\x03\x06\x05\x03\x18\x0E\x07\x1E", 13));

        m_peer->queueReply(asciiFrame({0, 0x83, 2}));
        tool.values[0] = 0x7777;
        QCOMPARE(tool.Read(0, 0, 1), 2);
        QCOMPARE(tool.values[0], std::uint16_t(0x7777));
        QCOMPARE(tool.Read(0, 0, 1), 999); // nothing queued: silence
        QVERIFY(!port.IsOpen());
    }
};

QTEST_GUILESS_MAIN(TestTransactions)
#include "tst_transactions.moc"
