#include "cli/snapshot.h"
#include "cli/subcommands.h"
#include "support/commalocale.h"

#include <QtTest>

// The snapshot text codec and the comparison over it, and the CSV row, as pure functions.
class TestSnapshot : public QObject
{
    Q_OBJECT

    // A device with programs and an archive: channel 1 with one decimal and a range of -100..600,
    // loop 1 on input 1 with a setpoint of 250.0.
    static Snapshot sample()
    {
        Snapshot s;
        s.blocks = snapshotLayout(0x05);
        QByteArray &id = s.blocks[0].bytes;
        id = QByteArray::fromHex("6903050301 1A01040000000509 0C1A16071C");
        for (SnapshotBlock &b : s.blocks) {
            if (b.name == QLatin1String("channel 1"))
                b.bytes = QByteArray::fromHex("900100000000C8C20000164400000000 0A00");
            if (b.name == QLatin1String("loop 1"))
                b.bytes[18] = char(0xC4), b.bytes[19] = char(0x09); // 2500
        }
        return s;
    }

    static SnapshotBlock *blockOf(Snapshot &s, const char *name)
    {
        for (SnapshotBlock &b : s.blocks)
            if (b.name == QLatin1String(name))
                return &b;
        return nullptr;
    }

private slots:
    void textRoundTripsAndShowsScaledFields()
    {
        const Snapshot s = sample();
        const QString text = encodeSnapshot(s);
        QVERIFY(text.contains(QStringLiteral("\nrange end\t600\t00 00 16 44\n")));
        QVERIFY(text.contains(QStringLiteral("\nsetpoint\t250.0\tC4 09\n")));
        QVERIFY(text.contains(QStringLiteral("[program 4] 0x0c56 200\n")));
        QString why;
        const auto back = parseSnapshot(text, &why);
        QVERIFY2(back, qPrintable(why));
        QCOMPARE(*back, s);
        // Without programs in the variant, the layout has none.
        QVERIFY(!snapshotLayout(0x00).contains(*s.block(QStringLiteral("program 1"))));
    }

    void damagedTextIsRefused_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("reason");
        QTest::newRow("header") << "Lorvan settings snapshot 1"
                                << "Lorvan 2"
                                << "first line";
        QTest::newRow("short bytes") << "48\nbytes\t00 00"
                                     << "48\nbytes\t00"
                                     << "needs 48 bytes";
        QTest::newRow("not hex") << "10\nbytes\t00"
                                 << "10\nbytes\tX0"
                                 << "hexadecimal";
        QTest::newRow("block moved") << "[alarms] 0x02ea"
                                     << "[alarms] 0x02ec"
                                     << "alarms missing";
        QTest::newRow("block twice") << "[loop 2 name]"
                                     << "[loop 1 name]"
                                     << "twice";
        QTest::newRow("no bytes") << "\nbytes\t00 00 00 00 00 00 00 00 00 00\n"
                                  << "\n"
                                  << "no bytes line";
    }
    void damagedTextIsRefused()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, reason);
        QString text = encodeSnapshot(sample());
        QVERIFY2(text.contains(from), qPrintable(from));
        text.replace(text.indexOf(from), from.size(), to);
        QString why;
        QVERIFY(!parseSnapshot(text, &why));
        QVERIFY2(why.contains(reason), qPrintable(why));
    }

    void comparisonNamesFieldsAndLeftoverBytes_data()
    {
        QTest::addColumn<QString>("block");
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("withIdentity");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("scaled float")
            << "channel 1" << 11 << 0x45 << false << QStringList{"channel 1\trange end\t600\t2400"};
        // The setpoint follows its input's point position: 250.0 becomes 25.00.
        QTest::newRow("point position") << "channel 1" << 1 << 0x02 << false
                                        << QStringList{"channel 1\tpoint position\t000.0\t00.00",
                                                       "loop 1\tsetpoint\t250.0\t25.00"};
        QTest::newRow("identity ignored") << "identity" << 4 << 0x99 << false << QStringList{};
        QTest::newRow("identity asked")
            << "identity" << 4 << 0x99 << true << QStringList{"identity\tserial\t1A01\t1A99"};
        QTest::newRow("unnamed byte")
            << "program 2" << 199 << 7 << false << QStringList{"program 2\tbyte 199\t00\t07"};
    }
    void comparisonNamesFieldsAndLeftoverBytes()
    {
        QFETCH(QString, block);
        QFETCH(int, byte);
        QFETCH(int, value);
        QFETCH(bool, withIdentity);
        QFETCH(QStringList, expected);
        const Snapshot wanted = sample();
        Snapshot found = wanted;
        blockOf(found, qPrintable(block))->bytes[byte] = char(value);
        QCOMPARE(compareSnapshots(wanted, found, withIdentity), expected);
        QVERIFY(compareSnapshots(wanted, wanted, true).isEmpty());
    }

    void otherTypeOrVariantIsRefused()
    {
        const Snapshot s = sample();
        QVERIFY(snapshotRefusal(s, 3, 0x05).isEmpty());
        QVERIFY(snapshotRefusal(s, 2, 0x05).contains(QStringLiteral("type 3")));
        QVERIFY(snapshotRefusal(s, 3, 0x04).contains(QStringLiteral("variant 0x05")));
    }

    // Spreadsheet programs take the row whatever the desktop's decimal separator.
    void csvRowKeepsFullStopsUnderCommaLocale()
    {
        QString why;
        if (useCommaDecimalLocale(&why).isEmpty())
            QSKIP(qPrintable(why));
        QCOMPARE(QLocale().toString(1.5), QStringLiteral("1,5"));
        QCOMPARE(measurementCsvLine(QStringLiteral("   12"), QStringLiteral("12:00:00 1,2"),
                                    {1.5, std::nullopt, -0.25, 3.0}, 4),
                 QStringLiteral("12,\"12:00:00 1,2\",1.5000,,-0.2500,3.0000\n"));
    }
};

QTEST_GUILESS_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
