#include "device/devicenode.h"
#include "platform/cp1251.h"

#include <QtTest>

#include <numeric>

class TestDeviceNode : public QObject
{
    Q_OBJECT
private slots:
    void fieldsSitAtTheirOffsets()
    {
        const std::uint8_t ident[18] = {105, 3, 5, 3, 0x34, 0x12, 5, 1, 0, 0, 0, 0x05};
        DeviceNode n = DeviceNode::found(3, 2, ident, QStringLiteral("/data/ArcData3.dbf"));
        n.setNextPollTime(0x11223344);
        const auto &b = n.bytes();
        QCOMPARE(sizeof(b), std::size_t(312));

        auto le32 = [&](int off) {
            return std::uint32_t(b[off]) | std::uint32_t(b[off + 1]) << 8 |
                   std::uint32_t(b[off + 2]) << 16 | std::uint32_t(b[off + 3]) << 24;
        };
        QCOMPARE(le32(0), 0x11223344u);
        QCOMPARE(le32(4), 3u);
        QCOMPARE(le32(8), 2u);
        QCOMPARE(le32(12), 30u); // poll period
        QCOMPARE(int(b[16]), 18);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&b[17]), 18),
                 QByteArray("/data/ArcData3.dbf"));
        QCOMPARE(le32(272), 0x0000FFu); // red
        QCOMPARE(le32(276), 0xFFFF00u); // aqua
        QCOMPARE(le32(280), 0x00FF00u); // lime
        QCOMPARE(le32(284), 0x00FFFFu); // yellow
        for (int i = 288; i < 292; ++i)
            QCOMPARE(int(b[i]), 0);
        QCOMPARE(int(b[292]), 1); // cyclic poll
        QCOMPARE(int(b[293]), 1); // graph refresh
        QCOMPARE(int(b[300]), 5);
        QCOMPARE(int(b[301]), 1);
        QCOMPARE(int(b[305]), 0x05);
        QCOMPARE(n.address(), std::uint8_t(5));
        QCOMPARE(n.speedCode(), std::uint8_t(1));
        QCOMPARE(n.variant(), std::uint8_t(5));
        QCOMPARE(n.tablePath(), QStringLiteral("/data/ArcData3.dbf"));
    }

    void foreignBytesRoundTripUnchanged()
    {
        // A record as another writer left it, with junk after the table path's text.
        std::array<std::uint8_t, 312> raw{};
        std::iota(raw.begin(), raw.end(), std::uint8_t(7));
        raw[16] = 4;
        DeviceNode n;
        QVERIFY(DeviceNode::fromBytes(raw, &n));
        QCOMPARE(n.bytes(), raw);
        QCOMPARE(n.tablePath().size(), 4);
        n.setChannelShown(3, true);
        QCOMPARE(n.bytes()[290], std::uint8_t(1));
        n.bytes()[290] = raw[290];
        QCOMPARE(n.bytes(), raw);

        const std::array<std::uint8_t, 311> shortRecord{};
        QVERIFY(!DeviceNode::fromBytes(shortRecord, &n));
        QCOMPARE(n.bytes(), raw); // untouched
    }

    void tablePathIsCutToItsField_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("kept");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("254") << 254 << 254;
        QTest::newRow("255") << 255 << 255;
        QTest::newRow("256") << 256 << 255;
        QTest::newRow("1000") << 1000 << 255;
    }

    void tablePathIsCutToItsField()
    {
        QFETCH(int, length);
        QFETCH(int, kept);
        DeviceNode n;
        n.setCyclicPoll(true); // the byte right after the path field must survive
        n.setChannelColour(1, 0xABCDEF);
        const QString path = QString(length, QChar(u'Ж'));
        n.setTablePath(path);
        QCOMPARE(n.tablePath(), path.left(kept));
        QCOMPARE(int(n.bytes()[16]), kept);
        QCOMPARE(n.channelColour(1), 0xABCDEFu);
        QVERIFY(n.cyclicPoll());
        // Shortening clears what the longer path left behind.
        n.setTablePath(QStringLiteral("a"));
        QCOMPARE(int(n.bytes()[18]), 0);
    }

    void pathTextsUseTheCodePage()
    {
        DeviceNode n;
        n.setTablePath(QStringLiteral("Печь.dbf"));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&n.bytes()[17]), 8),
                 cp1251::encode(QStringLiteral("Печь.dbf")));
    }

    void channelNumbersOutsideOneToFourAreRefused()
    {
        DeviceNode n;
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, n.channelColour(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, n.setChannelShown(5, true));
        QCOMPARE(n, DeviceNode());
    }
};

QTEST_GUILESS_MAIN(TestDeviceNode)
#include "tst_devicenode.moc"
