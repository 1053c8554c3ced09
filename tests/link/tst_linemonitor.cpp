// The passive line decoder over byte streams written out by hand: what it makes of requests,
// replies, faults and noise, and that cutting the stream into other chunks changes nothing.

#include "link/linemonitor.h"

#include <QtTest>

namespace {

using Kind = LineEvent::Kind;

// One character per event: q request, r reply, u unpaired, a unanswered, n noise, m malformed.
QString kinds(const QList<LineEvent> &events)
{
    QString out;
    for (const LineEvent &e : events)
        out += QLatin1Char("qruanm"[int(e.kind)]);
    return out;
}

QList<LineEvent> decode(const QByteArray &stream, int chunk)
{
    LineDecoder d;
    QList<LineEvent> events;
    for (qsizetype i = 0; i < stream.size(); i += chunk)
        events += d.feed(stream.mid(i, chunk), double(i));
    events += d.finish(double(stream.size()));
    return events;
}

} // namespace

class TestLineMonitor : public QObject
{
    Q_OBJECT

private slots:
    void streams_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("kinds");
        QTest::addColumn<QString>("first"); // the first event as printed, without its stamp
        QTest::addColumn<QString>("second");
        // LRCs worked out by hand: 0x100 minus the byte sum, low byte.
        const QByteArray read = ":010400000002F9\r\n";
        const QByteArray readReply = ":0104040000A04116\r\n";
        QTest::newRow("read and its reply")
            << read + readReply << "qr"
            << "request addr 1 fn 4 start 0 count 2 LRC good"
            << "reply   addr 1 fn 4 bytes 4 data 00 00 A0 41 regs 0 41025 LRC good reply 19.0 ms";
        QTest::newRow("write of two registers and its echo")
            << QByteArray(":011004B00002040001000232\r\n:011004B0000239\r\n") << "qr"
            << "request addr 1 fn 16 start 1200 count 2 bytes 4 data 00 01 00 02 regs 1 2 LRC good"
            << "reply   addr 1 fn 16 start 1200 count 2 LRC good reply 17.0 ms";
        QTest::newRow("exception reply")
            << QByteArray(":020300000009F2\r\n:02830279\r\n") << "qr"
            << "request addr 2 fn 3 start 0 count 9 LRC good"
            << "reply   addr 2 fn 131 exception 2 LRC good reply 11.0 ms";
        QTest::newRow("reply with its LRC off by one")
            << read + ":0104040000A04117\r\n"
            << "qr"
            << "request addr 1 fn 4 start 0 count 2 LRC good"
            << "reply   addr 1 fn 4 bytes 4 data 00 00 A0 41 regs 0 41025 LRC wrong reply 19.0 ms";
        QTest::newRow("noise before the reply")
            << read + QByteArray("\x00\xFF?~", 4) + readReply << "qnr"
            << "request addr 1 fn 4 start 0 count 2 LRC good"
            << "noise 4 chars <00><FF>?~";
        QTest::newRow("request not answered, then another")
            << read + read + readReply << "qaqr"
            << "request addr 1 fn 4 start 0 count 2 LRC good"
            << "unanswered addr 1 fn 4 request of 17.0 ms before";
        QTest::newRow("reply of another device is not the reply")
            << read + ":0204040000A04115\r\n"
            << "qua"
            << "request addr 1 fn 4 start 0 count 2 LRC good"
            << "unpaired reply addr 2 fn 4 bytes 4 data 00 00 A0 41 regs 0 41025 LRC good";
        QTest::newRow("reply cut off by the next request")
            << read + ":0104040000A0" + read << "qmaqa"
            << "request addr 1 fn 4 start 0 count 2 LRC good"
            << "malformed :0104040000A0";
        QTest::newRow("not hexadecimal") << QByteArray(":01XY\r\n") << "m"
                                         << "malformed :01XY<CR><LF>"
                                         << "";
        QTest::newRow("request to any address, answered by one")
            << QByteArray(":000300000001FC\r\n") + ":0303020001F7\r\n"
            << "qr"
            << "request addr 0 fn 3 start 0 count 1 LRC good"
            << "reply   addr 3 fn 3 bytes 2 data 00 01 regs 1 LRC good reply 15.0 ms";
    }
    void streams()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QString, kinds);
        QFETCH(QString, first);
        QFETCH(QString, second);
        const QList<LineEvent> whole = decode(stream, int(stream.size()));
        const QList<LineEvent> bytewise = decode(stream, 1);
        QCOMPARE(::kinds(bytewise), kinds);
        QCOMPARE(::kinds(whole), kinds);
        QCOMPARE(formatLineEvent(bytewise.value(0), QString()).mid(1), first);
        if (!second.isEmpty())
            QCOMPARE(formatLineEvent(bytewise.value(1), QString()).mid(1), second);
        for (qsizetype i = 0; i < whole.size(); ++i)
            QCOMPARE(whole[i].text, bytewise[i].text);
    }

    void csvRow()
    {
        const QList<LineEvent> events = decode(":010400000002F9\r\n:0104040000A04116\r\n", 1);
        QCOMPARE(lineEventCsvHeader().count(QLatin1Char(',')),
                 lineEventCsv(events[1], QStringLiteral("10:00:00.000")).count(QLatin1Char(',')));
        QCOMPARE(lineEventCsv(events[1], QStringLiteral("10:00:00.000")),
                 QStringLiteral("10:00:00.000,reply,1,4,,,4,00 00 A0 41,0 41025,,good,19.0,"
                                "\":0104040000A04116<CR><LF>\""));
    }
};

QTEST_GUILESS_MAIN(TestLineMonitor)
#include "tst_linemonitor.moc"
