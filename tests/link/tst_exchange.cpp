// The exchange's reply window and error paths, on a port whose every read is scripted and with
// pauses in virtual time, so that when a reply completes is exact rather than a matter of timing.

#include "link/exchange.h"
#include "link/frame.h"
#include "link/linkport.h"
#include "link/modbuslink.h"
#include "link/porterror.h"

#include <QtTest>

namespace {

class ScriptedPort : public LinkPort
{
public:
    void Open() override
    {
        ++opens;
        if (openFails)
            throw PortError(QStringLiteral("Specified device not found (COM9)."));
        open = !openSilentlyFails;
    }
    void Close() override
    {
        if (open)
            ++closes;
        open = false;
    }
    bool IsOpen() const override { return open; }
    void Purge() override { ++purges; }
    bool WriteText(const QByteArray &text) override
    {
        if (!open)
            return false;
        written.append(text);
        operations.append("write");
        return acceptWrites;
    }
    int ReadAvailable(char *buffer, int maxCount) override
    {
        if (!open)
            return 0;
        if (readFails)
            throw PortError(QStringLiteral("Read error (5), Input/output error"));
        if (reads.isEmpty())
            return 0;
        QByteArray next = reads.takeFirst();
        const int n = std::min<int>(int(next.size()), maxCount);
        std::memcpy(buffer, next.constData(), size_t(n));
        if (n < next.size())
            reads.prepend(next.mid(n));
        return n;
    }
    QByteArray ReadAllWaiting() override
    {
        QByteArray all;
        while (!reads.isEmpty())
            all += reads.takeFirst();
        return all;
    }
    void SetRts(bool on) override
    {
        rts.append(on);
        operations.append(on ? "rts on" : "rts off");
    }
    void DrainOutput() override { operations.append("drain"); }
    double characterMs() const override { return charMs; }

    // One entry per read: what has arrived by then ("" for nothing yet).
    QList<QByteArray> reads;
    QList<QByteArray> written;
    QList<bool> rts;
    QList<QByteArray> operations;
    double charMs = 0;
    bool open = false;
    bool openFails = false;
    bool openSilentlyFails = false;
    bool acceptWrites = true;
    bool readFails = false;
    int opens = 0;
    int closes = 0;
    int purges = 0;
};

void noWait(int) {}

// An exchange whose pauses take no real time: they move a virtual clock on instead.
PollingExchange quietExchange(std::shared_ptr<qint64> clock = std::make_shared<qint64>(0))
{
    PollingExchange ex;
    ex.settle = noWait;
    ex.between = [clock](int ms) { *clock += ms; };
    ex.clockMs = [clock] { return *clock; };
    return ex;
}

void quieten(ModbusLink &link, LinkPort &port)
{
    link.setPort(&port);
    link.exchange() = quietExchange();
}

// The reply arrives complete in pass `pass` (earlier passes see nothing).
QList<QByteArray> arrivingInPass(int pass, const QByteArray &reply)
{
    QList<QByteArray> reads;
    for (int i = 1; i < pass; ++i)
        reads.append(QByteArray());
    reads.append(reply);
    return reads;
}

} // namespace

class TestExchange : public QObject
{
    Q_OBJECT
private slots:
    void replyWindow_data()
    {
        QTest::addColumn<int>("wait");
        QTest::addColumn<int>("pass");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("passesUsed");
        QTest::addColumn<int>("endedAt"); // virtual ms after the request
        // Passes read at 0, 9, 18 ... ms and once more at the deadline itself.
        QTest::newRow("first pass") << 200 << 1 << 0 << 1 << 0;
        QTest::newRow("pass at 198 ms") << 200 << 23 << 0 << 23 << 198;
        QTest::newRow("pass at the deadline") << 200 << 24 << 0 << 24 << 200;
        QTest::newRow("after the deadline") << 200 << 25 << 999 << 24 << 200;
        QTest::newRow("never, 110") << 110 << 99 << 999 << 14 << 110;
        QTest::newRow("never, 150") << 150 << 99 << 999 << 18 << 150;
        QTest::newRow("never, 205") << 205 << 99 << 999 << 24 << 205;
        QTest::newRow("never, 400") << 400 << 99 << 999 << 46 << 400;
        QTest::newRow("flag wait 400, last pass") << 400 << 46 << 0 << 46 << 400;
    }
    // A silent device is given up exactly at the wait, never before it.
    void replyWindow()
    {
        QFETCH(int, wait);
        QFETCH(int, pass);
        QFETCH(int, result);
        QFETCH(int, passesUsed);
        QFETCH(int, endedAt);
        ScriptedPort port;
        port.reads = arrivingInPass(pass, ":010302ABCD82\r\n");
        auto clock = std::make_shared<qint64>(0);
        PollingExchange ex = quietExchange(clock);
        QByteArray reply;
        bool completed = true;
        QCOMPARE(ex.Exchange(port, ":010300000001FB\r\n", wait, reply, completed), result);
        QCOMPARE(ex.passesUsed, passesUsed);
        QCOMPARE(*clock, qint64(endedAt));
        QCOMPARE(completed, result == 0);
        QVERIFY(!port.IsOpen());
        QCOMPARE(port.written, QList<QByteArray>{":010300000001FB\r\n"});
    }

    void windowFitsTheLine_data()
    {
        QTest::addColumn<int>("wait");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("bitsPerChar");
        QTest::addColumn<int>("replyBytes");
        QTest::addColumn<int>("window");
        // A 25-register read: 17 request and 111 reply characters.
        QTest::newRow("9600, wait 110") << 110 << 9600 << 10 << 53 << 184;
        QTest::newRow("9600, 2 stop bits") << 110 << 9600 << 11 << 53 << 197;
        QTest::newRow("9600, wait 400 rules") << 400 << 9600 << 10 << 53 << 400;
        QTest::newRow("115200, wait rules") << 110 << 115200 << 10 << 53 << 110;
        // The test tool's search read of 10 registers: 17 + 51 characters.
        QTest::newRow("1200, search") << 130 << 1200 << 10 << 23 << 617;
        QTest::newRow("2400, search") << 120 << 2400 << 10 << 23 << 334;
        // A write's echo is short.
        QTest::newRow("write echo, 9600") << 400 << 9600 << 11 << 6 << 400;
    }
    void windowFitsTheLine()
    {
        QFETCH(int, wait);
        QFETCH(int, baud);
        QFETCH(int, bitsPerChar);
        QFETCH(int, replyBytes);
        QFETCH(int, window);
        QCOMPARE(replyWindowMs(wait, 17, replyFrameChars(replyBytes), bitsPerChar * 1000.0 / baud),
                 window);
    }

    // The link hands the exchange the window for the reply it expects, not the bare wait.
    void linkWidensTheWaitOnSlowLines()
    {
        ScriptedPort port;
        port.charMs = 11000.0 / 9600; // 9600 baud, 2 stop bits
        RegisterImages images;
        ModbusLink link(images);
        quieten(link, port);
        auto clock = std::make_shared<qint64>(0);
        link.exchange() = quietExchange(clock);
        link.setResponseWait(10);
        QCOMPARE(link.ReadHoldingRegisters(1, 0, 50), 999);
        QCOMPARE(*clock, qint64(197));
        *clock = 0;
        QCOMPARE(link.ReadHoldingRegisters(1, 0, 2), 999); // 17 + 15 characters: the wait rules
        QCOMPARE(*clock, qint64(110));
    }

    void replyInPiecesIsJoined()
    {
        ScriptedPort port;
        port.reads = {":0103", "", "02AB", "CD82\r", "\n"};
        PollingExchange ex = quietExchange();
        QByteArray reply;
        bool completed = false;
        QCOMPARE(ex.Exchange(port, "x", 200, reply, completed), 0);
        QCOMPARE(reply, QByteArray(":010302ABCD82\r\n"));
        QCOMPARE(ex.passesUsed, 5);
    }

    // Only the reply ends the passes, in the pass it completes in; the test tool's single read
    // judges what it read the same way.
    void onlyTheReplyEndsTheWait()
    {
        const QByteArray ours = ":010302ABCD82\r\n";
        const QByteArray theirs = ":020302ABCD81\r\n";
        const std::tuple<QList<QByteArray>, int, int> rows[] = {
            {{"", theirs, "", "", ours}, 0, 5},             // another's reply, then ours
            {{theirs + ":0103", "02AB", "CD82\r\n"}, 0, 3}, // ours cut behind another's
            {{theirs}, 999, 24},                            // another's only: to the deadline
        };
        for (const auto &[reads, result, passes] : rows) {
            ScriptedPort port;
            port.reads = reads;
            PollingExchange ex = quietExchange();
            QByteArray reply;
            bool completed = true;
            QCOMPARE(ex.Exchange(port, ":010300000001FB\r\n", 200, reply, completed), result);
            QCOMPARE(ex.passesUsed, passes);
            port.reads = reads;
            SingleReadExchange single;
            single.wait = noWait;
            QCOMPARE(single.Exchange(port, ":010300000001FB\r\n", 200, reply, completed), result);
        }
    }

    void unopenablePortIsNoReply()
    {
        ScriptedPort port;
        port.openFails = true;
        PollingExchange ex = quietExchange();
        QByteArray reply = "old";
        bool completed = true;
        QCOMPARE(ex.Exchange(port, "x", 200, reply, completed), 999);
        QVERIFY(reply.isEmpty());
        QVERIFY(port.written.isEmpty());
        QCOMPARE(ex.passesUsed, 1); // the closed port's write is refused: one pass
    }

    void portStillClosedEndsAtOnce()
    {
        ScriptedPort port;
        port.openSilentlyFails = true;
        PollingExchange ex = quietExchange();
        QByteArray reply;
        bool completed = true;
        QCOMPARE(ex.Exchange(port, "x", 200, reply, completed), 999);
        QCOMPARE(ex.passesUsed, 0);
        QCOMPARE(port.purges, 0);
    }

    void refusedWriteGetsOnePass()
    {
        ScriptedPort port;
        port.acceptWrites = false;
        PollingExchange ex = quietExchange();
        QByteArray reply;
        bool completed = true;
        QCOMPARE(ex.Exchange(port, "x", 200, reply, completed), 999);
        QCOMPARE(ex.passesUsed, 1);
        QVERIFY(!port.IsOpen());
    }

    void portErrorInHoldingReadBecomesSendThreadError()
    {
        ScriptedPort port;
        port.readFails = true;
        RegisterImages images;
        ModbusLink link(images);
        quieten(link, port);
        try {
            link.ReadHoldingRegisters(1, 0x9FE, 2);
            QFAIL("no exception");
        } catch (const ESendThreadError &e) {
            const QString text = e.message();
            QVERIFY2(text.startsWith(QStringLiteral("Ошибка-ReadHoldRegs: ")), qPrintable(text));
            QVERIFY2(text.endsWith(QStringLiteral(" str:  ofs: 04FF")), qPrintable(text));
            QVERIFY(text.contains(QStringLiteral(" addr: ")));
        }
        QVERIFY(!port.IsOpen()); // an error never leaves the port held
        QVERIFY(!link.busy());
    }

    void portErrorInOtherReadsPassesUnchanged()
    {
        ScriptedPort port;
        port.readFails = true;
        RegisterImages images;
        ModbusLink link(images);
        quieten(link, port);
        QVERIFY_THROWS_EXCEPTION(PortError, link.ReadInputRegisters(1, 0, 16));
        QVERIFY_THROWS_EXCEPTION(PortError, link.ReadCoils(1, 1, 5));
        QVERIFY(!link.busy());
    }

    void singleReadExchangeOrder()
    {
        ScriptedPort port;
        port.reads = {":0103020102F7\r\n"};
        SingleReadExchange ex;
        int waited = -1;
        ex.wait = [&](int ms) { waited = ms; };
        QByteArray reply;
        bool completed = false;
        QCOMPARE(ex.Exchange(port, "req", 125, reply, completed), 0);
        QCOMPARE(waited, 125);
        // The converter is turned round only once the request has left the line.
        QCOMPARE(port.operations, (QList<QByteArray>{"rts on", "write", "drain", "rts off"}));
        QCOMPARE(port.purges, 2);
        QVERIFY(!port.IsOpen());

        ex.rtsControl = false;
        port.rts.clear();
        QCOMPARE(ex.Exchange(port, "req", 125, reply, completed), 999); // nothing came
        QVERIFY(port.rts.isEmpty());
    }

    void singleReadExchangePassesOpenErrors()
    {
        ScriptedPort port;
        port.openFails = true;
        SingleReadExchange ex;
        ex.wait = noWait;
        QByteArray reply;
        bool completed = false;
        QVERIFY_THROWS_EXCEPTION(PortError, ex.Exchange(port, "req", 100, reply, completed));
    }

    void registerPositionRule_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::newRow("even, even") << 0x78 << 18 << 60 << 9;
        QTest::newRow("odd start, one byte") << 0x79 << 1 << 60 << 1;
        QTest::newRow("even start, odd length") << 0x78 << 3 << 60 << 2;
        QTest::newRow("odd start, even length") << 0x79 << 2 << 60 << 2;
        QTest::newRow("programs") << 0x9FE << 200 << 1279 << 100;
        QTest::newRow("zero length") << 0x10 << 0 << 8 << 0;
        QTest::newRow("16-bit wrap") << 0xFFFF << 0xFFFF << 0x7FFF << 0;
    }
    void registerPositionRule()
    {
        QFETCH(int, position);
        QFETCH(int, length);
        QFETCH(int, start);
        QFETCH(int, count);
        const RegisterSpan span = registerSpan(std::uint16_t(position), std::uint16_t(length));
        QCOMPARE(int(span.start), start);
        QCOMPARE(int(span.count), count);
    }

    void rangesOutsideTheImagesAreRefused()
    {
        ScriptedPort port;
        RegisterImages images;
        ModbusLink link(images);
        quieten(link, port);
        QCOMPARE(link.ReadHoldingRegisters(1, 3358, 4), 999);
        QCOMPARE(link.WriteHoldingRegisters(1, 3360, 2), 999);
        QCOMPARE(link.ReadInputRegisters(1, 100, 8), 999);
        QCOMPARE(link.ReadCoils(1, 10, 7), 999);
        QCOMPARE(link.ReadDiscreteInputs(1, 20, 5), 999);
        QCOMPARE(link.WriteCoils(1, 16, 1), 999);
        std::uint16_t words[4];
        QCOMPARE(link.ReadInputRegisterBlock(1, 52, 5, words), 999);
        QCOMPARE(port.opens, 0);
    }

    // Runs last: once the application is told to end, every later event loop returns at once.
    // An exchange waiting on a silent device then gives up instead of spinning to its deadline.
    void exchangeEndsWithTheRun()
    {
        ScriptedPort port;
        PollingExchange ex;
        ex.settle = noWait;
        QCoreApplication::exit(0);
        QElapsedTimer elapsed;
        elapsed.start();
        QByteArray reply;
        bool completed = true;
        QCOMPARE(ex.Exchange(port, ":010300000001FB\r\n", 2000, reply, completed), 999);
        QVERIFY2(elapsed.elapsed() < 1000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(ex.passesUsed, 1);
        QVERIFY(!completed);
        QVERIFY(!port.IsOpen());
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
