#include "device/archive.h"

#include <QtTest>

using archive::Record;
using archive::Walk;

class TestArchive : public QObject
{
    Q_OBJECT
private slots:
    // One record's words to its row texts and validity.
    void records_data()
    {
        QTest::addColumn<QList<int>>("words");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("currentMark");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QStringList>("texts");

        const int when1 = 15 | 6 << 8, when2 = 26 | 13 << 8, when3 = 5 | 9 << 8;
        QTest::newRow("X1 and X3, 6 registers")
            << QList<int>{0x8000, when1, when2, when3, 0xFF83, 250} << 0x05 << 2 << true
            << QStringList{"2", "13:05:09 15.06.26", "-12.5", "2.5"};
        QTest::newRow("outputs width 5")
            << QList<int>{0x4000, when1, when2, when3, 5000, quint16(-1234)} << 0x30 << 1 << true
            << QStringList{"1", "13:05:09 15.06.26", " 50.0", "-12.3"};
        QTest::newRow("nothing selected, 4 registers")
            << QList<int>{0xC000, 31 | 12 << 8, 99 | 23 << 8, 59 | 59 << 8} << 0 << 3 << true
            << QStringList{"3", "23:59:59 31.12.99"};
        QTest::newRow("day 0") << QList<int>{0, 0 | 6 << 8, when2, when3} << 0 << 0 << false
                               << QStringList{"0", "13:05:09 00.06.26"};
        QTest::newRow("month 13") << QList<int>{0, 1 | 13 << 8, when2, when3} << 0 << 0 << false
                                  << QStringList{"0", "13:05:09 01.13.26"};
        QTest::newRow("hour 24") << QList<int>{0, when1, 26 | 24 << 8, when3} << 0 << 0 << false
                                 << QStringList{"0", "24:05:09 15.06.26"};
        QTest::newRow("second 60") << QList<int>{0, when1, when2, 5 | 60 << 8} << 0 << 0 << false
                                   << QStringList{"0", "13:05:60 15.06.26"};
        QTest::newRow("other mark") << QList<int>{0x4000, when1, when2, when3} << 0 << 2 << false
                                    << QStringList{"1", "13:05:09 15.06.26"};
        QTest::newRow("shorter than its selection")
            << QList<int>{0, when1, when2, when3, 7} << 0x03 << 0 << true
            << QStringList{"0", "13:05:09 15.06.26", "0.7", ""};
    }
    void records()
    {
        QFETCH(QList<int>, words);
        QFETCH(int, selected);
        QFETCH(int, currentMark);
        std::vector<std::uint16_t> w;
        for (int x : words)
            w.push_back(std::uint16_t(x));
        const Record r = Record::decode(w);
        QTEST(r.valid(currentMark), "valid");
        QTEST(r.texts(std::uint8_t(selected), {1, 0, 2, 0}), "texts");
    }

    // The walk from the write position backwards across the ring's start.
    void walk_data()
    {
        QTest::addColumn<int>("writePosition");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QList<int>>("first"); // the first three registers read
        QTest::addColumn<int>("reads");        // -1: no walk
        QTest::addColumn<int>("last");

        QTest::newRow("W 10 starts at the top")
            << 10 << 0x05 << QList<int>{16420, 16414, 16408} << 2728 << 58;
        QTest::newRow("ten records, then the top")
            << 130 << 0x05 << QList<int>{106, 100, 94} << 2728 << 118;
        QTest::newRow("4-register records")
            << 10 << 0 << QList<int>{16420, 16416, 16412} << 4092 << 56;
        QTest::newRow("all six") << 50 << 0x3F << QList<int>{62, 52, 16412} << 1636 << 82;
        QTest::newRow("end never met") << 76 << 0x05 << QList<int>{79, 73, 67} << 2729 << 82;
        QTest::newRow("end at the ring's last byte")
            << 32760 << 0x05 << QList<int>{16421, 16415, 16409} << 2729 << 53;
        QTest::newRow("W below the ring") << 9 << 0x05 << QList<int>{} << -1 << 0;
        QTest::newRow("W past the ring") << 32761 << 0x05 << QList<int>{} << -1 << 0;
    }
    void walk()
    {
        QFETCH(int, writePosition);
        QFETCH(int, selected);
        QFETCH(QList<int>, first);
        QFETCH(int, reads);
        auto w = Walk::start(std::uint16_t(writePosition), std::uint8_t(selected));
        QCOMPARE(w.has_value(), reads >= 0);
        if (!w)
            return;
        QList<int> seen;
        int count = 0, last = 0;
        while (auto reg = w->current()) {
            QVERIFY(*reg >= archive::kRingFirstRegister);
            QVERIFY(*reg + w->length() - 1 <= archive::kRingLastRegister);
            if (seen.size() < 3)
                seen << *reg;
            last = *reg;
            ++count;
            w->advance();
        }
        QCOMPARE(seen, first);
        QCOMPARE(count, reads);
        QTEST(last, "last");
    }

    void sort_data()
    {
        QTest::addColumn<QStringList>("dates");
        QTest::addColumn<std::vector<int>>("order");

        QTest::newRow("newest first")
            << QStringList{"13:05:09 15.06.26", "12:00:00 15.06.26", "23:59:59 31.12.25"}
            << std::vector<int>{2, 1, 0};
        QTest::newRow("across a year")
            << QStringList{"00:00:01 01.01.27", "23:59:59 31.12.26"} << std::vector<int>{1, 0};
        QTest::newRow("equal keys keep order")
            << QStringList{"10:00:00 01.01.26", "09:00:00 01.01.26", "10:00:00 01.01.26"}
            << std::vector<int>{1, 0, 2};
        QTest::newRow("no key stays") << QStringList{"12:00:00 02.01.26", "", "11:00:00 01.01.26"}
                                      << std::vector<int>{2, 1, 0};
    }
    void sort()
    {
        QFETCH(QStringList, dates);
        QTEST(archive::sortOrder(dates), "order");
    }
};

QTEST_APPLESS_MAIN(TestArchive)
#include "tst_archive.moc"
