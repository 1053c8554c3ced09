#include "device/devicenode.h"
#include "device/identity.h"

#include <QtTest>

#include <array>

namespace {

std::array<std::uint8_t, 18> block(std::initializer_list<int> first, int variant = 0)
{
    std::array<std::uint8_t, 18> b{};
    int i = 0;
    for (int v : first)
        b[i++] = std::uint8_t(v);
    b[11] = std::uint8_t(variant);
    return b;
}

} // namespace

class TestIdentity : public QObject
{
    Q_OBJECT
private slots:
    void describes_data()
    {
        QTest::addColumn<QList<int>>("bytes");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("release");
        QTest::addColumn<QString>("serial");

        QTest::newRow("furnace") << QList<int>{105, 3, 0x05, 0x03, 0x34, 0x12, 5, 1}
                                 << "Лорван/005/19200"
                                 << " 1.05"
                                 << " 05:03 "
                                 << " 1234 ";
        QTest::newRow("other family, hex upper case")
            << QList<int>{112, 2, 0xAB, 0x0C, 0xEF, 0xBE, 127, 4} << "Дулан/127/115200"
            << " 1.12"
            << " AB:0C "
            << " BEEF ";
        QTest::newRow("unknown speed")
            << QList<int>{99, 3, 0, 0, 0, 0, 1, 9} << "Лорван/001/Неизвестна"
            << " 0.99"
            << " 00:00 "
            << " 0000 ";
        QTest::newRow("type 0") << QList<int>{255, 0, 0, 0, 0, 0, 0, 0} << "Неизвестный/000/9600"
                                << " 2.55"
                                << " 00:00 "
                                << " 0000 ";
        QTest::newRow("type 1") << QList<int>{0, 1, 0, 0, 1, 0, 200, 3} << "Неизвестный/200/57600"
                                << " 0.00"
                                << " 00:00 "
                                << " 0001 ";
    }

    void describes()
    {
        QFETCH(QList<int>, bytes);
        std::array<std::uint8_t, 18> b{};
        for (int i = 0; i < bytes.size(); ++i)
            b[i] = std::uint8_t(bytes[i]);
        const IdentityTexts t = describeIdentity(b);
        QTEST(t.description(), "description");
        QTEST(t.version, "version");
        QTEST(t.releaseDate, "release");
        QTEST(t.serial, "serial");
    }

    void variantDigits_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<QString>("text");
        QTest::newRow("0xA5") << 0xA5 << " 2211 212";
        QTest::newRow("none") << 0x00 << " 1111 111";
        QTest::newRow("all") << 0xFF << " 2422 222";
        QTest::newRow("two-bit field alone") << 0x40 << " 1311 111";
    }

    void variantDigits()
    {
        QFETCH(int, variant);
        QTEST(describeIdentity(block({}, variant)).variant, "text");
    }

    void clockTexts()
    {
        auto b = block({});
        const int clock[] = {9, 12, 26, 7, 5, 3};
        for (int i = 0; i < 6; ++i)
            b[12 + i] = std::uint8_t(clock[i]);
        const IdentityTexts t = describeIdentity(b);
        QCOMPARE(t.clockDate, QStringLiteral("09.12.26"));
        QCOMPARE(t.clockTime, QStringLiteral("07:05:03"));
    }

    void shortBlockReadsAsZeros()
    {
        const std::uint8_t two[] = {105, 3};
        QCOMPARE(describeIdentity(two).description(), QStringLiteral("Лорван/000/9600"));
        QCOMPARE(describeIdentity({}).description(), QStringLiteral("Неизвестный/000/9600"));
    }

    void featuresFollowTheVariant_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<QList<int>>("codes");
        QTest::newRow("neither") << 0xFA << QList<int>{1, 2, 3, 4};
        QTest::newRow("programs") << 0x04 << QList<int>{1, 2, 3, 4, 6};
        QTest::newRow("archive") << 0x01 << QList<int>{1, 2, 3, 4, 5};
        QTest::newRow("both") << 0x05 << QList<int>{1, 2, 3, 4, 6, 5};
    }

    void featuresFollowTheVariant()
    {
        QFETCH(int, variant);
        QFETCH(QList<int>, codes);
        QList<int> got;
        for (const FeatureEntry &e : featureEntries(std::uint8_t(variant)))
            got.append(int(e.code));
        QCOMPARE(got, codes);
        const auto entries = featureEntries(0x05);
        QCOMPARE(entries[4].text, QStringLiteral("Программное управление"));
        QCOMPARE(entries[4].image, 7);
        QCOMPARE(entries[5].text, QStringLiteral("Архив данных"));
        QCOMPARE(entries[5].image, 8);
    }
};

QTEST_GUILESS_MAIN(TestIdentity)
#include "tst_identity.moc"
