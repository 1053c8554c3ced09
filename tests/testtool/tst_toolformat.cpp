// What the test tool shows of registers 0..9 and what it writes for the clock.

#include "testtool/toolformat.h"

#include <QTest>

class TestToolFormat : public QObject
{
    Q_OBJECT

private slots:
    void identity_data()
    {
        QTest::addColumn<int>("reg0");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("version");
        QTest::newRow("Лорван 1.05") << (105 * 256 + 3) << " Лорван"
                                     << " 1.05";
        QTest::newRow("Дулан 0.00") << 2 << " Дулан"
                                    << " 0.00";
        QTest::newRow("unknown type") << (255 * 256 + 7) << " Неизвестный"
                                      << " 2.55";
        QTest::newRow("type 0") << (100 * 256) << " Неизвестный"
                                << " 1.00";
    }
    void identity()
    {
        QFETCH(int, reg0);
        QFETCH(QString, type);
        QFETCH(QString, version);
        std::uint16_t r[10] = {std::uint16_t(reg0)};
        const ToolIdentityTexts t = describeRegisters(r);
        QCOMPARE(t.type, type);
        QCOMPARE(t.version, version);
    }

    void otherRegisters()
    {
        const std::uint16_t r[10] = {0,
                                     std::uint16_t(5 * 256 + 3),
                                     171,
                                     std::uint16_t(5 * 256 + 0x77),
                                     0xFFFF,
                                     0xFFFF,
                                     std::uint16_t(31 * 256 + 12),
                                     std::uint16_t(99 * 256 + 23),
                                     std::uint16_t(59 * 256 + 59),
                                     0xFFFF};
        const ToolIdentityTexts t = describeRegisters(r);
        QCOMPARE(t.release, QStringLiteral(" 05:03"));
        QCOMPARE(t.serial, QStringLiteral(" AB00")); // the device keeps it low byte first
        QCOMPARE(t.address, 5);
        QCOMPARE(t.date, QStringLiteral(" 31.12.99"));
        QCOMPARE(t.time, QStringLiteral(" 23:59:59"));
        const std::uint16_t zero[10] = {0, 0, 0xBEEF};
        const ToolIdentityTexts z = describeRegisters(zero);
        QCOMPARE(z.serial, QStringLiteral(" EFBE"));
        QCOMPARE(z.date, QStringLiteral(" 00.00.00"));
        QCOMPARE(z.time, QStringLiteral(" 00:00:00"));
    }

    void clockWrite_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("r6");
        QTest::addColumn<int>("r7");
        QTest::addColumn<int>("r8");
        QTest::newRow("example") << " 05.03.24"
                                 << " 14:07:30" << 0x0503 << 0x180E << 0x071E;
        QTest::newRow("year end") << " 31.12.99"
                                  << " 23:59:59" << 0x1F0C << 0x6317 << 0x3B3B;
        QTest::newRow("leap day 2000") << " 29.02.00"
                                       << " 00:00:00" << 0x1D02 << 0x0000 << 0;
    }
    void clockWrite()
    {
        QFETCH(QString, date);
        QFETCH(QString, time);
        const auto d = parseClockDate(date);
        const auto t = parseClockTime(time);
        QVERIFY(d && t);
        const auto r = clockRegisters(*d, *t);
        QFETCH(int, r6);
        QFETCH(int, r7);
        QFETCH(int, r8);
        QCOMPARE(int(r[0]), r6);
        QCOMPARE(int(r[1]), r7);
        QCOMPARE(int(r[2]), r8);
        // What the double-click defaults write reads back as the same clock.
        QCOMPARE(clockDateText(*d), date);
        QCOMPARE(clockTimeText(*t), time);
    }

    void badClockTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isDate");
        QTest::newRow("blank date") << " __.__.__" << true;
        QTest::newRow("half date") << " 05.0_.24" << true;
        QTest::newRow("month 13") << " 05.13.24" << true;
        QTest::newRow("31 April") << " 31.04.24" << true;
        QTest::newRow("29 Feb 2001") << " 29.02.01" << true;
        QTest::newRow("day 0") << " 00.03.24" << true;
        QTest::newRow("letters") << " ab.03.24" << true;
        QTest::newRow("hour 24") << " 24:00:00" << false;
        QTest::newRow("minute 60") << " 12:60:00" << false;
        QTest::newRow("blank time") << " __:__:__" << false;
        QTest::newRow("empty") << "" << false;
    }
    void badClockTexts()
    {
        QFETCH(QString, text);
        QFETCH(bool, isDate);
        if (isDate)
            QVERIFY(!parseClockDate(text));
        else
            QVERIFY(!parseClockTime(text));
    }

    void deviceAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("address");
        QTest::newRow("plain") << "5" << 5;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("not a number") << "abc" << 1;
        QTest::newRow("empty") << "" << 1;
        QTest::newRow("kept to 8 bits") << "300" << 44;
        QTest::newRow("negative") << "-1" << 255;
        QTest::newRow("hex is not decimal") << "0x10" << 1;
    }
    void deviceAddress()
    {
        QFETCH(QString, text);
        QFETCH(int, address);
        QCOMPARE(int(parseDeviceAddress(text)), address);
    }

    void speedTables()
    {
        QCOMPARE(toolSpeedForText(QStringLiteral("9600"))->chosenWait, 90);
        QCOMPARE(toolSpeedFor(Baudrate::br38400)->searchWait, 30);
        QVERIFY(!toolSpeedForText(QStringLiteral("9601")));
        // The search sweeps upward through all eight list entries.
        int last = 0;
        for (const auto &s : toolSpeeds()) {
            QVERIFY(baudrateValue(s.rate) > last);
            QCOMPARE(QString::number(baudrateValue(s.rate)), s.text);
            last = baudrateValue(s.rate);
        }
    }

    void clockPanelHasNoZone()
    {
        const QTime t(14, 7, 30);
        QCOMPARE(longTimeText(QLocale(QLocale::Russian, QLocale::Russia), t),
                 QStringLiteral("14:07:30"));
        QVERIFY(longTimeText(QLocale(QLocale::English, QLocale::UnitedStates), t)
                    .startsWith(QStringLiteral("2:07:30")));
    }
};

QTEST_APPLESS_MAIN(TestToolFormat)
#include "tst_toolformat.moc"
