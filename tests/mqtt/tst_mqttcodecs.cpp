#include "mqtt/mqttsettings.h"
#include "mqtt/rowmessage.h"
#include "support/commalocale.h"

#include <QtTest>

#include <cmath>
#include <limits>

// The broker address as configured, and a row as the message a subscriber reads, byte for byte.
class TestMqttCodecs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Everything below must come out the same on a desktop that writes 250,1.
        QString why;
        if (useCommaDecimalLocale(&why).isEmpty())
            QFAIL(qPrintable(why));
    }

    void settings_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("cafile");
        // "host:port prefix tls" when valid, else a piece of the error text.
        QTest::addColumn<QString>("expected");

        const QString none;
        QTest::newRow("full") << "mqtt://broker.local:1884/plant/line1" << none << none << none
                              << "broker.local:1884 plant/line1 0";
        QTest::newRow("default port and prefix")
            << "mqtt://10.0.0.5" << none << none << none << "10.0.0.5:1883 lorvan 0";
        QTest::newRow("slash only") << "mqtt://h/" << none << none << none << "h:1883 lorvan 0";
        QTest::newRow("trailing slashes")
            << "mqtt://h/a/b//" << none << none << none << "h:1883 a/b 0";
        QTest::newRow("mqtts") << "MQTTS://h/p" << none << none << none << "h:8883 p 1";
        QTest::newRow("cafile means tls") << "mqtt://h:1883/p" << none << none << "/etc/ca.pem"
                                          << "h:1883 p 1";
        QTest::newRow("ipv6") << "mqtt://[::1]:1900/p" << none << none << none << "[::1]:1900 p 0";
        QTest::newRow("ipv6 default port")
            << " mqtt://[fe80::1] " << none << none << none << "[fe80::1]:1883 lorvan 0";
        QTest::newRow("user and password") << "mqtt://h/p"
                                           << "logger"
                                           << "s3cret,;" << none << "h:1883 p 0";
        QTest::newRow("user only") << "mqtt://h/p"
                                   << "logger" << none << none << "h:1883 p 0";

        QTest::newRow("bad scheme") << "http://h/p" << none << none << none << "схема «http»";
        QTest::newRow("no scheme") << "h:1883/p" << none << none << none << "mqtt:// или mqtts://";
        QTest::newRow("empty") << "" << none << none << none << "mqtt:// или mqtts://";
        QTest::newRow("no host") << "mqtt://:1883/p" << none << none << none << "не указан узел";
        QTest::newRow("no host at all") << "mqtt:///p" << none << none << none << "не указан узел";
        QTest::newRow("port zero") << "mqtt://h:0/p" << none << none << none << "порт «0» вне";
        QTest::newRow("port too big")
            << "mqtt://h:65536" << none << none << none << "порт «65536» вне";
        QTest::newRow("port not a number")
            << "mqtt://h:18a3/p" << none << none << none << "порт «18a3» вне";
        QTest::newRow("port sign") << "mqtt://h:+1883" << none << none << none << "порт «+1883»";
        QTest::newRow("colon without port")
            << "mqtt://h:/p" << none << none << none << "нет номера порта";
        QTest::newRow("space in host")
            << "mqtt://my host/p" << none << none << none << "символ « »";
        QTest::newRow("ipv6 unclosed")
            << "mqtt://[::1:1883/p" << none << none << none << "закрывающей";
        QTest::newRow("credentials in url")
            << "mqtt://u:secret@h/p" << none << none << none << "ключами user и password";
        QTest::newRow("wildcard in prefix")
            << "mqtt://h/a/+/b" << none << none << none << "«+» и «#»";
        QTest::newRow("hash in prefix") << "mqtt://h/a#" << none << none << none << "«+» и «#»";
        QTest::newRow("system prefix") << "mqtt://h/$SYS" << none << none << none << "«$»";
        QTest::newRow("password without user")
            << "mqtt://h/p" << none << "secret" << none << "без имени пользователя";
    }

    void settings()
    {
        QFETCH(QString, url);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, cafile);
        QFETCH(QString, expected);
        QString why;
        const auto s = mqtt::parseSettings({url, user, password, cafile}, &why);
        if (s) {
            QCOMPARE(s->hostPort() + u' ' + s->prefix + u' ' + QString::number(s->tls), expected);
            QCOMPARE(s->user, user);
            QCOMPARE(s->password, password);
            QCOMPARE(s->caFile, cafile);
        } else {
            QVERIFY2(why.contains(expected), qPrintable(why));
            QVERIFY2(why.startsWith(u"MQTT: "), qPrintable(why));
            QVERIFY(!why.contains(u"secret"));
        }
    }

    void message_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("device");
        QTest::addColumn<qint64>("num");
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<QByteArray>("topic");
        QTest::addColumn<QByteArray>("payload");

        const auto at = [](const char *iso) {
            return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
        };
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();

        QTest::newRow("usual") << "COM1" << 115 << "Лорван/001/115200" << qint64(17)
                               << at("2026-12-10T10:15:32.120+03:00")
                               << QList<double>{250.1, -0.5, 1e6, 0}
                               << QByteArray("lorvan/COM1/115/values")
                               << QByteArray("{\"time\": \"2026-12-10T10:15:32.120+03:00\", "
                                             "\"device\": \"Лорван/001/115200\", \"num\": 17, "
                                             "\"chan1\": 250.1, \"chan2\": -0.5, \"chan3\": "
                                             "1000000, \"chan4\": 0}");
        QTest::newRow("not finite")
            << "COM12" << 1 << "" << qint64(0) << at("2027-01-01T00:00:00.005-09:30")
            << QList<double>{nan, inf, -inf, 3.25} << QByteArray("lorvan/COM12/1/values")
            << QByteArray("{\"time\": \"2027-01-01T00:00:00.005-09:30\", "
                          "\"device\": \"\", \"num\": 0, \"chan1\": null, "
                          "\"chan2\": null, \"chan3\": null, \"chan4\": "
                          "3.25}");
        QTest::newRow("utc keeps a numeric offset")
            << "COM2" << 247 << "Печь №2" << qint64(123456789012)
            << QDateTime(QDate(2026, 6, 1), QTime(23, 59, 59, 999), Qt::UTC)
            << QList<double>{0.1 + 0.2, 1e-7, -1234.5678, 2e21}
            << QByteArray("lorvan/COM2/247/values")
            << QByteArray("{\"time\": \"2026-06-01T23:59:59.999+00:00\", \"device\": \"Печь "
                          "№2\", \"num\": 123456789012, \"chan1\": 0.30000000000000004, "
                          "\"chan2\": 1e-07, \"chan3\": -1234.5678, \"chan4\": 2e+21}");
        QTest::newRow("escaping") << "COM3" << 2 << "a\"b\\c\nd\te\x01/ф" << qint64(5)
                                  << at("2026-12-10T10:15:32.000+03:00")
                                  << QList<double>{1, 2, 3, 4} << QByteArray("lorvan/COM3/2/values")
                                  << QByteArray("{\"time\": \"2026-12-10T10:15:32.000+03:00\", "
                                                "\"device\": \"a\\\"b\\\\c\\nd\\te\\u0001/ф\", "
                                                "\"num\": 5, \"chan1\": 1, \"chan2\": 2, "
                                                "\"chan3\": 3, \"chan4\": 4}");
        QTest::newRow("reserved topic characters")
            << "by-id/usb+1#" << 0 << "x" << qint64(1) << QDateTime()
            << QList<double>{1.5, 1.5, 1.5, 1.5} << QByteArray("lorvan/by-id_usb_1_/0/values")
            << QByteArray("{\"time\": null, \"device\": \"x\", \"num\": 1, \"chan1\": 1.5, "
                          "\"chan2\": 1.5, \"chan3\": 1.5, \"chan4\": 1.5}");
    }

    void message()
    {
        QFETCH(QString, port);
        QFETCH(int, address);
        QFETCH(QString, device);
        QFETCH(qint64, num);
        QFETCH(QDateTime, time);
        QFETCH(QList<double>, values);
        PolledRow row;
        row.port = port;
        row.address = address;
        row.device = device;
        row.num = num;
        row.time = time;
        std::copy(values.begin(), values.end(), row.values.begin());
        QTEST(mqtt::rowTopic(QStringLiteral("lorvan"), row), "topic");
        QTEST(mqtt::rowPayload(row), "payload");
    }
};

QTEST_GUILESS_MAIN(TestMqttCodecs)
#include "tst_mqttcodecs.moc"
