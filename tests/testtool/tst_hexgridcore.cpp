// The hex grid's pure parts: store, cell arithmetic, notations and the receive-buffer fill.

#include "testtool/hexgridcore.h"

#include <QTest>

#include <limits>

class TestHexGridCore : public QObject
{
    Q_OBJECT

private slots:
    void rowCount_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("words");
        QTest::addColumn<int>("rows");
        QTest::newRow("viewer 1024") << 16 << 1024 << false << 65;
        QTest::newRow("viewer 1025") << 16 << 1025 << false << 66;
        QTest::newRow("defaults") << 4 << 256 << false << 65;
        QTest::newRow("words round up") << 4 << 9 << true << 3; // 5 words -> 2 rows
        QTest::newRow("words exact") << 4 << 16 << true << 3;
        QTest::newRow("no columns") << 0 << 3 << false << 4;
        QTest::newRow("negative columns") << -2 << 3 << false << 4;
        QTest::newRow("no data") << 16 << 0 << false << 2;
    }
    void rowCount()
    {
        QFETCH(int, columns);
        QFETCH(int, count);
        QFETCH(bool, words);
        QFETCH(int, rows);
        HexLayout l{columns, count, words ? DataSize::dsWord : DataSize::dsByte};
        QCOMPARE(l.rowCount(), rows);
    }

    void cellArithmetic()
    {
        HexLayout bytes{16, 1024, DataSize::dsByte};
        QCOMPARE(bytes.byteIndex(1, 1), 0);
        QCOMPARE(bytes.byteIndex(16, 1), 15);
        QCOMPARE(bytes.byteIndex(1, 2), 16);
        QCOMPARE(bytes.byteIndex(3, 64), 63 * 16 + 2);
        QCOMPARE(bytes.rowAddress(64, 0), 0x3F0u);
        QCOMPARE(addressText(bytes.rowAddress(64, 0)), QStringLiteral("0003F0"));
        QCOMPARE(addressText(bytes.rowAddress(2, 0xABCDE0)), QStringLiteral("ABCDF0"));
        HexLayout words{4, 256, DataSize::dsWord};
        QCOMPARE(words.byteIndex(1, 1), 0);
        QCOMPARE(words.byteIndex(2, 1), 2);
        QCOMPARE(words.byteIndex(1, 2), 8);
        QCOMPARE(headerText(1), QStringLiteral("00"));
        QCOMPARE(headerText(16), QStringLiteral("0F"));
    }

    void notations_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("words");
        QTest::addColumn<QString>("text");
        const int hex = int(ViewMode::vmHEX), bin = int(ViewMode::vmBIN),
                  dec = int(ViewMode::vmDEC), ascii = int(ViewMode::vmASCII);
        QTest::newRow("byte hex") << 0x41 << hex << false << "41";
        QTest::newRow("byte bin") << 0x41 << bin << false << "01000001";
        QTest::newRow("byte dec") << 0x41 << dec << false << "065";
        QTest::newRow("byte ascii") << 0x41 << ascii << false << "A";
        QTest::newRow("word hex") << 0x4142 << hex << true << "4142";
        QTest::newRow("word bin") << 0x4142 << bin << true << "0100000101000010";
        QTest::newRow("word dec") << 0x4142 << dec << true << "16706";
        QTest::newRow("word ascii low first") << 0x4142 << ascii << true << "BA";
        QTest::newRow("hex upper case") << 0xAB << hex << false << "AB";
        QTest::newRow("byte dec max") << 0xFF << dec << false << "255";
        QTest::newRow("cyrillic") << 0xC0 << ascii << false << "А";
        QTest::newRow("euro sign") << 0x88 << ascii << false << "€";
        QTest::newRow("control code") << 0x0D << ascii << false << ".";
        QTest::newRow("unassigned in the code page") << 0x98 << ascii << false << ".";
        QTest::newRow("word dec small") << 7 << dec << true << "00007";
    }
    void notations()
    {
        QFETCH(int, value);
        QFETCH(int, mode);
        QFETCH(bool, words);
        QFETCH(QString, text);
        const DataSize size = words ? DataSize::dsWord : DataSize::dsByte;
        QCOMPARE(formatCell(std::uint16_t(value), ViewMode(mode), size), text);
        if (text != QLatin1String("."))
            QCOMPARE(parseCell(text, ViewMode(mode), size), std::optional<std::uint16_t>(value));
    }

    void rejectedCellTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("words");
        QTest::newRow("hex digit") << "4G" << int(ViewMode::vmHEX) << false;
        QTest::newRow("hex too long") << "141" << int(ViewMode::vmHEX) << false;
        QTest::newRow("binary two") << "0102" << int(ViewMode::vmBIN) << false;
        QTest::newRow("dec over byte") << "256" << int(ViewMode::vmDEC) << false;
        QTest::newRow("dec over word") << "65536" << int(ViewMode::vmDEC) << true;
        QTest::newRow("empty") << "" << int(ViewMode::vmHEX) << true;
        QTest::newRow("ascii two for byte") << "AB" << int(ViewMode::vmASCII) << false;
        QTest::newRow("ascii not in code page") << "中" << int(ViewMode::vmASCII) << false;
    }
    void rejectedCellTexts()
    {
        QFETCH(QString, text);
        QFETCH(int, mode);
        QFETCH(bool, words);
        QVERIFY(!parseCell(text, ViewMode(mode), words ? DataSize::dsWord : DataSize::dsByte));
    }

    void growthFollowsDefaultData()
    {
        HexStore store;
        store.setDefaultData(0x12AB);
        store.resize(5);
        QCOMPARE(store.count(), 5);
        const std::uint8_t expected[5] = {0x12, 0xAB, 0x12, 0xAB, 0x12};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(store.byteAt(i), expected[i]);
        // Existing bytes keep their values when the filler changes; new ones take the new one.
        store.setByte(1, 0x55);
        store.setDefaultData(0x3456);
        store.resize(7);
        QCOMPARE(store.byteAt(0), 0x12);
        QCOMPARE(store.byteAt(1), 0x55);
        QCOMPARE(store.byteAt(4), 0x12);
        QCOMPARE(store.byteAt(5), 0x56);
        QCOMPARE(store.byteAt(6), 0x34);
        // Outside the store: the low byte of DefaultData.
        QCOMPARE(store.byteAt(7), 0x56);
        QCOMPARE(store.byteAt(-1), 0x56);
        HexStore empty;
        QCOMPARE(empty.byteAt(0), 0xFF);
        // A word that straddles the end takes its second byte from the filler.
        QCOMPARE(cellValue(store, 6, DataSize::dsWord), 0x3456);
    }

    void insertAndRemove()
    {
        HexStore store;
        store.setDefaultData(0xA0B0);
        store.resize(4);
        for (int i = 0; i < 4; ++i)
            store.setByte(i, std::uint8_t(i + 1));
        store.changeSize(2, 2); // 1 2 _ _ 3 4
        QCOMPARE(store.count(), 6);
        QCOMPARE(store.byteAt(2), 0xA0);
        QCOMPARE(store.byteAt(3), 0xB0);
        QCOMPARE(store.byteAt(4), 3);
        QCOMPARE(store.byteAt(5), 4);
        store.changeSize(1, -3); // 1 3 4
        QCOMPARE(store.count(), 3);
        QCOMPARE(store.byteAt(1), 3);
        QCOMPARE(store.byteAt(2), 4);
        store.resize(2); // shrinking cuts at the end
        QCOMPARE(store.count(), 2);
        QCOMPARE(store.byteAt(1), 3);
    }

    void storeErrors_data()
    {
        QTest::addColumn<qint64>("position");
        QTest::addColumn<qint64>("delta");
        QTest::addColumn<QString>("message");
        QTest::newRow("below zero") << qint64(-1) << qint64(1) << "Index Out Of Range";
        QTest::newRow("beyond count") << qint64(11) << qint64(1) << "Index Out Of Range";
        QTest::newRow("below empty") << qint64(0) << qint64(-11) << "Too Many Deleted";
        QTest::newRow("past the end") << qint64(8) << qint64(-3) << "Too Many Deleted";
        QTest::newRow("too large") << qint64(10) << qint64(134217726 - 10) << "Grid Too Large";
        QTest::newRow("largest delta")
            << qint64(10) << std::numeric_limits<qint64>::max() << "Grid Too Large";
        QTest::newRow("smallest delta")
            << qint64(8) << std::numeric_limits<qint64>::min() << "Too Many Deleted";
        QTest::newRow("one more fits") << qint64(0) << qint64(1) << QString();
    }
    void storeErrors()
    {
        QFETCH(qint64, position);
        QFETCH(qint64, delta);
        QFETCH(QString, message);
        HexStore store;
        store.resize(10);
        store.setByte(9, 0x42);
        QString raised;
        try {
            store.changeSize(position, delta);
        } catch (const EInvalidGridOperation &e) {
            raised = QString::fromLatin1(e.what());
        }
        QCOMPARE(raised, message);
        if (!message.isEmpty()) {
            // A refused resize leaves the store as it was.
            QCOMPARE(store.count(), 10);
            QCOMPARE(store.byteAt(9), 0x42);
        }
    }

    void adoptedBlockIsSharedAndBounded()
    {
        auto block = std::make_shared<ByteBlock>();
        block->bytes.assign(8, 0x11);
        block->count = 100; // more than it holds
        HexStore store;
        store.adopt(block);
        QCOMPARE(store.count(), 8);
        block->bytes[3] = 0x77;
        QCOMPARE(store.byteAt(3), 0x77);
        QCOMPARE(store.byteAt(8), 0xFF);
        // Growing an adopted block keeps it the caller's block.
        store.resize(10);
        QCOMPARE(block->count, 10);
        QCOMPARE(int(block->bytes.size()), 10);
        QCOMPARE(block.use_count(), 2);
    }

    void fillReceiveBuffer_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("filled");
        QTest::addColumn<QByteArray>("start"); // expected first bytes; FF follows
        QTest::newRow("reply") << QByteArray(":0103060369000A00017F\r\n") << true
                               << QByteArray::fromHex("0103060369000A00017F");
        QTest::newRow("lower case")
            << QByteArray(":0103ab\r\n") << true << QByteArray::fromHex("0103AB");
        QTest::newRow("odd digit dropped")
            << QByteArray(":0103060\r\n") << true << QByteArray::fromHex("010306");
        QTest::newRow("non-hex gives 0")
            << QByteArray(":01X3G6\r\n") << true << QByteArray::fromHex("010000");
        QTest::newRow("trailing bytes after CR LF")
            << QByteArray(":010203\r\n:9999") << true << QByteArray::fromHex("010203");
        QTest::newRow("seven characters") << QByteArray(":0103\r\n") << false << QByteArray();
        QTest::newRow("no colon") << QByteArray("0103060369\r\n") << false << QByteArray();
        QTest::newRow("no CR LF") << QByteArray(":0103060369") << false << QByteArray();
        QTest::newRow("empty") << QByteArray() << false << QByteArray();
    }
    void fillReceiveBuffer()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, filled);
        QFETCH(QByteArray, start);
        ByteBlock buffer;
        buffer.bytes.assign(1025, 0x5A);
        buffer.count = 1024;
        QCOMPARE(::fillReceiveBuffer(reply, buffer), filled);
        QCOMPARE(int(buffer.bytes.size()), 1025);
        if (!filled) {
            QCOMPARE(buffer.count, 1024);
            QVERIFY(std::all_of(buffer.bytes.begin(), buffer.bytes.end(),
                                [](std::uint8_t b) { return b == 0x5A; }));
            return;
        }
        QCOMPARE(buffer.count, 1025);
        for (int i = 0; i < start.size(); ++i)
            QCOMPARE(buffer.bytes[i], std::uint8_t(start[i]));
        for (int i = int(start.size()); i < 1025; ++i)
            QCOMPARE(buffer.bytes[i], std::uint8_t(0xFF));
    }

    void replyLongerThanBufferStaysInside()
    {
        QByteArray reply = ":";
        for (int i = 0; i < 2000; ++i)
            reply += "AB";
        reply += "\r\n";
        ByteBlock buffer;
        buffer.bytes.assign(16, 0);
        QVERIFY(::fillReceiveBuffer(reply, buffer));
        QCOMPARE(int(buffer.bytes.size()), 16);
        QCOMPARE(buffer.count, 16);
        QCOMPARE(buffer.bytes[15], 0xAB);
    }
};

QTEST_APPLESS_MAIN(TestHexGridCore)
#include "tst_hexgridcore.moc"
