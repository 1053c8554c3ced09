#include "platform/cp1251.h"
#include "platform/datafolder.h"
#include "platform/messageservice.h"
#include "platform/portpath.h"
#include "platform/pumpedwait.h"
#include "platform/settings.h"

#include <QStringDecoder>
#include <QtTest>

class TestPlatform : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_dir.filePath("data").toLocal8Bit());
    }

    void cp1251Pairs_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QByteArray("COM1 ok") << QStringLiteral("COM1 ok");
        QTest::newRow("russian") << QByteArray("\xCB\xEE\xF0\xE2\xE0\xED")
                                 << QStringLiteral("Лорван");
        QTest::newRow("yo") << QByteArray("\xA8\xB8") << QStringLiteral("Ёё");
        QTest::newRow("numero, euro, dash") << QByteArray("\xB9\x88\x96") << QStringLiteral("№€–");
        QTest::newRow("ukrainian")
            << QByteArray("\xAA\xBA\xB2\xB3\xAF\xBF\xA5\xB4") << QStringLiteral("ЄєІіЇїҐґ");
        QTest::newRow("degree") << QByteArray("\xB0\x43") << QStringLiteral("°C");
    }
    void cp1251Pairs()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(cp1251::decode(bytes), text);
        QCOMPARE(cp1251::encode(text), bytes);
    }

    void cp1251AgreesWithSystemCodec()
    {
        QStringDecoder system("windows-1251");
        if (!system.isValid())
            QSKIP("no system converter for the code page");
        for (int b = 0; b < 256; ++b) {
            const QByteArray one(1, char(b));
            QCOMPARE(cp1251::decode(one), QString(system.decode(one)));
            QCOMPARE(cp1251::encode(cp1251::decode(one)), one);
        }
    }

    void cp1251Unencodable()
    {
        QCOMPARE(cp1251::encode(QStringLiteral("a\u4E2Db")), QByteArray("a?b"));
        QCOMPARE(cp1251::encode(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
        const unsigned char field[] = {0xD2, 0xE5, 0xF1, 0xF2, 0, 'x', 'y'};
        QCOMPARE(cp1251::decodeField(field, 7), QStringLiteral("Тест"));
        QCOMPARE(cp1251::decodeField(field, 2), QStringLiteral("Те"));
    }

    void portPaths()
    {
        qunsetenv("LORVAN_PORT_DIR");
        QCOMPARE(portDevicePath(1), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(portDevicePath(12), QStringLiteral("/dev/ttyS11"));
        qputenv("LORVAN_PORT_DIR", "/tmp/lines");
        QCOMPARE(portDevicePath(3), QStringLiteral("/tmp/lines/COM3"));
        openSettings()->setValue(QStringLiteral("Ports/COM3"), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(portDevicePath(3), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(portDevicePath(4), QStringLiteral("/tmp/lines/COM4"));
        QCOMPARE(portDisplayName(3), QStringLiteral("COM3"));
        openSettings()->remove(QStringLiteral("Ports"));
        qunsetenv("LORVAN_PORT_DIR");
    }

    void settingsPersist()
    {
        openSettings()->setValue(QStringLiteral("ReadOnLoad"), 1);
        QCOMPARE(openSettings()->value(QStringLiteral("ReadOnLoad")).toInt(), 1);
        QVERIFY(QFile::exists(m_dir.filePath("config/Nordak/LorvanConf.ini")));
    }

    void dataFolderChoice()
    {
        qputenv("LORVAN_HOME", m_dir.filePath("home/sub").toLocal8Bit());
        QCOMPARE(dataFolder(), m_dir.filePath("home/sub"));
        QString error;
        QVERIFY(ensureDataFolder(&error));
        QVERIFY(QDir(m_dir.filePath("home/sub")).exists());
        QCOMPARE(dataFilePath("report.log"), m_dir.filePath("home/sub/report.log"));

        // A folder that cannot be made is reported, not ignored.
        QFile blocker(m_dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("LORVAN_HOME", m_dir.filePath("blocker/inner").toLocal8Bit());
        QVERIFY(!ensureDataFolder(&error));
        QVERIFY(!error.isEmpty());

        qunsetenv("LORVAN_HOME");
        QCOMPARE(dataFolder(), m_dir.filePath("data/Nordak/LorvanConf"));
    }

    void pumpedWaitDeliversEvents()
    {
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(10);
        QElapsedTimer clock;
        clock.start();
        DelayPumping(100);
        QVERIFY(clock.elapsed() >= 100);
        QVERIFY(clock.elapsed() < 400);
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));

        clock.restart();
        DelayPumping(9);
        QVERIFY(clock.elapsed() >= 9);
    }

    void recordingMessages()
    {
        ScopedRecordingMessages record;
        record.answers = {MessageButton::No};
        QCOMPARE(showMessage(QStringLiteral("Остановить опрос?"), QStringLiteral("Внимание"),
                             MessageIcon::Question,
                             int(MessageButton::Yes) | int(MessageButton::No)),
                 MessageButton::No);
        // Without a prepared answer: the first offered button.
        QCOMPARE(showMessage(QStringLiteral("x"), QString(), MessageIcon::Error,
                             int(MessageButton::Yes) | int(MessageButton::No)),
                 MessageButton::Yes);
        QCOMPARE(record.shown.size(), 2);
        QCOMPARE(record.shown[0].caption, QStringLiteral("Внимание"));
        QCOMPARE(record.shown[0].icon, MessageIcon::Question);

        record.fileAnswers = {QStringLiteral("/tmp/a.ini")};
        FileDialogRequest ask;
        ask.kind = FileDialogRequest::Save;
        QCOMPARE(messages().askFileName(ask), QStringLiteral("/tmp/a.ini"));
        QCOMPARE(messages().askFileName(ask), QString()); // then cancelled
        QCOMPARE(record.dialogs.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
