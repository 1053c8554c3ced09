#include "link/frame.h"

#include <QtTest>

#include <vector>

Q_DECLARE_METATYPE(std::vector<int>)

namespace {

QByteArray frame(std::vector<int> bytes)
{
    std::vector<std::uint8_t> raw(bytes.begin(), bytes.end());
    return BuildFrame(raw.data(), int(raw.size()));
}

// Bit by bit, as the serial-line standard describes it: an independent reference for the
// table-driven routine, whose result has the two bytes exchanged.
std::uint16_t referenceCrc(const QByteArray &data)
{
    std::uint16_t crc = 0xFFFF;
    for (const char c : data) {
        crc ^= std::uint8_t(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return std::uint16_t((crc >> 8) | (crc << 8));
}

} // namespace

class TestFrame : public QObject
{
    Q_OBJECT
private slots:
    void buildFrame_data()
    {
        QTest::addColumn<std::vector<int>>("bytes");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("read nine registers")
            << std::vector<int>{1, 3, 0, 0, 0, 9} << QByteArray(":010300000009F3\r\n");
        QTest::newRow("all zero") << std::vector<int>{0, 0} << QByteArray(":000000\r\n");
        QTest::newRow("upper-case digits")
            << std::vector<int>{0xAB, 0xCD} << QByteArray(":ABCD88\r\n");
        QTest::newRow("sum past 256")
            << std::vector<int>{0xFF, 0xFF, 0xFF} << QByteArray(":FFFFFF03\r\n");
        QTest::newRow("write one register")
            << std::vector<int>{0x11, 0x10, 0x00, 0x03, 0x00, 0x01, 0x02, 0x12, 0x34}
            << QByteArray(":11100003000102123493\r\n");
    }
    void buildFrame()
    {
        QFETCH(std::vector<int>, bytes);
        QFETCH(QByteArray, frame);
        std::vector<std::uint8_t> raw(bytes.begin(), bytes.end());
        QCOMPARE(BuildFrame(raw.data(), int(raw.size())), frame);
    }

    void hexDigit_data()
    {
        QTest::addColumn<char>("c");
        QTest::addColumn<int>("value");
        const char *digits = "0123456789ABCDEF";
        for (int i = 0; i < 16; ++i)
            QTest::addRow("%c", digits[i]) << digits[i] << i;
        for (int i = 10; i < 16; ++i)
            QTest::addRow("lower %c", 'a' + i - 10) << char('a' + i - 10) << i;
        for (const char c : {'G', 'g', '/', ':', '@', '`', ' ', '\0', '\r'})
            QTest::addRow("not hex %d", int(c)) << c << 999;
    }
    void hexDigit()
    {
        QFETCH(char, c);
        QFETCH(int, value);
        QCOMPARE(HexDigit(c), value);
    }

    void checkReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("completed");
        QTest::addColumn<int>("result");
        QTest::newRow("good read") << QByteArray(":010302ABCD82\r\n") << true << 0;
        QTest::newRow("lower-case digits") << QByteArray(":010302abcd82\r\n") << true << 0;
        QTest::newRow("exception 2") << QByteArray(":0183027A\r\n") << true << 2;
        QTest::newRow("timed out") << QByteArray(":010302ABCD82\r\n") << false << 999;
        QTest::newRow("LRC off by one") << QByteArray(":010302ABCD83\r\n") << true << 999;
        QTest::newRow("seven characters") << QByteArray(":0000\r\n") << true << 999;
        QTest::newRow("eight characters") << QByteArray(":00000\r\n") << true << 0;
        QTest::newRow("empty") << QByteArray() << true << 999;
        QTest::newRow("no colon") << QByteArray("0010302ABCD82\r\n") << true << 999;
        QTest::newRow("no CR LF") << QByteArray(":010302ABCD82") << true << 999;
        QTest::newRow("CR only") << QByteArray(":010302ABCD82\r") << true << 999;
        QTest::newRow("LF CR") << QByteArray(":010302ABCD82\n\r") << true << 999;
        QTest::newRow("judged up to first CR LF")
            << QByteArray(":010302ABCD82\r\n:FFFF\r\n") << true << 0;
        QTest::newRow("garbage after CR LF") << QByteArray(":0183027A\r\nxyz") << true << 2;
        // An odd character before CR is not part of any pair.
        QTest::newRow("odd tail ignored") << QByteArray(":010302ABCD82X\r\n") << true << 0;
        // A non-hex function digit counts as the high bit set, and takes part in the sum
        // with its 999: (16 * 999 + 3) mod 256 = 0x73.
        QTest::newRow("non-hex function digit") << QByteArray(":01G3028A\r\n") << true << 2;
        QTest::newRow("exception code zero is no reply")
            << QByteArray(":0183007C\r\n") << true << 999;
        QTest::newRow("exception 0x0B") << QByteArray(":01830B71\r\n") << true << 11;
    }
    void checkReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, completed);
        QFETCH(int, result);
        QCOMPARE(CheckReply(reply, completed), result);
    }

    void replyData_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("two bytes")
            << QByteArray(":010302ABCD82\r\n") << 2 << true << QByteArray("\xAB\xCD");
        QTest::newRow("fewer than asked")
            << QByteArray(":010302ABCD82\r\n") << 3 << false << QByteArray();
        QTest::newRow("none asked") << QByteArray(":010300FC\r\n") << 0 << true << QByteArray();
        QTest::newRow("one data char short")
            << QByteArray(":010302ABC80\r\n") << 2 << false << QByteArray();
        QTest::newRow("no CR LF") << QByteArray(":010302ABCD82") << 2 << false << QByteArray();
        QTest::newRow("data beyond CR LF not taken")
            << QByteArray(":01030280\r\nABCD") << 2 << false << QByteArray();
    }
    void replyData()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, count);
        QFETCH(bool, ok);
        QFETCH(QByteArray, bytes);
        std::uint8_t out[8];
        std::fill(std::begin(out), std::end(out), 0x5A);
        QCOMPARE(ReplyData(reply, count, out), ok);
        if (ok)
            QCOMPARE(QByteArray(reinterpret_cast<char *>(out), count), bytes);
        else
            QCOMPARE(out[0], std::uint8_t(0x5A));
    }

    // MatchReply alone: which frame is the reply, why those before it were not, what else came.
    // The expectation is read from the request's frame, as the exchanges do.
    void matchReply()
    {
        using R = FrameRefusal;
        const std::vector<int> read{1, 3, 0, 0, 0, 2}; // 4 data bytes
        const QByteArray ours = frame({1, 3, 4, 0xA1, 0xA2, 0xA3, 0xA4});
        QByteArray badLrc = ours;
        badLrc[2] = '0'; // address 01 read as 00: the sum is off by one
        const QByteArray echo = frame({1, 16, 0, 0, 0, 2});
        struct Row
        {
            const char *name;
            std::vector<int> request;
            QByteArray text;
            int result;
            int start;
            QList<R> refused;
            int skipped = 0;
            bool partial = false;
        };
        const Row rows[] = {
            {"late reply of 2, then ours",
             read,
             frame({2, 3, 4, 9, 9, 9, 9}) + ours,
             0,
             int(ours.size()),
             {R::OtherAddress}},
            {"refusals in order",
             read,
             badLrc + echo + ours,
             0,
             int(badLrc.size() + echo.size()),
             {R::LrcError, R::OtherFunction}},
            {"noise, a noise line", read, QByteArray("\x00\xFF#\r\n", 5) + ours, 0, 5, {}, 5},
            {"cut off by a new frame", read, ":0103" + ours, 0, 5, {R::Malformed}},
            {"exception code 0", read, frame({1, 0x83, 0}), 999, -1, {R::Malformed}},
            {"not hexadecimal", read, ":01G3040102030405\r\n", 999, -1, {R::Malformed}},
            {"odd body", read, ":0103040102030\r\n", 999, -1, {R::Malformed}},
            {"no CR LF yet", read, ours.chopped(1), 999, -1, {}, 0, true},
            {"address 0: anyone", {0, 3, 0, 0, 0, 1}, frame({7, 3, 2, 0, 105}), 0, 0, {}},
            {"no request: any frame", {}, frame({9, 0x83, 2}), 2, 0, {}},
        };
        for (const Row &r : rows) {
            const ReplyMatch m = MatchReply(r.text, ExpectedReply(frame(r.request)));
            const QList<int> got{m.result,       int(m.exception), int(m.start),
                                 int(m.skipped), int(m.partial),   int(m.length)};
            const QList<int> want{r.result,  r.result % 999 != 0,
                                  r.start,   r.skipped,
                                  r.partial, r.result == 999 ? 0 : int(r.text.size()) - r.start};
            QVERIFY2(got == want && m.refused == r.refused, r.name);
        }
    }

    void crc16_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("crc");
        QTest::newRow("check string") << QByteArray("123456789") << 0x374B;
        QTest::newRow("empty") << QByteArray() << 0xFFFF;
        // A read of ten registers from address 1 goes out as 01 03 00 00 00 0A C5 CD.
        QTest::newRow("serial request") << QByteArray("\x01\x03\x00\x00\x00\x0A", 6) << 0xC5CD;
        // CRC-16 over these inputs, worked out apart from this code (0x0264 and 0xDE6C before
        // the bytes are exchanged).
        QTest::newRow("twelve zeros") << QByteArray(12, '\0') << 0x6402;
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        QTest::newRow("every byte value") << all << 0x6CDE;
    }
    void crc16()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, crc);
        QCOMPARE(int(Crc16(reinterpret_cast<const std::uint8_t *>(data.constData()),
                           std::uint16_t(data.size()))),
                 crc);
        QCOMPARE(int(referenceCrc(data)), crc);
    }

    void crcTablesStartAsPublished()
    {
        const int high[] = {0x00, 0xC1, 0x81, 0x40};
        const int low[] = {0x00, 0xC0, 0xC1, 0x01};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(int(Crc16HighTable(i)), high[i]);
            QCOMPARE(int(Crc16LowTable(i)), low[i]);
        }
        QCOMPARE(int(Crc16HighTable(255)), 0x40);
        QCOMPARE(int(Crc16LowTable(255)), 0x40);
    }
};

QTEST_APPLESS_MAIN(TestFrame)
#include "tst_frame.moc"
