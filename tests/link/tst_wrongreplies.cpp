// Wrong replies against every transaction of both links, from a scripted peer on a real
// pseudo-terminal: none is taken as the reply and the images stay as they were, while the right
// frame behind other frames or noise still is, and ends the wait at once.

#include "link/commport.h"
#include "link/modbuslink.h"
#include "link/testtoollink.h"
#include "support/ptyresponder.h"

#include <QtTest>

namespace {

enum class T { Holding, Input, Coils, Discrete, WriteCoils, WriteHolding, ToolRead, ToolWrite };
enum class W {
    Address,
    Function,
    CountShort,
    CountLong,
    ExtraData,
    Late,
    Noise,
    BadLrc,
    Exception
};

// The right reply to a request's bytes, every data byte distinct.
QByteArray rightReply(const QByteArray &req)
{
    const int f = std::uint8_t(req[1]);
    const int n = std::uint8_t(req[4]) * 256 + std::uint8_t(req[5]);
    if (f >= 15)
        return req.left(6);
    QByteArray r = req.left(2) + char(f <= 2 ? (n + 7) / 8 : 2 * n);
    for (int i = 0; i < r[2]; ++i)
        r += char(0x11 + 7 * i);
    return r;
}

PtyResponder::Reply wrong(W w, const QByteArray &req)
{
    QByteArray r = rightReply(req);
    const int f = std::uint8_t(r[1]);
    const bool write = f >= 15;
    QByteArray other = r;
    other[0] = char(r[0] + 1);
    switch (w) {
    case W::Address:
        return {{asciiFrame(other), 0}};
    case W::Function:
        r[1] = char(f % 2 ? f + 1 : f - 1); // 1 and 2, 3 and 4, 15 and 16 swapped
        break;
    case W::CountShort: // or the echo's start
        r[write ? 3 : 2] = char(r[write ? 3 : 2] - 1);
        break;
    case W::CountLong: // or the echo's count
        r[write ? 5 : 2] = char(r[write ? 5 : 2] + 1);
        break;
    case W::ExtraData:
        r += QByteArray(10, '\x5A');
        break;
    case W::Late:
        other.replace(3, other.size(), QByteArray(other.size() - 3, '\x77'));
        return {{asciiFrame(other), 0}, {asciiFrame(r), 30}};
    case W::Noise:
        return {{QByteArray("\x00\x7F#?:0103", 9) + asciiFrame(r), 0}};
    case W::BadLrc: {
        QByteArray bad = asciiFrame(r);
        bad[bad.size() - 3] = bad[bad.size() - 3] == '0' ? '1' : '0';
        return {{bad, 0}};
    }
    case W::Exception:
        return {{asciiFrame({r[0], 0x80 | f, 3}), 0}};
    }
    return {{asciiFrame(r), 0}};
}

} // namespace

Q_DECLARE_METATYPE(T)
Q_DECLARE_METATYPE(W)

class TestWrongReplies : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("LORVAN_PORT_DIR", m_dir.path().toLocal8Bit());
    }

    void wrongReply_data()
    {
        QTest::addColumn<T>("t");
        QTest::addColumn<W>("w");
        QTest::addColumn<int>("result");
        const char *ts[] = {"read 3",   "read 4",   "coils 1",     "discrete 2",
                            "write 15", "write 16", "tool read 3", "tool write 16"};
        const char *ws[] = {"other address",
                            "other function",
                            "count or echo start short",
                            "count or echo count long",
                            "extra data",
                            "late reply of another, then ours",
                            "noise before",
                            "bad LRC, then nothing",
                            "exception"};
        const int results[] = {999, 999, 999, 999, 999, 0, 0, 999, 3};
        for (int t = 0; t < 8; ++t) {
            const bool tool = t >= int(T::ToolRead);
            for (int w = 0; w < 9; ++w) {
                if (tool && W(w) == W::Late)
                    continue; // to address 0 any device's reply is the reply
                const int result = tool && W(w) == W::Address ? 0 : results[w];
                QTest::addRow("%s, %s", ts[t], ws[w]) << T(t) << W(w) << result;
            }
        }
    }
    void wrongReply()
    {
        QFETCH(T, t);
        QFETCH(W, w);
        QFETCH(int, result);
        PtyResponder peer(m_dir.filePath("COM1"));
        peer.setAnswer([w](const QByteArray &request) { return wrong(w, frameBytes(request)); });
        CommPort port;
        RegisterImages images;
        images.holding.fill(0xEE);
        images.input.fill(0xEE);
        images.coils.fill(0xEE);
        images.discrete.fill(0xEE);
        const RegisterImages before = images;
        ModbusLink link(images);
        link.Setup(port);
        // A wait that would show if the right frame did not end the exchange at once.
        link.setResponseWait(result == 999 ? 0 : 1000);
        TestToolLink tool;
        tool.values.fill(0xEEEE);
        const auto values = tool.values;
        QElapsedTimer clock;
        clock.start();
        const int got = [&] {
            switch (t) {
            case T::Holding:
                return link.ReadHoldingRegisters(1, 0x78, 18);
            case T::Input:
                return link.ReadInputRegisters(1, 0, 16);
            case T::Coils:
                return link.ReadCoils(1, 0, 16);
            case T::Discrete:
                return link.ReadDiscreteInputs(1, 3, 9);
            case T::WriteCoils:
                return link.WriteCoils(1, 0, 16);
            case T::WriteHolding:
                return link.WriteHoldingRegisters(1, 0x936, 14);
            case T::ToolRead:
                tool.Setup(port);
                return tool.Read(0, 0, 9);
            case T::ToolWrite:
                tool.Setup(port);
                return tool.Write(0, 3, 3);
            }
            return -1;
        }();
        QCOMPARE(got, result);
        QCOMPARE(peer.requests().size(), 1);
        if (result != 0) {
            QVERIFY(images.holding == before.holding && images.input == before.input);
            QVERIFY(images.coils == before.coils && images.discrete == before.discrete);
            QVERIFY(tool.values == values);
        }
        if (result != 999 && t < T::ToolRead)
            QVERIFY2(clock.elapsed() < 700, qPrintable(QString::number(clock.elapsed())));
        if (result != 0)
            return;
        // The data are the right frame's: byte i of it is 0x11 + 7 i.
        const auto data = [](int i) { return std::uint8_t(0x11 + 7 * i); };
        for (int i = 0; i < 18; ++i) {
            if (t == T::Holding)
                QCOMPARE(images.holding[0x78 + i], data(i));
            if (t == T::Input && i < 16)
                QCOMPARE(images.input[i], data(i));
            if (t == T::Coils && i < 16)
                QCOMPARE(images.coils[i], std::uint8_t((data(i / 8) >> (i % 8)) & 1));
            if (t == T::Discrete && i < 9)
                QCOMPARE(images.discrete[3 + i], std::uint8_t((data(i / 8) >> (i % 8)) & 1));
            if (t == T::ToolRead && i < 9)
                QCOMPARE(tool.values[i], std::uint16_t(256 * data(2 * i) + data(2 * i + 1)));
        }
    }
};

QTEST_GUILESS_MAIN(TestWrongReplies)
#include "tst_wrongreplies.moc"
