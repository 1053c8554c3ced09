#include "logger/loggerconfig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The service's configuration file as an administrator writes it: what is taken, what is
// refused, and where relative names lead.
class tst_LoggerConfig : public QObject
{
    Q_OBJECT
private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("text");
        // "network|data|pause|ports|url|user|password", @ for the file's folder; or the error.
        QTest::addColumn<QString>("expected");
        QTest::newRow("everything")
            << QByteArray("[logger]\nnetwork = /var/lib/lorvan/plant.ini\ndata = /srv/tables\n"
                          "pause = 20\n[ports]\nCOM1 = /dev/ttyUSB0\ncom12 = /dev/ttyS4\n"
                          "[mqtt]\nurl = mqtt://broker:1883/plant\nuser = lorvan\n"
                          "password = \"p;w=x\"\n")
            << "/var/lib/lorvan/plant.ini|/srv/tables|20|1=/dev/ttyUSB0 12=/dev/ttyS4|"
               "mqtt://broker:1883/plant|lorvan|p;w=x";
        QTest::newRow("relative names from the file's folder, defaults")
            << QByteArray("[logger]\nnetwork = nets/plant.ini\n[ports]\nCOM2 = ports/COM2\n")
            << "@/nets/plant.ini||50|2=@/ports/COM2|||";
        QTest::newRow("unquoted commas are not a list")
            << QByteArray("[mqtt]\nurl = mqtt://b/p\npassword = a,b,c\n")
            << "||50||mqtt://b/p||a,b,c";
        QTest::newRow("Cyrillic path")
            << QByteArray("[logger]\nnetwork = /данные/цех.ini\n") << "/данные/цех.ini||50||||";
        QTest::newRow("pause not a number")
            << QByteArray("[logger]\npause = fast\n") << "error: pause = fast";
        QTest::newRow("pause too long")
            << QByteArray("[logger]\npause = 20000\n") << "error: pause = 20000";
        QTest::newRow("port key not a COM name")
            << QByteArray("[ports]\nttyUSB0 = /dev/ttyUSB0\n") << "error: ключ ttyUSB0";
    }
    void read()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("logger.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        QString error;
        const auto config = readLoggerConfig(path, &error);
        if (expected.startsWith(QLatin1String("error: "))) {
            QVERIFY(!config);
            QVERIFY2(error.startsWith(QStringLiteral("Файл настройки %1: ").arg(path)),
                     qPrintable(error));
            QVERIFY2(error.contains(expected.mid(7)), qPrintable(error));
            return;
        }
        QVERIFY2(config, qPrintable(error));
        QStringList ports;
        for (auto p = config->ports.cbegin(); p != config->ports.cend(); ++p)
            ports << QStringLiteral("%1=%2").arg(p.key()).arg(p.value());
        const QStringList fields{
            config->networkFile,          config->dataFolder, QString::number(config->pauseMs),
            ports.join(QLatin1Char(' ')), config->mqtt.url,   config->mqtt.user,
            config->mqtt.password};
        const QString got = fields.join(QLatin1Char('|'));
        QCOMPARE(got, QString(expected).replace(QLatin1Char('@'), dir.path()));
    }

    void missingFile()
    {
        QString error;
        QVERIFY(!readLoggerConfig(QStringLiteral("/nonexistent/logger.conf"), &error));
        QVERIFY2(error.contains(QLatin1String("/nonexistent/logger.conf")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(tst_LoggerConfig)
#include "tst_loggerconfig.moc"
