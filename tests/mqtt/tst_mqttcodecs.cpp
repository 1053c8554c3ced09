#include "mqtt/mqttsettings.h"
#include "mqtt/rowmessage.h"
#include "support/commalocale.h"

#include <QtTest>

#include <limits>

Q_DECLARE_METATYPE(PolledRow)

// The broker address as configured, and a row as the message a subscriber reads, byte for byte,
// on a desktop that writes 250,1.
class TestMqttCodecs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString why;
        if (useCommaDecimalLocale(&why).isEmpty())
            QFAIL(qPrintable(why));
    }

    void settings_data()
    {
        QTest::addColumn<QStringList>("values"); // url, user, password, cafile
        // "host:port prefix tls" when valid, else a piece of the error text.
        QTest::addColumn<QString>("expected");
        const char *const cases[][5] = {
            {"mqtt://broker.local:1884/plant/line1", "", "", "", "broker.local:1884 plant/line1 0"},
            {"mqtt://10.0.0.5", "", "", "", "10.0.0.5:1883 lorvan 0"},
            {"mqtt://h/", "", "", "", "h:1883 lorvan 0"},
            {"mqtt://h/a/b//", "", "", "", "h:1883 a/b 0"},
            {"MQTTS://h/p", "", "", "", "h:8883 p 1"},
            {"mqtt://h:1883/p", "", "", "/etc/ca.pem", "h:1883 p 1"},
            {"mqtt://[::1]:1900/p", "", "", "", "[::1]:1900 p 0"},
            {" mqtt://[fe80::1] ", "", "", "", "[fe80::1]:1883 lorvan 0"},
            {"mqtt://h/p", "logger", "s3cret,;", "", "h:1883 p 0"},
            {"http://h/p", "", "", "", "схема «http»"},
            {"h:1883/p", "", "", "", "mqtt:// или mqtts://"},
            {"mqtt://:1883/p", "", "", "", "не указан узел"},
            {"mqtt://h:0/p", "", "", "", "порт «0» вне"},
            {"mqtt://h:65536", "", "", "", "порт «65536» вне"},
            {"mqtt://h:18a3/p", "", "", "", "порт «18a3» вне"},
            {"mqtt://h:+1883", "", "", "", "порт «+1883»"},
            {"mqtt://h:/p", "", "", "", "нет номера порта"},
            {"mqtt://my host/p", "", "", "", "символ « »"},
            {"mqtt://[::1:1883/p", "", "", "", "закрывающей"},
            {"mqtt://u:secret@h/p", "", "", "", "ключами user и password"},
            {"mqtt://h/a/+/b#", "", "", "", "«+» и «#»"},
            {"mqtt://h/$SYS", "", "", "", "«$»"},
            {"mqtt://h/p", "", "secret", "", "без имени пользователя"},
        };
        for (const auto &c : cases) {
            QTest::newRow(c[0]) << QStringList{QString::fromUtf8(c[0]), QString::fromUtf8(c[1]),
                                               QString::fromUtf8(c[2]), QString::fromUtf8(c[3])}
                                << QString::fromUtf8(c[4]);
        }
    }

    void settings()
    {
        QFETCH(QStringList, values);
        QFETCH(QString, expected);
        QString why;
        const auto s = mqtt::parseSettings({values[0], values[1], values[2], values[3]}, &why);
        if (s) {
            QCOMPARE(s->hostPort() + u' ' + s->prefix + u' ' + QString::number(s->tls), expected);
            QCOMPARE(QStringList({values[0], s->user, s->password, s->caFile}), values);
        } else {
            QVERIFY2(why.startsWith(u"MQTT: ") && why.contains(expected), qPrintable(why));
            QVERIFY(!why.contains(u"secret"));
        }
    }

    void message_data()
    {
        QTest::addColumn<PolledRow>("row");
        QTest::addColumn<QByteArray>("topic");
        QTest::addColumn<QByteArray>("payload");
        const auto row = [](const char *port, int address, const char *device, qint64 num,
                            QDateTime time, std::array<double, 4> values) {
            return PolledRow{
                QString::fromUtf8(port), address, QString::fromUtf8(device), num, time, values};
        };
        const auto at = [](const char *iso) {
            return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
        };
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();

        QTest::newRow("usual")
            << row("COM1", 115, "Лорван/001/115200", 17, at("2026-12-10T10:15:32.120+03:00"),
                   {250.1, -0.5, 1e6, 0})
            << QByteArray("lorvan/COM1/115/values")
            << QByteArray("{\"time\": \"2026-12-10T10:15:32.120+03:00\", \"device\": "
                          "\"Лорван/001/115200\", \"num\": 17, \"chan1\": 250.1, \"chan2\": -0.5, "
                          "\"chan3\": 1000000, \"chan4\": 0}");
        // What the device sends is a 32-bit float: its own shortest digits, not its double's.
        QTest::newRow("device floats")
            << row("COM2", 1, "Лорван/001/9600", 0, at("2026-12-10T10:15:32.120+03:00"),
                   {double(250.1f), double(-1.3f), double(0.001f), 0.1})
            << QByteArray("lorvan/COM2/1/values")
            << QByteArray("{\"time\": \"2026-12-10T10:15:32.120+03:00\", \"device\": "
                          "\"Лорван/001/9600\", \"num\": 0, \"chan1\": 250.1, \"chan2\": -1.3, "
                          "\"chan3\": 0.001, \"chan4\": 0.1}");
        QTest::newRow("not finite")
            << row("COM12", 1, "", 0, at("2027-01-01T00:00:00.005-09:30"), {nan, inf, -inf, 3.25})
            << QByteArray("lorvan/COM12/1/values")
            << QByteArray(
                   "{\"time\": \"2027-01-01T00:00:00.005-09:30\", \"device\": \"\", \"num\": 0, "
                   "\"chan1\": null, \"chan2\": null, \"chan3\": null, \"chan4\": 3.25}");
        QTest::newRow("utc keeps a numeric offset")
            << row("COM2", 247, "Печь №2", 123456789012,
                   QDateTime(QDate(2026, 6, 1), QTime(23, 59, 59, 999), Qt::UTC),
                   {0.1 + 0.2, 1e-7, -1234.5678, 2e21})
            << QByteArray("lorvan/COM2/247/values")
            << QByteArray(
                   "{\"time\": \"2026-06-01T23:59:59.999+00:00\", \"device\": \"Печь №2\", "
                   "\"num\": 123456789012, \"chan1\": 0.30000000000000004, \"chan2\": 1e-07, "
                   "\"chan3\": -1234.5678, \"chan4\": 2e+21}");
        QTest::newRow("escaping, reserved topic characters, no time")
            << row("by-id/usb+1#", 2, "a\"b\\c\nd\te\x01/ф", 5, QDateTime(), {1, 2, 3, 4})
            << QByteArray("lorvan/by-id_usb_1_/2/values")
            << QByteArray("{\"time\": null, \"device\": \"a\\\"b\\\\c\\nd\\te\\u0001/ф\", "
                          "\"num\": 5, \"chan1\": 1, \"chan2\": 2, \"chan3\": 3, \"chan4\": 4}");
    }

    void message()
    {
        QFETCH(PolledRow, row);
        QTEST(mqtt::rowTopic(QStringLiteral("lorvan"), row), "topic");
        QTEST(mqtt::rowPayload(row), "payload");
    }
};

QTEST_GUILESS_MAIN(TestMqttCodecs)
#include "tst_mqttcodecs.moc"
