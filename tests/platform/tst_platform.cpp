#include "platform/cp1251.h"
#include "platform/datafolder.h"
#include "platform/messageservice.h"
#include "platform/portpath.h"
#include "platform/portproblem.h"
#include "platform/pumpedwait.h"
#include "platform/serialdevices.h"
#include "platform/settings.h"

#include <QStringDecoder>
#include <QTemporaryFile>
#include <QtTest>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

    void portNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("opened");
        QTest::newRow("assigned") << "COM3"
                                  << "/dev/serial/by-id/usb-X";
        QTest::newRow("lower case, blanks") << " com3 "
                                            << "/dev/serial/by-id/usb-X";
        QTest::newRow("default rule") << "COM2"
                                      << "/dev/ttyS1";
        QTest::newRow("no number") << "COM"
                                   << "COM";
        QTest::newRow("zero") << "COM0"
                              << "COM0";
        QTest::newRow("a file named so") << "./COM3"
                                         << "./COM3";
        QTest::newRow("a path") << "/dev/ttyACM0"
                                << "/dev/ttyACM0";
    }
    void portNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, opened);
        qunsetenv("LORVAN_PORT_DIR");
        setAssignedPort(3, QStringLiteral("/dev/serial/by-id/usb-X"));
        QCOMPARE(resolvePortName(typed), opened);
        QCOMPARE(portAssignedTo(QStringLiteral("/dev/serial/by-id/usb-X")), 3);
        QCOMPARE(portAssignedTo(QStringLiteral("/dev/ttyUSB0")), 0);
        setAssignedPort(3, QString());
        QCOMPARE(assignedPort(3), QString());
    }

    // A tree of sysfs and /dev as the kernel lays it out, made from lines "d path", "f path=text"
    // and "l path=target"; the devices expected as "stable|device|description", with @ for the
    // tree's root.
    void serialDevices_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("expected");
        const QStringList usbConverter = {
            "f sys/devices/pci0/usb1/1-2/idVendor=0403",
            "f sys/devices/pci0/usb1/1-2/manufacturer=Acme\n",
            "f sys/devices/pci0/usb1/1-2/product=RS485 Cable",
            "f sys/devices/pci0/usb1/1-2/serial=A1B2",
            "d sys/devices/pci0/usb1/1-2/1-2:1.0/ttyUSB0",
            "d sys/class/tty/ttyUSB1",
            "l sys/class/tty/ttyUSB1/device=../../../devices/pci0/usb1/1-2/1-2:1.0/ttyUSB0",
            "f dev/ttyUSB1="};
        QTest::newRow("nothing there") << QStringList() << QStringList();
        QTest::newRow("converter by its stable name")
            << (usbConverter + QStringList{"l dev/serial/by-id/usb-Acme_RS485-if00=../../ttyUSB1"})
            << QStringList{"@/dev/serial/by-id/usb-Acme_RS485-if00|@/dev/ttyUSB1|"
                           "Acme RS485 Cable, серийный номер A1B2"};
        QTest::newRow("converter without a by-id link")
            << usbConverter
            << QStringList{"@/dev/ttyUSB1|@/dev/ttyUSB1|Acme RS485 Cable, серийный номер A1B2"};
        QTest::newRow("modem class device one level up")
            << QStringList{"f sys/devices/usb1/3-1/idVendor=2341",
                           "f sys/devices/usb1/3-1/idProduct=0043",
                           "d sys/devices/usb1/3-1/3-1:1.0", "d sys/class/tty/ttyACM0",
                           "l sys/class/tty/ttyACM0/device=../../../devices/usb1/3-1/3-1:1.0"}
            << QStringList{"@/dev/ttyACM0|@/dev/ttyACM0|USB 2341:0043"};
        QTest::newRow("ttyS only with a UART, in number order")
            << QStringList{"f sys/class/tty/ttyS10/type=4", "f sys/class/tty/ttyS2/type=4",
                           "f sys/class/tty/ttyS1/type=0", "d sys/class/tty/ttyS3"}
            << QStringList{"@/dev/ttyS2|@/dev/ttyS2|встроенный последовательный порт",
                           "@/dev/ttyS10|@/dev/ttyS10|встроенный последовательный порт"};
        QTest::newRow("board and radio ports, no consoles")
            << QStringList{"d sys/class/tty/rfcomm0", "d sys/class/tty/ttyAMA0",
                           "d sys/class/tty/tty1", "d sys/class/tty/console",
                           "d sys/class/tty/ptmx"}
            << QStringList{"@/dev/ttyAMA0|@/dev/ttyAMA0|последовательный порт платы",
                           "@/dev/rfcomm0|@/dev/rfcomm0|последовательный порт Bluetooth"};
        QTest::newRow("every by-id entry, whatever it points to")
            << QStringList{"l dev/serial/by-id/usb-Sim-port0=/dev/pts/4242",
                           "l dev/serial/by-id/usb-Gone=../../ttyUSB7"}
            << QStringList{"@/dev/serial/by-id/usb-Gone|@/dev/ttyUSB7|",
                           "@/dev/serial/by-id/usb-Sim-port0|/dev/pts/4242|"};
    }
    void serialDevices()
    {
        QFETCH(QStringList, tree);
        QFETCH(QStringList, expected);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        for (const QString &line : tree) {
            const QString entry = line.mid(2).section(QLatin1Char('='), 0, 0);
            const QString value = line.mid(2).section(QLatin1Char('='), 1);
            const QString path = root.filePath(entry);
            QVERIFY(QDir().mkpath(line.startsWith('d') ? path : QFileInfo(path).path()));
            if (line.startsWith('f')) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(value.toUtf8());
            } else if (line.startsWith('l')) {
                QVERIFY(QFile::link(value, path));
            }
        }
        QStringList found;
        for (const SerialDevice &d : listSerialDevices(root.path()))
            found << QStringList{d.stableName, d.device, d.description}.join('|').replace(
                root.path(), QStringLiteral("@"));
        QCOMPARE(found, expected);
    }

    void portExplanations_data()
    {
        QTest::addColumn<QString>("portName");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << "COM2" << int(PortProblem::Missing) << ""
                                 << "Порт COM2 (/dev/ttyS1) отсутствует. Назначьте порт: Сеть → "
                                    "Назначение портов.";
        QTest::newRow("missing typed path")
            << "/dev/ttyS1" << int(PortProblem::Missing) << ""
            << "Порт /dev/ttyS1 отсутствует. Назначьте порт: Сеть → Назначение портов.";
        QTest::newRow("forbidden") << "COM2" << int(PortProblem::Forbidden) << "dialout"
                                   << "Порт COM2 (/dev/ttyS1) недоступен: устройство принадлежит "
                                      "группе dialout, а у вас нет прав на него. Добавьте себя в "
                                      "группу командой\nsudo usermod -aG dialout $USER\nи "
                                      "войдите в систему заново.";
        QTest::newRow("busy, holder known")
            << "COM2" << int(PortProblem::Busy) << "LorvanConf, процесс 812"
            << "Порт COM2 (/dev/ttyS1) занят программой LorvanConf, процесс 812. Закройте её или "
               "выберите другой порт.";
        QTest::newRow("busy, held by the logging service")
            << "COM2" << int(PortProblem::Busy) << "lorvan-logger, процесс 4711"
            << "Порт COM2 (/dev/ttyS1) занят службой регистрации (lorvan-logger, процесс 4711): "
               "она опрашивает приборы этой линии. Остановите её командой\nsudo systemctl stop "
               "lorvan-logger\nили выберите другой порт.";
        QTest::newRow("busy, holder unknown")
            << "COM2" << int(PortProblem::Busy) << ""
            << "Порт COM2 (/dev/ttyS1) занят другой программой. Закройте её или выберите другой "
               "порт.";
        QTest::newRow("none") << "COM2" << int(PortProblem::None) << ""
                              << "";
    }
    void portExplanations()
    {
        QFETCH(QString, portName);
        QFETCH(int, kind);
        QFETCH(QString, detail);
        QFETCH(QString, text);
        PortProblem problem;
        problem.kind = PortProblem::Kind(kind);
        problem.path = QStringLiteral("/dev/ttyS1");
        problem.group = problem.holder = detail;
        QCOMPARE(explainPortProblem(portName, problem), text);
    }

    void lockTable_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<int>("pid");
        // Device 0:5 (hex 00:05), inode 87, as the kernel lists an advisory lock on a device node.
        QTest::newRow("holder") << QByteArray("1: POSIX  ADVISORY  WRITE 77 00:19:87 0 EOF\n"
                                              "2: FLOCK  ADVISORY  WRITE 4321 00:05:87 0 EOF\n")
                                << 4321;
        QTest::newRow("waiter is not the holder")
            << QByteArray("2: FLOCK  ADVISORY  WRITE 4321 00:05:87 0 EOF\n"
                          "2: -> FLOCK  ADVISORY  WRITE 99 00:05:87 0 EOF\n")
            << 4321;
        QTest::newRow("same inode, other file system")
            << QByteArray("3: FLOCK  ADVISORY  WRITE 5 00:06:87 0 EOF\n") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
    }
    void lockTable()
    {
        QFETCH(QByteArray, table);
        QFETCH(int, pid);
        QCOMPARE(lockHolderPid(table, makedev(0, 5), 87), pid);
    }

    // The group comes from the device file itself, whoever runs the check.
    void forbiddenNamesTheFilesGroup()
    {
        const group *dialout = ::getgrnam("dialout");
        if (!dialout)
            QSKIP("no group dialout on this system");
        QTemporaryFile device;
        QVERIFY(device.open());
        QVERIFY(::chown(QFile::encodeName(device.fileName()).constData(), ::getuid(),
                        dialout->gr_gid) == 0);
        const PortProblem p = diagnosePortFailure(device.fileName(), EACCES);
        QCOMPARE(p.kind, PortProblem::Forbidden);
        QCOMPARE(p.group, QStringLiteral("dialout"));
        QCOMPARE(diagnosePortFailure(QStringLiteral("/nonexistent/ttyUSB9"), ENOENT).kind,
                 PortProblem::Missing);
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
