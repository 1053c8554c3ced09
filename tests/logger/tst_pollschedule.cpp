#include "logger/pollschedule.h"

#include <QTest>

#include <limits>

// One line in virtual time: each poll takes answerMs when the device answers and the reply window
// failMs when it does not; the log lists "device@start" for every poll and "B@t" / "A@t" where
// the schedule reported a back-off or a first answer after one.
class tst_PollSchedule : public QObject
{
    Q_OBJECT
private slots:
    void line_data()
    {
        QTest::addColumn<QList<qint64>>("periods");
        // A device is silent until this time (0: answers from the start, max: never).
        QTest::addColumn<QList<qint64>>("silentUntil");
        QTest::addColumn<int>("answerMs");
        QTest::addColumn<int>("failMs");
        QTest::addColumn<int>("endMs");
        QTest::addColumn<int>("watched"); // the device whose events are compared, -1 all
        QTest::addColumn<QString>("events");

        const qint64 never = std::numeric_limits<qint64>::max();
        QTest::newRow("each at its own period, ties in line order")
            << QList<qint64>{1000, 2000} << QList<qint64>{0, 0} << 100 << 300 << 4000 << -1
            << "0@0 1@100 0@1000 0@2000 1@2100 0@3000";
        QTest::newRow("a late poll keeps the cadence")
            << QList<qint64>{1000, 1000, 1000} << QList<qint64>{0, 0, 0} << 300 << 300 << 3000 << 2
            << "2@600 2@1600 2@2600";
        QTest::newRow("overloaded line: round robin, no bursts")
            << QList<qint64>{100, 100, 100} << QList<qint64>{0, 0, 0} << 60 << 60 << 480 << -1
            << "0@0 1@60 2@120 0@180 1@240 2@300 0@360 1@420";
        QTest::newRow("two failures are no back-off")
            << QList<qint64>{1000, 1000} << QList<qint64>{0, 1500} << 100 << 300 << 5000 << 1
            << "1@100 1@1100 1@2100 1@3100 1@4100";
        QTest::newRow("dead device: three tries, then once per ten periods")
            << QList<qint64>{1000, 1000} << QList<qint64>{0, never} << 100 << 300 << 25000 << 1
            << "1@100 1@1100 1@2100 B@2400 1@12400 1@22400";
        QTest::newRow("a dead device does not slow the others")
            << QList<qint64>{1000, 1000} << QList<qint64>{0, never} << 100 << 300 << 15000 << 0
            << "0@0 0@1000 0@2000 0@3000 0@4000 0@5000 0@6000 0@7000 0@8000 0@9000 0@10000 "
               "0@11000 0@12000 0@13000 0@14000";
        QTest::newRow("back to its period once it answers")
            << QList<qint64>{1000, 1000} << QList<qint64>{0, 15000} << 100 << 300 << 25000 << 1
            << "1@100 1@1100 1@2100 B@2400 1@12400 1@22400 A@22500 1@23500 1@24500";
        QTest::newRow("several dead devices back off on their own")
            << QList<qint64>{500, 500, 500} << QList<qint64>{never, 0, never} << 50 << 200 << 6500
            << 0 << "0@0 0@500 0@1000 B@1200 0@6200";
    }
    void line()
    {
        QFETCH(QList<qint64>, periods);
        QFETCH(QList<qint64>, silentUntil);
        QFETCH(int, answerMs);
        QFETCH(int, failMs);
        QFETCH(int, endMs);
        QFETCH(int, watched);
        QFETCH(QString, events);

        PollSchedule schedule(periods, 0);
        QStringList log;
        qint64 now = 0;
        while (now < endMs) {
            const int device = schedule.due(now);
            if (device < 0) {
                QVERIFY(schedule.nextDueAt() > now);
                now = schedule.nextDueAt();
                continue;
            }
            const bool answers = now >= silentUntil[device];
            const qint64 end = now + (answers ? answerMs : failMs);
            const PollSchedule::Change change = schedule.record(device, end, answers);
            if (watched < 0 || watched == device) {
                log << QStringLiteral("%1@%2").arg(device).arg(now);
                if (change == PollSchedule::Change::BackedOff)
                    log << QStringLiteral("B@%1").arg(end);
                if (change == PollSchedule::Change::Answers)
                    log << QStringLiteral("A@%1").arg(end);
            }
            QCOMPARE(schedule.backedOff(device), schedule.failures(device) >= 3);
            now = end;
        }
        QCOMPARE(log.join(QLatin1Char(' ')), events);
    }
};

QTEST_APPLESS_MAIN(tst_PollSchedule)
#include "tst_pollschedule.moc"
