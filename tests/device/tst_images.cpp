#include "device/commonblock.h"
#include "device/imagefields.h"
#include "device/registermap.h"
#include "link/frame.h"

#include <QtTest>

class TestImages : public QObject
{
    Q_OBJECT
private slots:
    void fieldsAreLittleEndian()
    {
        RegisterImages images;
        auto &h = images.holding;
        field::setU16(h, 0x93A, 0x1234);
        QCOMPARE(h[0x93A], std::uint8_t(0x34)); // first on the wire of register 1181
        QCOMPARE(h[0x93B], std::uint8_t(0x12));
        QCOMPARE(field::u16(h, 0x93A), std::uint16_t(0x1234));

        field::setI16(h, 0, -2);
        QCOMPARE(h[0], std::uint8_t(0xFE));
        QCOMPARE(h[1], std::uint8_t(0xFF));
        QCOMPARE(field::i16(h, 0), std::int16_t(-2));

        field::setU32(h, 4, 0x01020304);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(&h[4]), 4), QByteArray("\x04\x03\x02\x01"));
        field::setI32(h, 4, -100000);
        QCOMPARE(field::i32(h, 4), -100000);

        field::setF32(h, 8, 1.0f); // 0x3F800000
        QCOMPARE(QByteArray(reinterpret_cast<char *>(&h[8]), 4), QByteArray("\x00\x00\x80\x3F", 4));
        QCOMPARE(field::f32(h, 8), 1.0f);

        field::setI8(h, 12, -128);
        QCOMPARE(field::i8(h, 12), std::int8_t(-128));
        QCOMPARE(field::u8(h, 12), std::uint8_t(0x80));
    }

    void fieldsStayInsideTheImage()
    {
        RegisterImages images;
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, field::u16(images.holding, 3359));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, field::setF32(images.input, 101, 0.0f));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, field::u8(images.coils, 16));
        QCOMPARE(field::u16(images.holding, 3358), std::uint16_t(0));
    }

    void blockPositions()
    {
        // Each block's byte position is twice its first register.
        QCOMPARE(int(regmap::channel(1)), 2 * 60);
        QCOMPARE(int(regmap::channel(4)), 2 * 87);
        QCOMPARE(int(regmap::loopMain(2)), 2 * 127);
        QCOMPARE(int(regmap::loopExtra(1)), 2 * 220);
        QCOMPARE(int(regmap::channelName(4)), 2 * 291);
        QCOMPARE(int(regmap::loopName(2)), 2 * 321);
        QCOMPARE(int(regmap::loopTuning(2)), 2 * 351);
        QCOMPARE(int(regmap::kAlarms), 2 * 373);
        QCOMPARE(int(regmap::kCommonBlock), 2 * 1179);
        QCOMPARE(int(regmap::kCommonShadow), 2 * 1229);
        QCOMPARE(int(regmap::program(1)), 2 * 1279);
        QCOMPARE(int(regmap::program(4)) + regmap::kProgramBytes,
                 RegisterImages::kHoldingBytes - 2); // up to register 1678
        QCOMPARE(int(regmap::kArchiveState), 2 * 50);
    }

    void sealOverZeros()
    {
        RegisterImages images;
        SealCommonBlock(images);
        // The CRC-16 of twelve zero bytes is 0x0264; the block keeps it with its bytes exchanged,
        // low byte first.
        QCOMPARE(images.holding[0x942], std::uint8_t(0x02));
        QCOMPARE(images.holding[0x943], std::uint8_t(0x64));
        QVERIFY(std::equal(images.holding.begin() + 0x936, images.holding.begin() + 0x944,
                           images.holding.begin() + 0x99A));
    }

    void updateWritesShadowThenBlockEvenAfterFailure()
    {
        RegisterImages images;
        images.holding[0x936] = 0xFB; // time correction -5
        images.holding[0x939] = 0x42; // another editor's byte
        images.holding[0x944] = 0x77; // just past the block: untouched
        QList<QPair<int, int>> writes;
        const auto result = UpdateCommonBlock(images, [&](std::uint16_t pos, std::uint16_t len) {
            writes.append({pos, len});
            return writes.size() == 1 ? 999 : 0;
        });
        QCOMPARE(writes, (QList<QPair<int, int>>{{0x99A, 14}, {0x936, 14}}));
        QCOMPARE(result.shadowResult, 999);
        QCOMPARE(result.blockResult, 0);
        QVERIFY(!result.ok());
        QCOMPARE(field::u16(images.holding, 0x942), Crc16(&images.holding[0x936], 12));
        QCOMPARE(images.holding[0x99A + 3], std::uint8_t(0x42));
        QCOMPARE(images.holding[0x944], std::uint8_t(0x77));
    }
};

QTEST_APPLESS_MAIN(TestImages)
#include "tst_images.moc"
