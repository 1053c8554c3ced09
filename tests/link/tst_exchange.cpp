// The exchange's pass counting and error paths, on a port whose every read is scripted, so that
// the pass in which a reply completes is exact rather than a matter of timing.

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
    void SetRts(bool on) override { rts.append(on); }

    // One entry per read: what has arrived by then ("" for nothing yet).
    QList<QByteArray> reads;
    QList<QByteArray> written;
    QList<bool> rts;
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

// An exchange whose pauses take no time, so that passes are counted, not timed.
PollingExchange quietExchange()
{
    PollingExchange ex;
    ex.settle = noWait;
    ex.between = noWait;
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
    void passLimit_data()
    {
        QTest::addColumn<int>("wait");
        QTest::addColumn<int>("pass");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("passesUsed");
        // Function 3 with a base wait of 100 ms waits 200 ms: 20 passes.
        QTest::newRow("first pass") << 200 << 1 << 0 << 1;
        QTest::newRow("last allowed pass") << 200 << 20 << 0 << 20;
        QTest::newRow("one pass late") << 200 << 21 << 999 << 21;
        QTest::newRow("never") << 200 << 40 << 999 << 21;
        // The limit is a real division: 205 ms allows 20 passes, not 21.
        QTest::newRow("fractional limit, 20") << 205 << 20 << 0 << 20;
        QTest::newRow("fractional limit, 21") << 205 << 21 << 999 << 21;
        QTest::newRow("flag wait 400, 40") << 400 << 40 << 0 << 40;
        QTest::newRow("flag wait 400, 41") << 400 << 41 << 999 << 41;
    }
    void passLimit()
    {
        QFETCH(int, wait);
        QFETCH(int, pass);
        QFETCH(int, result);
        QFETCH(int, passesUsed);
        ScriptedPort port;
        port.reads = arrivingInPass(pass, ":010302ABCD82\r\n");
        PollingExchange ex = quietExchange();
        QByteArray reply;
        bool completed = true;
        QCOMPARE(ex.Exchange(port, ":010300000001FB\r\n", wait, reply, completed), result);
        QCOMPARE(ex.passesUsed, passesUsed);
        QCOMPARE(completed, result == 0);
        QVERIFY(!port.IsOpen());
        QCOMPARE(port.written, QList<QByteArray>{":010300000001FB\r\n"});
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
        QCOMPARE(port.rts, (QList<bool>{true, false}));
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
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
