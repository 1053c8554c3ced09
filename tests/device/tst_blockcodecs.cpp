#include "device/alarmblock.h"
#include "device/channelblock.h"
#include "device/commonblock.h"
#include "device/generalconfig.h"
#include "device/identity.h"
#include "device/imagefields.h"
#include "device/loopblock.h"
#include "device/pointposition.h"
#include "device/programblock.h"
#include "device/registermap.h"

#include <QtTest>

namespace {

QByteArray bytesAt(const RegisterImages &images, int position, int length)
{
    return QByteArray(reinterpret_cast<const char *>(images.holding.data() + position), length);
}

void putBytes(RegisterImages &images, int position, const QByteArray &bytes)
{
    std::copy(bytes.begin(), bytes.end(), images.holding.begin() + position);
}

ProgramBlock prog(int point, int count, QList<int> starts, QList<int> ends, QList<int> durations,
                  int byte7 = 0)
{
    ProgramBlock b;
    b.point = std::uint8_t(point);
    b.count = std::uint8_t(count);
    b.byte7 = std::uint8_t(byte7);
    for (int i = 0; i < starts.size(); ++i) {
        b.start[i] = std::int16_t(starts[i]);
        b.end[i] = std::int16_t(ends[i]);
        b.duration[i] = std::uint16_t(durations[i]);
    }
    return b;
}

std::span<std::uint8_t, ProgramBlock::kBytes> programBytes(QByteArray &image, int k)
{
    return std::span<std::uint8_t, ProgramBlock::kBytes>(
        reinterpret_cast<std::uint8_t *>(image.data()) + ProgramBlock::kBytes * (k - 1),
        ProgramBlock::kBytes);
}

// The four programs' 800 bytes with the given programs in place, the rest zero.
QByteArray programImage(const QList<std::pair<int, ProgramBlock>> &blocks)
{
    QByteArray image(programs::kAllBytes, 0);
    for (const auto &[k, b] : blocks)
        b.encode(programBytes(image, k));
    return image;
}

} // namespace

class TestBlockCodecs : public QObject
{
    Q_OBJECT
private slots:
    // Scaled numbers: cut toward zero without losing the last unit to binary fractions, and
    // refused rather than wrapped when they do not fit.
    void scaledNumbers_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("width");
        QTest::addColumn<qint64>("stored"); // -99999999 when refused

        const qint64 refused = -99999999;
        QTest::newRow("0.29 at 2") << 0.29 << 2 << "i16" << qint64(29);
        QTest::newRow("-0.29 at 2") << -0.29 << 2 << "i16" << qint64(-29);
        QTest::newRow("1.001 at 3") << 1.001 << 3 << "i16" << qint64(1001);
        QTest::newRow("2.3 s filter") << 2.3 << 1 << "u16" << qint64(23);
        QTest::newRow("fraction cut") << 25.57 << 1 << "i16" << qint64(255);
        QTest::newRow("negative cut toward zero") << -25.57 << 1 << "i16" << qint64(-255);
        QTest::newRow("i16 top") << 3276.7 << 1 << "i16" << qint64(32767);
        QTest::newRow("i16 past top") << 3276.8 << 1 << "i16" << refused;
        QTest::newRow("i16 bottom") << -3276.8 << 1 << "i16" << qint64(-32768);
        QTest::newRow("setpoint 4000 at 1") << 4000.0 << 1 << "i16" << refused;
        QTest::newRow("u16 top") << 6553.5 << 1 << "u16" << qint64(65535);
        QTest::newRow("u16 70000") << 70000.0 << 0 << "u16" << refused;
        QTest::newRow("u16 negative") << -0.1 << 1 << "u16" << refused;
        QTest::newRow("position by low bits") << 1.5 << 5 << "i16" << qint64(15);
        QTest::newRow("not a number") << qQNaN() << 0 << "i32" << refused;
        QTest::newRow("infinite") << qInf() << 0 << "i32" << refused;
    }
    void scaledNumbers()
    {
        QFETCH(double, value);
        QFETCH(int, position);
        QFETCH(QString, width);
        QFETCH(qint64, stored);
        std::optional<qint64> got;
        if (width == QLatin1String("i16")) {
            if (auto v = pointpos::toI16(value, position))
                got = *v;
        } else if (width == QLatin1String("u16")) {
            if (auto v = pointpos::toU16(value, position))
                got = *v;
        } else if (auto v = pointpos::toI32(value, position)) {
            got = *v;
        }
        QCOMPARE(got.value_or(-99999999), stored);
        if (got)
            QCOMPARE(pointpos::toI32(pointpos::fromStored(*got, position), position).value(),
                     std::int32_t(*got));
    }

    // The common block read from the device's bytes, field by field.
    void commonBlockDecodes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("correction");
        QTest::addColumn<int>("cycle");
        QTest::addColumn<QList<bool>>("flags"); // thermo, overlaid, one channel
        QTest::addColumn<QList<int>>("functions");
        QTest::addColumn<QList<bool>>("secondLoop");

        QTest::newRow("byte 8 = 0x15")
            << QByteArray::fromHex("00000000000000001500000000000000") << 0 << 0
            << QList<bool>{false, false, false} << QList<int>{5, 0, 0, 0}
            << QList<bool>{true, false, false, false};
        QTest::newRow("signed correction, 600 s, every flag")
            << QByteArray::fromHex("fdc1aa5558022a2b0117080f00000000") << -3 << 600
            << QList<bool>{true, true, true} << QList<int>{1, 7, 8, 15}
            << QList<bool>{false, true, false, false};
    }
    void commonBlockDecodes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, correction);
        QFETCH(int, cycle);
        QFETCH(QList<bool>, flags);
        QFETCH(QList<int>, functions);
        QFETCH(QList<bool>, secondLoop);
        RegisterImages images;
        putBytes(images, regmap::kCommonBlock, bytes.left(14));
        const CommonBlock block =
            CommonBlock::decode(field::block<14>(images.holding, regmap::kCommonBlock));
        QCOMPARE(int(block.timeCorrection()), correction);
        QCOMPARE(int(block.registrationCycle()), cycle);
        QCOMPARE((QList<bool>{block.thermoCompensation(), block.overlaidControl(),
                              block.oneChannelOnly()}),
                 flags);
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(block.buttonFunction(n), functions[n - 1]);
            QCOMPARE(block.buttonOnSecondLoop(n), secondLoop[n - 1]);
        }
    }

    // One comparator (the fifth, so that the stride counts): its bits and scaled numbers as shown
    // at the watched input's point position, then entries stored back. Byte 1 travels as read,
    // bits 1–2 of byte 0 are cleared, and an entry that would wrap is refused.
    void alarmComparators_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("position");
        QTest::addColumn<QList<int>>("codes"); // on, input, output, above
        QTest::addColumn<double>("threshold");
        QTest::addColumn<double>("hysteresis");
        QTest::addColumn<double>("enteredThreshold");
        QTest::addColumn<double>("enteredHysteresis");
        QTest::addColumn<QByteArray>("written"); // empty when an entry is refused

        QTest::newRow("hysteresis 65535 at 1")
            << QByteArray::fromHex("ff5a0a00ffff") << 1 << QList<int>{1, 3, 3, 1} << 1.0 << 6553.5
            << 25.5 << 6553.5 << QByteArray::fromHex("f95aff00ffff");
        QTest::newRow("-300 at 2")
            << QByteArray::fromHex("2e00d4fe0100") << 2 << QList<int>{0, 1, 1, 0} << -3.0 << 0.01
            << -0.29 << 0.29 << QByteArray::fromHex("28 00 e3ff 1d00").replace(' ', "");
        QTest::newRow("25.5 at 0 cut to 25")
            << QByteArray::fromHex("400019000500") << 0 << QList<int>{0, 2, 0, 0} << 25.0 << 5.0
            << 25.5 << 5.9 << QByteArray::fromHex("400019000500");
        QTest::newRow("1.001 at 3")
            << QByteArray::fromHex("81000000e803") << 3 << QList<int>{1, 0, 0, 1} << 0.0 << 1.0
            << 1.001 << 0.0 << QByteArray::fromHex("8100e9030000");
        QTest::newRow("threshold 99.9 at 3 wraps")
            << QByteArray::fromHex("000000000000") << 3 << QList<int>{0, 0, 0, 0} << 0.0 << 0.0
            << 99.9 << 0.0 << QByteArray();
        QTest::newRow("-999.9 at 2 wraps")
            << QByteArray::fromHex("000000000000") << 2 << QList<int>{0, 0, 0, 0} << 0.0 << 0.0
            << -999.9 << 0.0 << QByteArray();
        QTest::newRow("negative hysteresis")
            << QByteArray::fromHex("000000000000") << 1 << QList<int>{0, 0, 0, 0} << 0.0 << 0.0
            << 0.0 << -0.1 << QByteArray();
    }
    void alarmComparators()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, position);
        QFETCH(QList<int>, codes);
        QFETCH(double, threshold);
        QFETCH(double, hysteresis);
        QFETCH(double, enteredThreshold);
        QFETCH(double, enteredHysteresis);
        QFETCH(QByteArray, written);

        RegisterImages images;
        const int at = regmap::kAlarms + 4 * int(Comparator::kBytes);
        putBytes(images, regmap::kAlarms, QByteArray(48, '\x5a'));
        putBytes(images, at, bytes);
        const auto image = field::block<AlarmBlock::kBytes>(images.holding, regmap::kAlarms);
        AlarmBlock block = AlarmBlock::decode(image);
        Comparator &c = block.comparators[4];
        QCOMPARE((QList<int>{c.on, c.input, c.output, c.above}), codes);
        QCOMPARE(alarms::threshold(c, position), threshold);
        QCOMPARE(alarms::hysteresis(c, position), hysteresis);

        const auto t = alarms::storedThreshold(enteredThreshold, position);
        const auto h = alarms::storedHysteresis(enteredHysteresis, position);
        QCOMPARE(t && h, !written.isEmpty());
        if (written.isEmpty())
            return;
        c.threshold = *t;
        c.hysteresis = *h;
        block.encode(image);
        QCOMPARE(bytesAt(images, at, 6), written);
        QCOMPARE(bytesAt(images, regmap::kAlarms, 6), QByteArray::fromHex("585a5a5a5a5a"));
    }

    // Composing the configuration fields keeps the other owners' bytes (2, 3, 6, 7) as read and
    // rebuilds the flag byte from zero.
    void commonBlockEncodes()
    {
        RegisterImages images;
        putBytes(images, regmap::kCommonBlock, QByteArray::fromHex("7fffaa5500004411ffffffff0000"));
        CommonBlock block =
            CommonBlock::decode(field::block<14>(images.holding, regmap::kCommonBlock));
        block.setTimeCorrection(-3);
        block.setConfigFlags(true, false, true);
        block.setRegistrationCycle(600);
        block.setButton(1, 0, false);
        block.setButton(2, 5, true); // "Запуск программы" on loop 2
        block.setButton(3, 7, false);
        block.setButton(4, -1, true); // masked to its bits
        block.encode(field::block<14>(images.holding, regmap::kCommonBlock));
        SealCommonBlock(images);
        QCOMPARE(bytesAt(images, regmap::kCommonBlock, 12),
                 QByteArray::fromHex("fd81aa5558024411001507 1f").replace(' ', ""));
        QCOMPARE(int(images.holding[regmap::kCommonBlock + 9]), 21);
        const CommonBlock sealed =
            CommonBlock::decode(field::block<14>(images.holding, regmap::kCommonBlock));
        QVERIFY(sealed.checkValueMatches());
        QCOMPARE(bytesAt(images, regmap::kCommonShadow, 14),
                 bytesAt(images, regmap::kCommonBlock, 14));
    }

    void screens_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<int>>("indexes");
        QTest::addColumn<QList<int>>("chosen");
        QTest::addColumn<QByteArray>("written");

        QTest::newRow("plain") << QByteArray::fromHex("0102030405060708090a")
                               << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}
                               << QList<int>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}
                               << QByteArray::fromHex("0a090807060504030201");
        QTest::newRow("empty eleventh item of the first box")
            << QByteArray::fromHex("0b0b0101010101010101")
            << QList<int>{10, -1, 0, 0, 0, 0, 0, 0, 0, 0}
            << QList<int>{10, -1, 0, 0, 0, 0, 0, 0, 0, -1}
            << QByteArray::fromHex("0b0b0101010101010101");
        QTest::newRow("zero and 0xFF kept when not chosen")
            << QByteArray::fromHex("00ff0101010101010101")
            << QList<int>{-1, -1, 0, 0, 0, 0, 0, 0, 0, 0}
            << QList<int>{-1, -1, 0, 0, 0, 0, 0, 0, 0, 0}
            << QByteArray::fromHex("00ff0101010101010101");
    }
    void screens()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<int>, indexes);
        QFETCH(QList<int>, chosen);
        QFETCH(QByteArray, written);
        RegisterImages images;
        putBytes(images, regmap::kDisplaySelection, bytes);
        const auto read = generalconfig::screenIndexes(
            field::block<10>(images.holding, regmap::kDisplaySelection));
        QCOMPARE(QList<int>(read.begin(), read.end()), indexes);
        std::array<int, 10> choice{};
        std::copy(chosen.begin(), chosen.end(), choice.begin());
        generalconfig::setScreenIndexes(field::block<10>(images.holding, regmap::kDisplaySelection),
                                        choice);
        QCOMPARE(bytesAt(images, regmap::kDisplaySelection, 10), written);
    }

    void passwordsAreWholeFloats()
    {
        RegisterImages images;
        generalconfig::setPasswords(field::block<12>(images.holding, regmap::kAccessCodes),
                                    {1234.9, 0, 9999});
        // 1234.0f = 0x449A4000, least significant byte first
        QCOMPARE(bytesAt(images, regmap::kAccessCodes, 12),
                 QByteArray::fromHex("00409a44 00000000 003c1c46").replace(' ', ""));
        const auto back =
            generalconfig::passwords(field::block<12>(images.holding, regmap::kAccessCodes));
        QCOMPARE(back[0], 1234.0f);
        QCOMPARE(back[2], 9999.0f);
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("refused");
        QTest::newRow("abc") << "abc" << 1 << false;
        QTest::newRow("127") << "127" << 127 << false;
        QTest::newRow("128") << "128" << 128 << true;
        QTest::newRow("256") << "256" << 0 << true;
        QTest::newRow("0") << "0" << 0 << true;
        QTest::newRow("005") << "005" << 5 << false;
        QTest::newRow("261") << "261" << 5 << false;
    }
    void addresses()
    {
        QFETCH(QString, text);
        QFETCH(int, address);
        QFETCH(bool, refused);
        const std::uint8_t byte = generalconfig::addressByte(text);
        QCOMPARE(int(byte), address);
        QCOMPARE(!generalconfig::addressRefusal(byte).isEmpty(), refused);
    }

    void clockFields_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QByteArray>("bytes"); // empty when refused
        QTest::newRow("ordinary") << "09.12.26"
                                  << "14:05:09" << QByteArray::fromHex("090c1a0e0509");
        QTest::newRow("leap day") << "29.02.24"
                                  << "00:00:00" << QByteArray::fromHex("1d0218000000");
        QTest::newRow("no such day") << "31.04.26"
                                     << "00:00:00" << QByteArray();
        QTest::newRow("blank left") << "09.12. 6"
                                    << "14:05:09" << QByteArray();
        QTest::newRow("no such hour") << "09.12.26"
                                      << "24:00:00" << QByteArray();
    }
    void clockFields()
    {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QByteArray, bytes);
        const auto d = generalconfig::clockDateBytes(date);
        const auto t = generalconfig::clockTimeBytes(time);
        if (bytes.isEmpty()) {
            QVERIFY(!d || !t);
            return;
        }
        QVERIFY(d && t);
        QByteArray got;
        for (auto b : *d)
            got.append(char(b));
        for (auto b : *t)
            got.append(char(b));
        QCOMPARE(got, bytes);
    }

    // The channel block's bits, both ways.
    void channelBlocks_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QByteArray>("head"); // bytes 0..3
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("characteristic");
        QTest::addColumn<int>("point");
        QTest::addColumn<bool>("percent");
        QTest::addColumn<int>("scheme");

        QTest::newRow("X1 thermocouple L, on, sqrt")
            << 1 << QByteArray::fromHex("90810101") << true << 1 << 0 << 1 << false << 1;
        QTest::newRow("X2 unified 4-20, percent, p=2")
            << 2 << QByteArray::fromHex("21028300") << false << 2 << 1 << 2 << true << 3;
        QTest::newRow("X4 resistance 100M")
            << 4 << QByteArray::fromHex("b4010242") << true << 3 << 4 << 1 << false << 2;
    }
    void channelBlocks()
    {
        QFETCH(int, channel);
        QFETCH(QByteArray, head);
        QFETCH(bool, on);
        QFETCH(int, type);
        QFETCH(int, characteristic);
        QFETCH(int, point);
        QFETCH(bool, percent);
        QFETCH(int, scheme);
        RegisterImages images;
        const int at = regmap::channel(channel);
        // Tail: range -50..1100 as floats, correction 0.5, filter 2.5 s.
        const QByteArray tail =
            QByteArray::fromHex("000048c2 00808944 0000003f 1900").replace(' ', "");
        putBytes(images, at, head + tail);
        const ChannelBlock c =
            ChannelBlock::decode(field::block<18>(images.holding, regmap::channel(channel)));
        QCOMPARE(c.on, on);
        QCOMPARE(c.sensorType, type);
        QCOMPARE(c.characteristic, characteristic);
        QCOMPARE(c.pointPosition, point);
        QCOMPARE(c.percent, percent);
        QCOMPARE(c.scheme, scheme);
        QCOMPARE(c.rangeStart, -50.0f);
        QCOMPARE(c.rangeEnd, 1100.0f);
        QCOMPARE(c.correction, 0.5f);
        QCOMPARE(int(c.filterTenths), 25);
        RegisterImages again;
        c.encode(field::block<18>(again.holding, regmap::channel(channel)));
        QCOMPARE(bytesAt(again, at, 18), head + tail);
        // Neighbouring blocks stay untouched.
        QCOMPARE(int(again.holding[at - 1]), 0);
        QCOMPARE(int(again.holding[at + 18]), 0);
    }

    void channelSelectionMasks()
    {
        ChannelBlock c;
        c.sensorType = -1; // lists without a selection
        c.characteristic = -1;
        c.scheme = channel::schemeCode(-1);
        c.pointPosition = 0;
        c.byte3 = 0x5A;
        RegisterImages images;
        images.holding[regmap::channel(3) + 1] = 0x7C; // bits 2-6 are written as 0
        c.encode(field::block<18>(images.holding, regmap::channel(3)));
        QCOMPARE(bytesAt(images, regmap::channel(3), 4), QByteArray::fromHex("7f00035a"));
        const ChannelBlock back =
            ChannelBlock::decode(field::block<18>(images.holding, regmap::channel(3)));
        QCOMPARE(back.sensorType, 7);
        QCOMPARE(back.characteristic, 15);
        QCOMPARE(back.scheme, 3);
        QCOMPARE(channel::schemeCode(0), 1);
        QCOMPARE(channel::schemeCode(2), 2);
    }

    // What the editor shows for a type code read from a channel.
    void shownSensorTypes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("shown");
        QTest::addColumn<bool>("moved");
        QTest::newRow("0 on X1") << 0 << 1 << 1 << false;
        QTest::newRow("resistance on X1") << 3 << 1 << 3 << false;
        QTest::newRow("resistance on X3") << 3 << 3 << 2 << true;
        QTest::newRow("5 on X2") << 5 << 2 << 1 << false;
        QTest::newRow("7 on X4") << 7 << 4 << 1 << false;
    }
    void shownSensorTypes()
    {
        QFETCH(int, code);
        QFETCH(int, channel);
        QFETCH(int, shown);
        QFETCH(bool, moved);
        bool wasMoved = !moved;
        QCOMPARE(channel::shownSensorType(code, channel, &wasMoved), shown);
        QCOMPARE(wasMoved, moved);
        QCOMPARE(channel::characteristicItems(shown).size(), 7);
    }

    void typeZeroIsWrittenAsThermocouple()
    {
        RegisterImages images;
        images.holding[regmap::channel(2)] = 0x82; // on, type 0, characteristic 2
        ChannelBlock c = ChannelBlock::decode(field::block<18>(images.holding, regmap::channel(2)));
        c.sensorType = channel::shownSensorType(c.sensorType, 2);
        c.encode(field::block<18>(images.holding, regmap::channel(2)));
        QCOMPARE(int(images.holding[regmap::channel(2)]), 0x92);
    }

    void defaultRanges()
    {
        QCOMPARE(channel::defaultRange(1, 0)->pointPosition, std::optional<int>(1));
        QCOMPARE(channel::defaultRange(1, 5)->end, 2200.0f);
        QCOMPARE(channel::defaultRange(2, 5)->start, -100.0f);
        QVERIFY(!channel::defaultRange(2, 5)->pointPosition);
        QCOMPARE(channel::defaultRange(3, 2)->end, 600.0f);
        QVERIFY(!channel::defaultRange(0, 0));
        QVERIFY(!channel::defaultRange(1, 7));
        QVERIFY(!channel::defaultRange(1, -1));
    }

    // Descriptions: Windows-1251 bytes, at most 15 and a zero, unknown characters as '?', and
    // a read that never runs into the next channel's text.
    void descriptions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("readBack");
        const QByteArray zeros(16, '\0');
        QTest::newRow("empty") << QString() << zeros << QString();
        QTest::newRow("15 characters")
            << "Печь №1 верх зн" << QByteArray::fromHex("cfe5f7fc20b93120e2e5f0f520e7ed00")
            << "Печь №1 верх зн";
        QTest::newRow("cut at 15")
            << "Температура печи" << QByteArray::fromHex("d2e5ecefe5f0e0f2f3f0e020efe5f700")
            << "Температура печ";
        QTest::newRow("outside the code page")
            << "Ω-датчик €"
            << QByteArray::fromHex("3f2de4e0f2f7e8ea2088").append(QByteArray(6, '\0'))
            << "?-датчик €";
    }
    void descriptions()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, stored);
        QFETCH(QString, readBack);
        RegisterImages images;
        std::fill(images.holding.begin(), images.holding.end(), 0xEE);
        channel::setDescription(field::block<16>(images.holding, regmap::channelName(2)), text);
        QCOMPARE(bytesAt(images, regmap::channelName(2), 16), stored);
        QCOMPARE(int(images.holding[regmap::channelName(2) - 1]), 0xEE);
        QCOMPARE(int(images.holding[regmap::channelName(3)]), 0xEE);
        QCOMPARE(channel::description(field::block<16>(images.holding, regmap::channelName(2))),
                 readBack);
    }

    // The identity block: the fields the configurator changes land at their bytes, every other
    // byte (type, release, serial, variant) travels as read.
    void identityFields()
    {
        const QByteArray read = QByteArray::fromHex("690305033412050000000000191f0c0a0b0c");
        std::array<std::uint8_t, 18> bytes{};
        std::copy(read.begin(), read.end(), bytes.begin());
        IdentityBlock block = IdentityBlock::decode(bytes);
        QCOMPARE(int(block.address()), 5);
        QCOMPARE(int(block.speedCode()), 0);
        QCOMPARE(block.clockDate(), (IdentityBlock::Clock{0x19, 0x1F, 0x0C}));
        QCOMPARE(block.clockTime(), (IdentityBlock::Clock{10, 11, 12}));
        block.setAddress(127);
        block.setSpeedCode(4);
        block.setClockDate({1, 2, 26});
        block.setClockTime({23, 59, 58});
        std::array<std::uint8_t, 18> out{};
        out.fill(0xEE);
        block.encode(out);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(out.data()), 18),
                 QByteArray::fromHex("6903050334127f04000000000102 1a173b3a").replace(' ', ""));
    }

    void descriptionWithoutZeroStopsAtSixteen()
    {
        RegisterImages images;
        putBytes(images, regmap::channelName(1), QByteArray(16, 'A') + QByteArray("BBB"));
        QCOMPARE(channel::description(field::block<16>(images.holding, regmap::channelName(1))),
                 QString(16, QLatin1Char('A')));
    }
    // The loop's blocks: stored forms of the scaled fields, what a write keeps of a number the
    // field shows cut down, the bits written as 0, the output conflicts and the view's figures.
    void loopFields_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<QString>("expected");

        auto row = [](const char *name, const char *kind, QVariantList args, const char *result) {
            QTest::newRow(name) << QString::fromLatin1(kind) << args << QString::fromUtf8(result);
        };
        // stored: value, factor, "i16"/"u16"/"u8"
        row("setpoint 25.5 at p=1", "stored", {25.5, 10, "i16"}, "255");
        row("setpoint 25.5 at p=0", "stored", {25.5, 1, "i16"}, "25");
        row("setpoint -25.57 at p=1", "stored", {-25.57, 10, "i16"}, "-255");
        row("setpoint 4000 at p=1", "stored", {4000.0, 10, "i16"}, "refused");
        row("Ko 0.25", "stored", {0.25, 10000, "u16"}, "2500");
        row("Ko 0.0003", "stored", {0.0003, 10000, "u16"}, "3");
        row("Ko 7 does not fit", "stored", {7.0, 10000, "u16"}, "refused");
        row("Timp 0.29", "stored", {0.29, 100, "u16"}, "29");
        row("To negative", "stored", {-0.1, 10, "u16"}, "refused");
        row("DX byte 255", "stored", {255.9, 1, "u8"}, "255");
        row("DX byte 256", "stored", {256.0, 1, "u8"}, "refused");
        // kept: shown, stored, "u16"/"i16"
        row("point 1234 shown 12", "kept", {12.0, 1234, "u16"}, "1234");
        row("point edited to 13", "kept", {13.9, 1234, "u16"}, "1300");
        row("A -1234 shown -12", "kept", {-12.0, -1234, "i16"}, "-1234");
        row("A edited past 16 bits", "kept", {400.0, 0, "i16"}, "refused");
        row("Vzd 65499 shown 654", "kept", {654.0, 65499, "u16"}, "65499");
        row("Vzd 656 past 16 bits", "kept", {656.0, 65499, "u16"}, "refused");
        // codec: block bytes in, bytes encoded from the decoded block out
        row("unused bits written as 0", "codec", {QByteArray(34, char(0xff))},
            "3707c707ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff");
        row("input, law, program, byte 17 carried", "codec",
            {QByteArray::fromHex(
                "2503810600fa09c400050123456789ab11ffff0000000000000000000000000000")},
            "2503810600fa09c400050123456789ab11ffff0000000000000000000000000000");
        // figures: block bytes, point position (-1: unknown); the block once shown and stored
        const QByteArray scaled = QByteArray::fromHex(
            "2503810600fa09c400050123456789ab11ffff0000d2042efb000000000000000000");
        row("figures shown and stored again", "figures", {scaled, 2}, scaled.toHex());
        row("figures without the setpoint's scale", "figures", {scaled, -1}, "refused");
        // conflict: on1, law1, output1, on2, law2, output2
        row("Y2 and Y2", "conflict", {true, 0, 2, true, 2, 2}, "yes");
        row("Y2 and Y2, loop 2 off", "conflict", {true, 0, 2, false, 2, 2}, "no");
        row("PID-S on Y4(+Y5) beside Y5", "conflict", {true, 1, 4, true, 0, 5}, "yes");
        row("Y5 beside USWO-S", "conflict", {true, 0, 5, true, 4, 3}, "yes");
        row("PID-C on Y4(+Y5) beside Y5", "conflict", {true, 0, 4, true, 0, 5}, "no");
        // view: law, Kp, range start, range end, To, Ko, Vzd; the last line
        row("ON/OFF Delta", "view", {6, 2.0, 0.0, 400.0, 100, 2500, 0}, "Delta|  0.5 %");
        row("ON/OFF empty range", "view", {6, 2.0, 100.0, 100.0, 100, 2500, 0}, "error after Ts");
        row("Ko 0", "view", {0, 1.0, 0.0, 400.0, 100, 0, 0}, "error after Коэфф. V5");
        row("PID-C", "view", {0, 1.0, 0.0, 400.0, 1000, 10000, 0}, "ZS|1.50");
    }
    void loopFields()
    {
        QFETCH(QString, kind);
        QFETCH(QVariantList, args);
        QFETCH(QString, expected);

        auto text = [](auto n) { return n ? QString::number(*n) : QStringLiteral("refused"); };
        QString result;
        if (kind == QLatin1String("stored")) {
            const double v = args[0].toDouble(), s = args[1].toDouble();
            const QString width = args[2].toString();
            result = width == QLatin1String("i16")   ? text(loop::storedI16(v, s))
                     : width == QLatin1String("u16") ? text(loop::storedU16(v, s))
                                                     : text(loop::storedByte(v));
        } else if (kind == QLatin1String("kept")) {
            result = args[2].toString() == QLatin1String("u16")
                         ? text(loop::keptWholeU16(args[0].toDouble(), args[1].toUInt()))
                         : text(loop::keptWholeI16(args[0].toDouble(), qint16(args[1].toInt())));
        } else if (kind == QLatin1String("codec")) {
            QByteArray bytes = args[0].toByteArray();
            auto span = std::span<std::uint8_t, LoopBlock::kBytes>(
                reinterpret_cast<std::uint8_t *>(bytes.data()), LoopBlock::kBytes);
            const LoopBlock block = LoopBlock::decode(span);
            std::fill(span.begin(), span.end(), 0);
            block.encode(span);
            result = QString::fromLatin1(bytes.toHex());
        } else if (kind == QLatin1String("figures")) {
            QByteArray bytes = args[0].toByteArray();
            auto span = std::span<std::uint8_t, LoopBlock::kBytes>(
                reinterpret_cast<std::uint8_t *>(bytes.data()), LoopBlock::kBytes);
            const LoopBlock read = LoopBlock::decode(span);
            const int p = args[1].toInt();
            LoopBlock written = read; // its hundredths stay where the figures show them unchanged
            written.to = 0, written.setpoint = 0;
            const auto f = loop::Figures::shown(read, p < 0 ? std::nullopt : std::optional(p));
            if (!f.storeInto(written, std::max(p, 0))) {
                result = QStringLiteral("refused");
            } else {
                written.encode(span);
                result = QString::fromLatin1(bytes.toHex());
            }
        } else if (kind == QLatin1String("conflict")) {
            LoopBlock a, b;
            a.on = args[0].toBool(), a.law = args[1].toInt(), a.output = args[2].toInt();
            b.on = args[3].toBool(), b.law = args[4].toInt(), b.output = args[5].toInt();
            QCOMPARE(loop::outputsConflict(b, a), loop::outputsConflict(a, b));
            result = loop::outputsConflict(a, b) ? QStringLiteral("yes") : QStringLiteral("no");
        } else {
            LoopBlock block;
            block.law = args[0].toInt();
            block.to = std::uint16_t(args[4].toUInt());
            block.ko = std::uint16_t(args[5].toUInt());
            block.vzd = std::uint16_t(args[6].toUInt());
            ChannelBlock input;
            input.rangeStart = args[2].toFloat();
            input.rangeEnd = args[3].toFloat();
            LoopLiveValues live;
            live.zs = 1.5f;
            const auto view = loop::viewLines(block, {args[1].toFloat(), 0, 0}, input, live);
            result = view.parameterError
                         ? QStringLiteral("error after ") + view.lines.last().first
                         : view.lines.last().first + QLatin1Char('|') + view.lines.last().second;
        }
        QCOMPARE(result, expected);
    }

    // The setpoint programs: cell edits keep the curve continuous and refuse what the fields
    // cannot hold, a loaded program is repaired, a count byte above 32 stays inside the block,
    // and a program file is taken whole or not at all.
    void programs_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("k");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QList<int>>("cell"); // column, row
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("outcome");

        const ProgramBlock three = prog(1, 3, {0, 100, 200}, {100, 200, 300}, {10, 10, 10});
        const auto p1 = [](const ProgramBlock &b) { return programImage({{1, b}}); };
        const QByteArray threeImage = p1(three);
        const QList<int> none;
        ProgramBlock b = three;

        b.end[0] = 125, b.start[1] = 125;
        QTest::newRow("end 12,5 at p=1 mirrored") << "cell" << 1 << threeImage << QList{2, 1}
                                                  << "12,5" << QByteArray() << p1(b) << "stored";
        b = three, b.end[2] = 50;
        QTest::newRow("end of the last segment")
            << "cell" << 1 << threeImage << QList{2, 3} << "5" << QByteArray() << p1(b) << "stored";
        b = three, b.start[0] = 70;
        QTest::newRow("start of segment 1 alone")
            << "cell" << 1 << threeImage << QList{1, 1} << "7" << QByteArray() << p1(b) << "stored";
        b = three, b.start[1] = -125, b.end[0] = -125;
        QTest::newRow("start -12,5 at p=1") << "cell" << 1 << threeImage << QList{1, 2} << "-12,5"
                                            << QByteArray() << p1(b) << "stored";
        QTest::newRow("value that would wrap")
            << "cell" << 1 << p1(prog(0, 3, {}, {}, {})) << QList{1, 2} << "40000" << QByteArray()
            << p1(prog(0, 3, {}, {}, {})) << "refused";
        QTest::newRow("duration that would wrap")
            << "cell" << 1 << threeImage << QList{3, 2} << "70000" << QByteArray() << threeImage
            << "refused";
        QTest::newRow("negative duration") << "cell" << 1 << threeImage << QList{3, 2} << "-5"
                                           << QByteArray() << threeImage << "refused";
        QTest::newRow("duration 2,5") << "cell" << 1 << threeImage << QList{3, 2} << "2,5"
                                      << QByteArray() << threeImage << "notwhole";
        b = three, b.duration[1] = 65535;
        QTest::newRow("longest duration") << "cell" << 1 << threeImage << QList{3, 2} << "65535"
                                          << QByteArray() << p1(b) << "stored";
        QTest::newRow("not a number") << "cell" << 1 << threeImage << QList{2, 1} << "1,2,3"
                                      << QByteArray() << threeImage << "ignored";

        QTest::newRow("-125 at p=1 shown")
            << "show" << 1 << p1(prog(1, 1, {-125}, {0}, {1})) << QList{1, 1} << QString()
            << QByteArray() << p1(prog(1, 1, {-125}, {0}, {1})) << "-12,5";
        QTest::newRow("1500 at p=2 shown")
            << "show" << 1 << p1(prog(2, 1, {1500}, {0}, {1})) << QList{1, 1} << QString()
            << QByteArray() << p1(prog(2, 1, {1500}, {0}, {1})) << "15";

        const ProgramBlock p2 = prog(0, 4, {0, 100, 250, 0}, {100, 200, 300, 400}, {5, 0, 5, 5});
        QTest::newRow("P2 repaired, a start of 0 kept")
            << "repair" << 2 << programImage({{2, p2}}) << none << QString() << QByteArray()
            << programImage({{2, prog(0, 4, {0, 100, 200, 0}, {100, 200, 300, 400}, {5, 1, 5, 5})}})
            << "В программе-2 имеются ошибки.|Программа 2";
        QTest::newRow("zero duration set silently")
            << "repair" << 3 << programImage({{3, prog(0, 2, {5, 6}, {6, 7}, {0, 3})}}) << none
            << QString() << QByteArray() << programImage({{3, prog(0, 2, {5, 6}, {6, 7}, {1, 3})}})
            << "";

        ProgramBlock full;
        full.count = 255;
        for (int i = 0; i < 32; ++i)
            full.start[i] = std::int16_t(i), full.end[i] = std::int16_t(i + 1),
            full.duration[i] = 1;
        full.start[31] = 999;
        ProgramBlock mended = full;
        mended.start[31] = 31;
        QTest::newRow("count 255 stays in P4")
            << "repair" << 4 << programImage({{4, full}}) << none << QString() << QByteArray()
            << programImage({{4, mended}}) << "В программе-4 имеются ошибки.|Программа 4";
        QTest::newRow("count 255 warned up to 32")
            << "continuity" << 4 << programImage({{4, full}}) << none << QString() << QByteArray()
            << programImage({{4, full}}) << "32";
        QTest::newRow("continuity warned, nothing changed")
            << "continuity" << 2 << programImage({{2, p2}}) << none << QString() << QByteArray()
            << programImage({{2, p2}}) << "3,4";

        QTest::newRow("33 segments refused") << "count" << 1 << threeImage << none << "33"
                                             << QByteArray() << threeImage << "refused";
        QTest::newRow("-1 segments refused") << "count" << 1 << threeImage << none << "-1"
                                             << QByteArray() << threeImage << "refused";
        QTest::newRow("0 segments")
            << "count" << 1 << threeImage << none << "0" << QByteArray()
            << p1(prog(1, 0, {0, 100, 200}, {0, 200, 300}, {0, 10, 10})) << "";
        QTest::newRow("2 segments clear the third")
            << "count" << 1 << threeImage << none << "2" << QByteArray()
            << p1(prog(1, 2, {0, 100}, {100, 200}, {10, 10})) << "";
        b = three, b.count = 32;
        QTest::newRow("32,5 segments")
            << "count" << 1 << threeImage << none << "32,5" << QByteArray() << p1(b) << "";

        QByteArray rich = programImage(
            {{1, three}, {2, p2}, {3, prog(3, 1, {-7, 9}, {9, 8}, {7, 6}, 0xA5)}, {4, full}});
        QTest::newRow("file round trip")
            << "save" << 1 << rich << none << QString() << QByteArray() << rich << "814 good";
        QTest::newRow("file loaded") << "load" << 1 << threeImage << none << QString()
                                     << (programfile::marker() + rich) << rich << "good";
        QTest::newRow("short file")
            << "load" << 1 << threeImage << none << QString()
            << (programfile::marker() + rich).left(700) << threeImage << "short";
        QTest::newRow("no marker") << "load" << 1 << threeImage << none << QString()
                                   << ("ProgFileLorvaN" + rich) << threeImage << "nomarker";
        QTest::newRow("empty file") << "load" << 1 << threeImage << none << QString()
                                    << QByteArray() << threeImage << "short";
    }

    void programs()
    {
        QFETCH(QString, action);
        QFETCH(int, k);
        QFETCH(QByteArray, image);
        QFETCH(QList<int>, cell);
        QFETCH(QString, text);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, expected);
        QFETCH(QString, outcome);

        const QLocale ru(QLocale::Russian, QLocale::Russia);
        const auto all = std::span<std::uint8_t, programs::kAllBytes>(
            reinterpret_cast<std::uint8_t *>(image.data()), programs::kAllBytes);
        ProgramBlock b = ProgramBlock::decode(programBytes(image, k));
        QString got;
        if (action == "cell") {
            static const QStringList names{"stored", "ignored", "refused", "notwhole"};
            got = names[int(programs::editCell(b, cell[0], cell[1], text, ru))];
        } else if (action == "show") {
            got = ru.toString(programs::shown(b.start[cell[1] - 1], b.point));
        } else if (action == "repair") {
            if (programs::repair(b))
                got = programs::repairText(k) + "|" + programs::repairCaption(k);
        } else if (action == "continuity") {
            for (int i : programs::discontinuities(b))
                got += (got.isEmpty() ? "" : ",") + QString::number(i);
        } else if (action == "count") {
            if (!programs::setCount(b, ru.toDouble(text)))
                got = "refused";
        } else if (action == "save") {
            const QByteArray saved = programfile::compose(all);
            QVERIFY(saved.startsWith("ProgFileLorvan"));
            image.fill(0);
            got = QString::number(saved.size()) +
                  (programfile::parse(saved, all) == programfile::Outcome::Good ? " good" : "");
        } else if (action == "load") {
            static const QStringList names{"good", "nomarker", "short"};
            got = names[int(programfile::parse(file, all))];
        }
        if (action != "save" && action != "load")
            b.encode(programBytes(image, k));
        QCOMPARE(got, outcome);
        QCOMPARE(image, expected);
    }
};

QTEST_APPLESS_MAIN(TestBlockCodecs)
#include "tst_blockcodecs.moc"
