// Wrong replies against the transactions of both links, from a scripted peer on a real
// pseudo-terminal: none is taken and the images stay as they were, while the right frame behind
// other frames or noise is taken and ends the wait at once.

#include "link/commport.h"
#include "link/modbuslink.h"
#include "link/testtoollink.h"
#include "support/ptyresponder.h"

#include <QtTest>

#include <cstring>

namespace {

enum Wrong { Address, Function, CountShort, CountLong, ExtraData, Late, Noise, BadLrc, Exception };

std::uint8_t data(int i)
{
    return std::uint8_t(0x11 + 7 * i);
}

// The peer's answer to req: the right reply (data byte i is data(i)) made wrong as asked.
PtyResponder::Reply answer(int wrong, const QByteArray &req)
{
    const int f = std::uint8_t(req[1]);
    const int n = std::uint8_t(req[5]);
    QByteArray r = req.left(f >= 15 ? 6 : 2); // a write's echo
    if (f < 15)
        r += char(f <= 2 ? (n + 7) / 8 : 2 * n);
    for (int i = 0; f < 15 && i < r[2]; ++i)
        r += char(data(i));
    QByteArray other = r; // another device's reply, right in all else
    other[0] = char(r[0] + 1);
    // A read's byte count; a write echo's start (short) or count (long).
    const int field = f < 15 ? 2 : wrong == CountShort ? 3 : 5;
    if (wrong == Function)
        r[1] = char(f % 2 ? f + 1 : f - 1); // 1 and 2, 3 and 4, 15 and 16 swapped
    if (wrong == CountShort || wrong == CountLong)
        r[field] = char(r[field] + (wrong == CountShort ? -1 : 1));
    if (wrong == ExtraData)
        r += QByteArray(10, '\x5A');
    QByteArray text = asciiFrame(r);
    if (wrong == BadLrc)
        text[2] = text[2] == '0' ? '1' : '0';
    if (wrong == Noise)
        text.prepend(QByteArray("\x00\x7F#?:0103", 9));
    if (wrong == Address || wrong == Exception)
        text = wrong == Address ? asciiFrame(other) : asciiFrame({r[0], 0x80 | f, 3});
    if (wrong == Late) // another device's reply with its own data, then ours
        return {{asciiFrame(other.replace(3, r.size(), QByteArray(r.size() - 3, 'w'))), 0},
                {text, 30}};
    return {{text, 0}};
}

} // namespace

class TestWrongReplies : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase() { qputenv("LORVAN_PORT_DIR", m_dir.path().toLocal8Bit()); }

    void wrongReply_data()
    {
        QTest::addColumn<int>("t");
        QTest::addColumn<int>("wrong");
        QTest::addColumn<int>("result");
        const char *ts[] = {"read 3",   "read 4",   "coils 1",     "discrete 2",
                            "write 15", "write 16", "tool read 3", "tool write 16"};
        const char *ws[] = {"other address",
                            "other function",
                            "count short / echo start",
                            "count long / echo count",
                            "extra data",
                            "late reply of another, then ours",
                            "noise before",
                            "bad LRC alone",
                            "exception"};
        const int results[] = {999, 999, 999, 999, 999, 0, 0, 999, 3};
        for (int t = 0; t < 8; ++t) {
            for (int w = 0; w < 9; ++w) {
                // Asked at address 0 (the test tool), any device's reply is the reply.
                if (t < 6 || w != Late)
                    QTest::addRow("%s, %s", ts[t], ws[w])
                        << t << w << (t >= 6 && w == Address ? 0 : results[w]);
            }
        }
    }
    void wrongReply()
    {
        QFETCH(int, t);
        QFETCH(int, wrong);
        QFETCH(int, result);
        PtyResponder peer(m_dir.filePath("COM1"));
        peer.setAnswer([wrong](const QByteArray &req) { return answer(wrong, frameBytes(req)); });
        CommPort port;
        RegisterImages images;
        std::memset(&images, 0xEE, sizeof images);
        RegisterImages expected = images;
        ModbusLink link(images);
        link.Setup(port);
        link.setResponseWait(result == 999 ? 0 : 1000); // long unless the reply ends it
        TestToolLink tool;
        tool.values.fill(0xEEEE);
        auto values = tool.values;
        const std::function<int()> run[] = {
            [&] { return link.ReadHoldingRegisters(1, 0x78, 18); },
            [&] { return link.ReadInputRegisters(1, 0, 16); },
            [&] { return link.ReadCoils(1, 0, 16); },
            [&] { return link.ReadDiscreteInputs(1, 3, 9); },
            [&] { return link.WriteCoils(1, 0, 16); },
            [&] { return link.WriteHoldingRegisters(1, 0x936, 14); },
            [&] { return tool.Setup(port), tool.Read(0, 0, 9); },
            [&] { return tool.Setup(port), tool.Write(0, 3, 3); },
        };
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(run[t](), result);
        QCOMPARE(peer.requests().size(), 1);
        if (t < 6 && result != 999)
            QVERIFY2(clock.elapsed() < 700, qPrintable(QString::number(clock.elapsed())));
        // Untouched after a failure; after a read, the right frame's data.
        for (int i = 0; result == 0 && i < 18; ++i) {
            const std::uint8_t bit = (data(i / 8) >> (i % 8)) & 1;
            if (t == 0)
                expected.holding[0x78 + i] = data(i);
            if (t == 1 && i < 16)
                expected.input[i] = data(i);
            if (t == 2 && i < 16)
                expected.coils[i] = bit;
            if (t == 3 && i < 9)
                expected.discrete[3 + i] = bit;
            if (t == 6 && i < 9)
                values[i] = std::uint16_t(256 * data(2 * i) + data(2 * i + 1));
        }
        QVERIFY(std::memcmp(&images, &expected, sizeof images) == 0);
        QVERIFY(tool.values == values);
    }
};

QTEST_GUILESS_MAIN(TestWrongReplies)
#include "tst_wrongreplies.moc"
