#include "tests/support/configuratortestenv.h"
#include "tests/support/pollingtestenv.h"

#include "device/commonblock.h"
#include "device/imagefields.h"
#include "device/programblock.h"
#include "device/registermap.h"
#include "editors/alarmwindow.h"
#include "editors/archdatawindow.h"
#include "editors/channelconfigwindow.h"
#include "editors/configwindow.h"
#include "editors/contursconfigwindow.h"
#include "editors/numericfield.h"
#include "editors/programcontrolwindow.h"
#include "link/frame.h"
#include "platform/cp1251.h"
#include "platform/settings.h"
#include "tests/support/exportfiles.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

namespace {

constexpr int kAddress = 5;

QByteArray floatBytes(float v)
{
    QByteArray b(4, '\0');
    std::memcpy(b.data(), &v, 4); // the PC and the device both keep floats low byte first
    return b;
}

// Loop 1's points: Yi0 of 12.34 and the two registers the window does not edit.
const QByteArray kLinearization = QByteArray::fromHex(
    "d204" + QByteArray("0000").repeated(9) + "a1b2" + QByteArray("0000").repeated(10) + "c3d4");

} // namespace

// The configuration and channel windows against a simulated device: what they read, what they
// write, and the device's registers afterwards as the command-line tool reads them.
class TestSettingsEditors : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    // The configurator's timers run on it; the exchanges with the simulator take real time.
    VirtualClock m_clock;
    std::unique_ptr<devsim::DeviceSimulator> m_sim;
    std::unique_ptr<Configurator> m_conf;
    std::unique_ptr<WatchingMessages> m_messages;
    QMutex m_logLock;
    QStringList m_log;
    QList<QUrl> m_opened;

    devsim::DeviceSetup device()
    {
        devsim::DeviceSetup d;
        d.address = kAddress;
        d.speedCode = 0;
        d.channels[0] = {true, 1, 1, 0, -50, 1100, QStringLiteral("Печь")};
        d.channels[1] = {true, 0, 2, 1, 0, 500, QStringLiteral("Вход 2")};
        d.channels[2] = {false, 3, 4, 2, -12.5f, 80.25f, QStringLiteral("Вход 3")};
        d.channels[3] = {true, 2, 1, 1, 4, 20, QStringLiteral("Вход 4")};
        // Common block: time correction −3, flags 0x41, bytes 2/3 and 6/7 of other owners,
        // button 1 = "Запуск программы" on loop 2 (0x15).
        d.holdingBytes.append(
            {regmap::kCommonBlock, QByteArray::fromHex("fd41aa5558022a2b15000102")});
        d.holdingBytes.append(
            {regmap::kDisplaySelection, QByteArray::fromHex("0102030405060708090a")});
        d.holdingBytes.append(
            {regmap::kAccessCodes, floatBytes(1111) + floatBytes(2222) + floatBytes(3333)});
        return d;
    }

    void start(const devsim::DeviceSetup &d)
    {
        devsim::LineSetup line;
        line.devices = {d};
        devsim::Scenario s;
        s.lines = {line};
        m_sim = std::make_unique<devsim::DeviceSimulator>();
        m_sim->setLogger([this](const QString &l) {
            QMutexLocker lock(&m_logLock);
            m_log.append(l);
        });
        m_sim->load(s);
        QString error;
        QVERIFY2(m_sim->start(m_dir.filePath("ports"), &error), qPrintable(error));
        openWindows();
        addPolledDevices(main(), {{kAddress, 0, 30}}, m_dir.filePath("tables"));
    }

    void openWindows()
    {
        m_conf = std::make_unique<Configurator>(m_clock);
        main().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main()));
        QTRY_VERIFY(main().isActivated());
    }

    MainWindow &main() { return *m_conf->main; }
    Session &session() { return m_conf->session; }
    const DeviceNode &record() { return *session().network().device(0); }

    ConfigWindow *config()
    {
        return static_cast<ConfigWindow *>(main().settingsWindow(FeatureCode::Config));
    }
    AlarmWindow *alarms()
    {
        return static_cast<AlarmWindow *>(main().settingsWindow(FeatureCode::Alarms));
    }
    ChannelConfigWindow *channels()
    {
        return static_cast<ChannelConfigWindow *>(main().settingsWindow(FeatureCode::Channels));
    }
    template <typename T> T *in(QWidget *window, const QString &name)
    {
        T *c = window->findChild<T *>(name);
        if (!c)
            qWarning("no control %s", qPrintable(name));
        return c;
    }

    // The command-line tool's output, nothing when it failed. Pumped, so that nothing of this
    // process waits on the line meanwhile.
    std::optional<QByteArray> runCli(int address, int speed, const QStringList &command)
    {
        QProcess cli;
        cli.start(QStringLiteral(LORVAN_CLI_PATH),
                  QStringList{QStringLiteral("--port"), m_dir.filePath("ports/COM1"),
                              QStringLiteral("--baud"), QString::number(speed),
                              QStringLiteral("--addr"), QString::number(address)} +
                      command);
        QDeadlineTimer deadline(10000);
        while (cli.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(5);
        if (cli.state() != QProcess::NotRunning || cli.exitCode() != 0)
            return std::nullopt;
        return cli.readAllStandardOutput();
    }

    // Holding registers as the command-line tool reads them (other reads as it prints them);
    // empty when it gets no answer.
    QByteArray cliRead(int address, int speed, int start, int count,
                       const QString &command = QStringLiteral("read-holding"))
    {
        const auto out =
            runCli(address, speed, {command, QString::number(start), QString::number(count)});
        if (!out)
            return {};
        QByteArray text = out->simplified();
        return command == QLatin1String("read-holding") ? QByteArray::fromHex(text.replace(' ', ""))
                                                        : text;
    }

    bool cliWrite(int address, int start, const QByteArray &bytes)
    {
        return runCli(address, 9600,
                      {QStringLiteral("write-holding"), QString::number(start),
                       QString::fromLatin1(bytes.toHex())})
            .has_value();
    }

    // Loop 1 on X2 (p = 1) with no output code, loop 2 on X1 (p = 0) and Y2, both on; loop 1's
    // hidden byte, hundredths of Vzd and A1, and points as no window would write them.
    devsim::DeviceSetup loopDevice()
    {
        devsim::DeviceSetup d = device();
        d.inputs[1] = {123.4, 0, 60};
        d.loops[0] = {true, 2, 0, 0, 25.5, 2, 0.5f, 0, QStringLiteral("Печь-1")};
        d.loops[1] = {true, 1, 2, 2, 100, 1, 0, 0, QStringLiteral("Печь-2")};
        d.holdingBytes.append({regmap::loopMain(1) + 17, QByteArray::fromHex("a5")});
        d.holdingBytes.append({regmap::loopMain(1) + 20, QByteArray::fromHex("d2042efb")});
        d.holdingBytes.append({regmap::loopTuning(1), kLinearization});
        d.coils.append({regmap::manualModeCoil(1), true});
        return d;
    }

    // An archive of X1 (p = 0) and X3 (p = 2) every minute, 300 records that begin near the
    // ring's end and go on from its start; the slots around them hold older records under
    // mark 1. Recording is off, so nothing new arrives during a test; loop 1 is in manual mode
    // (coil 4).
    devsim::DeviceSetup archiveDevice()
    {
        devsim::DeviceSetup d = device();
        d.clock = QDateTime(QDate(2026, 6, 15), QTime(12, 0, 30), Qt::UTC);
        d.inputs[0] = {123, 0, 60};
        d.inputs[2] = {-5, 0, 60};
        d.archive = {false, 60, 0x05, 2, 300, 32000};
        d.holdingBytes[0].second = QByteArray::fromHex("fd41aa553c00852b15000102");
        d.coils.append({regmap::manualModeCoil(1), true});
        return d;
    }

    ArchDataWindow *archiveWindow()
    {
        return static_cast<ArchDataWindow *>(main().settingsWindow(FeatureCode::Archive));
    }

    QStringList gridRow(QTableWidget *grid, int row)
    {
        QStringList texts;
        for (int c = 0; c < grid->columnCount(); ++c)
            texts << (grid->item(row, c) ? grid->item(row, c)->text() : QString());
        return texts;
    }

    ProgramControlWindow *programWindow()
    {
        return static_cast<ProgramControlWindow *>(main().settingsWindow(FeatureCode::Programs));
    }

    ContursConfigWindow *loops()
    {
        return static_cast<ContursConfigWindow *>(main().settingsWindow(FeatureCode::Loops));
    }

    // What the command-line tool prints for a command to the device; empty without an answer.
    QByteArray cli(const QStringList &command)
    {
        return runCli(kAddress, 9600, command).value_or(QByteArray()).trimmed();
    }

    QStringList messageTexts() const
    {
        QStringList texts;
        for (const MessageRequest &r : std::as_const(m_messages->shown))
            texts.append(r.text);
        return texts;
    }

    int requestsMatching(const QString &fragment)
    {
        QMutexLocker lock(&m_logLock);
        return int(std::count_if(m_log.cbegin(), m_log.cend(), [&](const QString &l) {
            return l.contains(QLatin1String(" <- ")) && l.toUpper().contains(fragment);
        }));
    }

public slots:
    // Stands in for the desktop's spreadsheet program.
    void openUrl(const QUrl &url) { m_opened.append(url); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
    }

    void init()
    {
        openSettings()->clear();
        m_messages = std::make_unique<WatchingMessages>();
        QMutexLocker lock(&m_logLock);
        m_log.clear();
    }

    void cleanup()
    {
        m_conf.reset();
        m_sim.reset();
        m_messages.reset();
    }

    // Read, edit and write the general configuration; the device's registers hold exactly the
    // composed bytes, and the identity write carries the selected device's own identity.
    void configurationRoundTrip()
    {
        start(device());
        ConfigWindow *w = config();
        in<QPushButton>(w, "ButtonConfigRead")->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(in<QComboBox>(w, "ComboNalovFunc1")->currentText(),
                 QStringLiteral("Запуск программы"));
        QVERIFY(in<QCheckBox>(w, "CheckNalovKont1")->isChecked());
        QCOMPARE(in<QCheckBox>(w, "CheckNalovKont1")->text(), QStringLiteral("№2"));
        QCOMPARE(in<NumericField>(w, "EditPoprT")->value(), -3.0);
        QCOMPARE(in<NumericField>(w, "EditCycleRegistr")->value(), 600.0);
        QVERIFY(in<QCheckBox>(w, "CheckNalovOn")->isChecked());
        QVERIFY(in<QCheckBox>(w, "CheckTermoComp")->isChecked());
        QVERIFY(!in<QCheckBox>(w, "CheckOneChan")->isChecked());
        QCOMPARE(in<NumericField>(w, "EditPass2")->value(), 2222.0);
        QCOMPARE(in<QComboBox>(w, "ComboView10")->currentText(), QStringLiteral("10"));
        QCOMPARE(in<QLabel>(w, "StaticSerial2")->text(), QStringLiteral(" 1234 "));
        QCOMPARE(in<QLineEdit>(w, "EditNetAdr")->text(), QStringLiteral("005"));

        in<QComboBox>(w, "ComboNalovFunc2")->setCurrentIndex(5);
        in<QCheckBox>(w, "CheckNalovKont2")->setChecked(true);
        in<QCheckBox>(w, "CheckNalovOn")->setChecked(false);
        in<QCheckBox>(w, "CheckOneChan")->setChecked(true);
        in<NumericField>(w, "EditPoprT")->setValue(12);
        in<NumericField>(w, "EditPass2")->setValue(4321);
        in<QComboBox>(w, "ComboView1")->setCurrentIndex(10); // the empty item
        // Another device's identity in the image must not reach this one.
        std::fill_n(session().line().images.holding.begin(), 6, std::uint8_t(0x77));
        in<QPushButton>(w, "ButtonSaveConfig")->click();
        QCOMPARE(messageTexts(), QStringList());

        const QByteArray block = cliRead(kAddress, 9600, 1179, 7);
        QCOMPARE(block.left(12), QByteArray::fromHex("0c81aa5558022a2b15150102"));
        CommonBlock::Bytes bytes{};
        std::copy(block.begin(), block.end(), bytes.begin());
        QVERIFY(CommonBlock(bytes).checkValueMatches());
        QCOMPARE(cliRead(kAddress, 9600, 1229, 7), block);
        QCOMPARE(cliRead(kAddress, 9600, 210, 5), QByteArray::fromHex("0b02030405060708090a"));
        QCOMPARE(cliRead(kAddress, 9600, 261, 6),
                 floatBytes(1111) + floatBytes(4321) + floatBytes(3333));
        QCOMPARE(cliRead(kAddress, 9600, 0, 4), QByteArray::fromHex("6903050334120500"));
        // The clock was not typed: the identity write stops short of it.
        QCOMPARE(requestsMatching(QStringLiteral(":051000000006")), 1);
        QCOMPARE(requestsMatching(QStringLiteral(":051000000009")), 0);
    }

    // A typed clock goes out with the identity; an impossible date turns the field red and is
    // not taken.
    void typedClock()
    {
        start(device());
        ConfigWindow *w = config();
        in<QPushButton>(w, "ButtonConfigRead")->click();
        auto *date = in<QLineEdit>(w, "MaskEditData");
        date->setFocus();
        date->selectAll();
        QTest::keyClicks(date, QStringLiteral("310426"));
        QCOMPARE(date->palette().color(QPalette::Base), QColor(Qt::red));
        date->selectAll();
        QTest::keyClicks(date, QStringLiteral("010226"));
        QVERIFY(date->palette().color(QPalette::Base) != QColor(Qt::red));
        // The device's clock moved on since the read (here: set to 01.01.20 03:04:05): the
        // untyped time is the device's as it is now, not as the read found it.
        QVERIFY(cliWrite(kAddress, 6, QByteArray::fromHex("010114030405")));
        in<QPushButton>(w, "ButtonSaveConfig")->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(requestsMatching(QStringLiteral(":050300060003")), 1);
        QCOMPARE(requestsMatching(QStringLiteral(":051000000009")), 1);
        const QByteArray clock = cliRead(kAddress, 9600, 6, 3);
        QCOMPARE(clock.left(5), QByteArray::fromHex("01021a0304"));
        QVERIFY(clock[5] >= 5 && clock[5] < 15);
    }

    // Half a clock typed, and the device does not answer the clock read: nothing is written.
    void halfClockWithoutAnswerWritesNothing()
    {
        start(device());
        ConfigWindow *w = config();
        in<QPushButton>(w, "ButtonConfigRead")->click();
        QCOMPARE(messageTexts(), QStringList());
        QVERIFY(m_sim->withDevice(1, kAddress, [](devsim::SimDevice &dev) {
            devsim::FaultSettings clockUnread;
            clockUnread.refusedReads = {{6, 8}};
            dev.setFaults(clockUnread);
        }));
        auto *time = in<QLineEdit>(w, "MaskEditTime");
        time->setFocus();
        time->selectAll();
        QTest::keyClicks(time, QStringLiteral("120000"));
        in<QPushButton>(w, "ButtonSaveConfig")->click();
        QCOMPARE(messageTexts(),
                 QStringList{QStringLiteral(
                     "Ошибка записи настроек конфигурации \r\nПроверьте подключение")});
        QCOMPARE(requestsMatching(QStringLiteral(":0510")), 0);
    }

    // A window writes only what it read from the selected device: not the blank controls of a
    // window never read, not what another window read, not another device's settings, not
    // controls whose read failed part way. The programs go wherever the user sends them, but
    // their read counts only when whole too.
    void writeNeedsARead_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("before");
        QTest::addColumn<devsim::FaultSettings>("faults"); // strike a late read of the sequence
        struct Window
        {
            const char *name;
            devsim::FaultSettings partial;
        };
        devsim::FaultSettings identity, channel1, manualCoil, common, program4, archiveCoils;
        identity.refusedReads = {{0, 8}};
        channel1.refusedReads = {{60, 68}};
        manualCoil.refusedCoilReads = {{regmap::manualModeCoil(1), regmap::manualModeCoil(1)}};
        common.refusedReads = {{1179, 1185}};
        program4.refusedReads = {{1579, 1678}};
        archiveCoils.refusedCoilReads = {{1, 5}};
        const Window windows[] = {
            {"frmConfig", identity},          {"frmChannelConfig", channel1},
            {"frmContursConfig", manualCoil}, {"frmAlarm", common},
            {"frmArchData", archiveCoils},    {"frmProgramControl", program4}};
        for (const Window &w : windows) {
            if (QByteArray(w.name) != "frmProgramControl") {
                for (const char *before : {"", "other", "device"})
                    QTest::addRow("%s, %s", w.name, *before ? before : "nothing read")
                        << w.name << before << devsim::FaultSettings();
            }
            QTest::addRow("%s, read failed part way", w.name) << w.name << "partial" << w.partial;
        }
    }
    void writeNeedsARead()
    {
        QFETCH(QString, window);
        QFETCH(QString, before);
        QFETCH(devsim::FaultSettings, faults);
        devsim::DeviceSetup d = device();
        d.faults = faults;
        start(d);
        // A second entry, at an address where nothing answers.
        addPolledDevices(main(), {{kAddress + 1, 0, 30}}, m_dir.filePath("tables"));
        const QList<int> devices = session().network().deviceIndices();
        main().SelectDevice(devices[0]);
        const QHash<QString, QPair<const char *, const char *>> commands = {
            {"frmConfig", {"ButtonConfigRead", "ButtonSaveConfig"}},
            {"frmChannelConfig", {"ButtonChanRead", "ButtonChanWrite"}},
            {"frmContursConfig", {"ButtonReadKont1", "ButtonWriteKont1"}},
            {"frmAlarm", {"ButtonAlarmRead", "ButtonAlarmWrite"}},
            {"frmArchData", {"BtnArcParRead", "BtnWriteArcPar"}},
            {"frmProgramControl", {"ButtonProgRead", nullptr}}};
        auto *w = main().findChild<EditorWindow *>(window);
        QVERIFY(w);
        const auto [read, write] = commands.value(window);
        w->show();
        if (before == QLatin1String("other"))
            in<QPushButton>(window == QLatin1String("frmConfig") ? channels()
                                                                 : static_cast<QWidget *>(config()),
                            window == QLatin1String("frmConfig") ? "ButtonChanRead"
                                                                 : "ButtonConfigRead")
                ->click();
        if (before == QLatin1String("device") || before == QLatin1String("partial"))
            in<QPushButton>(w, read)->click();
        if (before == QLatin1String("partial"))
            QCOMPARE(m_messages->shown.size(), 1); // the read's own failure
        else if (before == QLatin1String("device"))
            main().SelectDevice(devices[1]);
        m_messages->shown.clear();
        auto *origin = in<QLabel>(w, "StaticReadOrigin");
        QCOMPARE(origin->text(), QStringLiteral("Не прочитано"));
        if (!write)
            return;
        in<QPushButton>(w, write)->click();
        QCOMPARE(messageTexts(),
                 QStringList{QStringLiteral(
                     "Сначала прочитайте настройки устройства.\r\nЗапись не выполнена.")});
        for (const char *function : {"05", "0F", "10"}) {
            QCOMPARE(requestsMatching(QStringLiteral(":05") + QLatin1String(function)), 0);
            QCOMPARE(requestsMatching(QStringLiteral(":06") + QLatin1String(function)), 0);
        }
        // The line names the device a read came from when it is selected again.
        main().SelectDevice(devices[0]);
        QCOMPARE(origin->text(),
                 before == QLatin1String("device")
                     ? QStringLiteral("Прочитано: Лорван/005/9600, ") +
                           m_clock.currentDateTime().toString(QStringLiteral("HH:mm:ss"))
                     : QStringLiteral("Не прочитано"));
    }

    // Address texts: refused ones write nothing; "abc" moves the device to 1, and the selected
    // device's copy and its tree entry follow.
    void addressChanges()
    {
        start(device());
        ConfigWindow *w = config();
        auto *address = in<QLineEdit>(w, "EditNetAdr");
        w->show();
        address->setFocus();
        QTest::keyClick(address, Qt::Key_Backspace); // starts the edit, nothing else
        QCOMPARE(address->text(), QStringLiteral("005"));
        QVERIFY(config()->editPending());
        const int writesBefore = requestsMatching(QStringLiteral(":0510"));
        for (const char *text : {"256", "0", "128"}) {
            address->setText(QLatin1String(text));
            QTest::keyClick(address, Qt::Key_Return);
        }
        QCOMPARE(requestsMatching(QStringLiteral(":0510")), writesBefore);
        QCOMPARE(m_messages->shown.size(), 3);
        QCOMPARE(m_messages->shown[2].text, QStringLiteral("Введите адрес устройства < 127"));
        QVERIFY(config()->editPending());

        address->setText(QStringLiteral("abc"));
        QTest::keyClick(address, Qt::Key_Return);
        QCOMPARE(m_messages->shown.size(), 3);
        QCOMPARE(address->text(), QStringLiteral("001"));
        QVERIFY(!config()->editPending());
        QCOMPARE(int(session().selected().CurrentDevice().address()), 1);
        QCOMPARE(int(record().address()), 1);
        QTRY_VERIFY(!cliRead(1, 9600, 0, 1).isEmpty());
        in<QPushButton>(w, "ButtonConfigRead")->click();
        QCOMPARE(m_messages->shown.size(), 3);

        // "128" in the save: the message, and no identity write.
        address->setText(QStringLiteral("128"));
        in<QPushButton>(w, "ButtonSaveConfig")->click();
        QCOMPARE(m_messages->shown.last().text, QStringLiteral("Введите адрес устройства < 127"));
        QCOMPARE(requestsMatching(QStringLiteral(":011000000006")), 0);
    }

    // The line speed changes at once: the device answers at the new speed only, and the
    // configurator follows it.
    void lineSpeedChange()
    {
        start(device());
        ConfigWindow *w = config();
        auto *speeds = in<QComboBox>(w, "ComboBaudrate1");
        w->show();
        speeds->setFocus();
        QTest::keyClick(speeds, Qt::Key_Down);
        QTest::keyClick(speeds, Qt::Key_Down); // 9600 → 19200 → 38400, one write each
        QTRY_COMPARE(int(session().selected().CurrentDevice().speedCode()), 2);
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(int(record().speedCode()), 2);
        QCOMPARE(session().line().port.baudrate(), Baudrate::br38400);
        QVERIFY(!config()->editPending());
        QCOMPARE(in<QComboBox>(main().windows().findDevices, "ComboBaudrate")->currentText(),
                 QStringLiteral("38400"));
        QVERIFY(cliRead(kAddress, 9600, 0, 1).isEmpty());
        QVERIFY(!cliRead(kAddress, 38400, 0, 1).isEmpty());
        in<QPushButton>(w, "ButtonConfigRead")->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(speeds->currentText(), QStringLiteral("38400"));
    }

    // A device that refuses register 3: the speed and address stay, with their messages, and
    // the edit stays pending.
    void refusedLineChanges()
    {
        devsim::DeviceSetup d = device();
        d.faults.refusedWrites = {{3, 3}};
        start(d);
        ConfigWindow *w = config();
        w->show();
        auto *speeds = in<QComboBox>(w, "ComboBaudrate1");
        QTest::keyClick(speeds, Qt::Key_Down);
        QCOMPARE(messageTexts(), QStringList{QStringLiteral("Ошибка установки скорости")});
        QCOMPARE(m_messages->shown.first().caption, QStringLiteral("Ошибка"));
        QCOMPARE(speeds->currentText(), QStringLiteral("9600"));
        QCOMPARE(int(session().selected().CurrentDevice().speedCode()), 0);
        QVERIFY(config()->editPending());

        auto *address = in<QLineEdit>(w, "EditNetAdr");
        address->setText(QStringLiteral("7"));
        QTest::keyClick(address, Qt::Key_Return);
        QCOMPARE(m_messages->shown.last().text,
                 QStringLiteral("Ошибка при смене сетевого адреса: 4"));
        QCOMPARE(int(session().selected().CurrentDevice().address()), kAddress);
        QCOMPARE(int(session().line().images.holding[6]), kAddress);
        QTest::keyClick(address, Qt::Key_Escape);
        QVERIFY(!config()->editPending());
    }

    // A device that answers nothing but exceptions: one box per click, and no identity read
    // after the failed common block.
    void readFailures()
    {
        devsim::DeviceSetup d = device();
        d.faults.exception = 1;
        d.faults.exceptionCode = 4;
        start(d);
        in<QPushButton>(config(), "ButtonConfigRead")->click();
        QCOMPARE(messageTexts(),
                 QStringList{QStringLiteral(
                     "Ошибка чтения настроек конфигурации \r\nПроверьте подключение")});
        QCOMPARE(requestsMatching(QStringLiteral(":050300000009")), 0);
        m_messages->shown.clear();
        auto *x2 = in<QLineEdit>(channels(), "EditInpOpisStr2");
        x2->setText(QStringLiteral("прежнее"));
        in<QPushButton>(channels(), "ButtonChanRead")->click();
        QCOMPARE(messageTexts(),
                 QStringList{QStringLiteral(
                     "Ошибка чтения параметров каналов.\r\nПроверьте параметры настройки сети.")});
        QCOMPARE(x2->text(), QStringLiteral("прежнее"));
        QCOMPARE(requestsMatching(QStringLiteral(":05030113")), 0); // X2's description
    }

    // The description field names the selected device's tree entry, up to 32 characters.
    void descriptionNamesTheEntry()
    {
        start(device());
        auto *text = in<QLineEdit>(config(), "EditDevString");
        const QString before = session().network().entry(0).text;
        text->setText(QString()); // as the program shows it, not typed: a key changing nothing
        QTest::keyClick(text, Qt::Key_Alt);
        QCOMPARE(session().network().entry(0).text, before);
        text->setText(QStringLiteral("Печь 1"));
        QTest::keyClick(text, Qt::Key_1);
        QCOMPARE(session().network().entry(0).text, QStringLiteral("Печь 11"));
        text->setText(QString(32, QLatin1Char('x')));
        QTest::keyClick(text, Qt::Key_Y);
        QCOMPARE(messageTexts(),
                 QStringList{QStringLiteral("Описание устройства не более 32 символов")});
        QCOMPARE(text->text(), QString(32, QLatin1Char('x')));
    }

    // Read the four inputs, change them, write, and find the same after a restart.
    void channelsRoundTrip()
    {
        start(device());
        ChannelConfigWindow *w = channels();
        in<QPushButton>(w, "ButtonChanRead")->click();
        // X3 holds a resistance thermometer, which only X1 may have.
        QCOMPARE(messageTexts(),
                 QStringList{QStringLiteral(
                     "  Термометр сопротивления включается\r\n\tтолько на первый канал")});
        QCOMPARE(in<QComboBox>(w, "ComboTypeD2")->currentText(), QStringLiteral("Термопара"));
        QCOMPARE(in<QComboBox>(w, "ComboTypeD3")->currentText(),
                 QStringLiteral("Унифицир. сигнал"));
        QCOMPARE(in<QComboBox>(w, "ComboHarakt3")->currentText(), QStringLiteral("0-100мВ"));
        QCOMPARE(in<QComboBox>(w, "ComboZptPos3")->currentText(), QStringLiteral("00.00"));
        QCOMPARE(in<NumericField>(w, "EditDiapBg3")->text(), QStringLiteral("-12,50"));
        QCOMPARE(in<QCheckBox>(w, "CheckChanOnOff3")->text(), QStringLiteral("Выключен"));
        QCOMPARE(in<QCheckBox>(w, "CheckChanOnOff1")->text(), QStringLiteral("Включен"));
        QCOMPARE(in<QLineEdit>(w, "EditInpOpisStr1")->text(), QStringLiteral("Печь"));
        QCOMPARE(in<QComboBox>(w, "ComboHarakt1")->currentText(), QStringLiteral("тип-K"));

        auto *type1 = in<QComboBox>(w, "ComboTypeD1");
        type1->setCurrentIndex(3);
        emit type1->activated(3);
        QCOMPARE(in<QComboBox>(w, "ComboShema1")->currentText(), QStringLiteral("2 провода"));
        QCOMPARE(in<NumericField>(w, "EditDiapEnd1")->value(), 550.0);
        QCOMPARE(in<QComboBox>(w, "ComboZptPos1")->currentIndex(), 1);
        in<QLineEdit>(w, "EditInpOpisStr1")->setText(QStringLiteral("Печь Ω-верх"));
        in<NumericField>(w, "EditTf1")->setValue(2.3);
        in<QCheckBox>(w, "CheckRazm1")->setChecked(true);
        in<QPushButton>(w, "ButtonChanWrite")->click();
        QCOMPARE(m_messages->shown.size(), 1);
        QCOMPARE(in<QLineEdit>(w, "EditInpOpisStr1")->text(), QStringLiteral("Печь ?-верх"));

        QCOMPARE(cliRead(kAddress, 9600, 60, 9), QByteArray::fromHex("b0018100") + floatBytes(-50) +
                                                     floatBytes(550) + floatBytes(0) +
                                                     QByteArray::fromHex("1700"));
        QCOMPARE(cliRead(kAddress, 9600, 267, 8),
                 QByteArray::fromHex("cfe5f7fc203f2de2e5f0f500000000000000").left(16));
        // X2 was read with type code 0 and goes back as a thermocouple.
        QCOMPARE(cliRead(kAddress, 9600, 69, 1).left(2), QByteArray::fromHex("9201"));

        // A restart: the values come back from the device.
        m_conf.reset();
        openWindows();
        addPolledDevices(main(), {{kAddress, 0, 30}}, m_dir.filePath("tables"));
        in<QPushButton>(channels(), "ButtonChanRead")->click();
        w = channels();
        QCOMPARE(in<QComboBox>(w, "ComboTypeD1")->currentText(),
                 QStringLiteral("Термометр сопротивления"));
        QCOMPARE(in<QLineEdit>(w, "EditInpOpisStr1")->text(), QStringLiteral("Печь ?-верх"));
        QCOMPARE(in<NumericField>(w, "EditTf1")->value(), 2.3);
        QCOMPARE(in<QCheckBox>(w, "CheckRazm1")->text(), QStringLiteral("%"));
    }

    // Read, edit and write loop 1: the device's registers and coil hold exactly the composed
    // bytes; bytes the window does not edit and hundredths it shows cut down come back as they
    // were. A write that would put both loops on one output, or a % setpoint above 99, sends
    // only the description.
    void loopsRoundTrip()
    {
        devsim::DeviceSetup d = loopDevice();
        start(d);
        ContursConfigWindow *w = loops();
        in<QPushButton>(w, "ButtonReadKont1")->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(in<QComboBox>(w, "ComboOut1")->currentText(), QStringLiteral("Y1"));
        QCOMPARE(in<QComboBox>(w, "ComboInp1")->currentText(), QStringLiteral("X2"));
        QCOMPARE(in<NumericField>(w, "EditXzd1")->value(), 25.5);
        QCOMPARE(in<NumericField>(w, "EditVzd1")->text(), QStringLiteral("12"));
        QCOMPARE(in<NumericField>(w, "EditRassA11")->text(), QStringLiteral("-12"));
        QCOMPARE(in<NumericField>(w, "EditLin_Yi01")->text(), QStringLiteral("12"));
        QCOMPARE(in<NumericField>(w, "EditTimp_Uv1")->text(), QStringLiteral("0,5"));
        QCOMPARE(in<QCheckBox>(w, "RevimKont1")->text(), QStringLiteral("Ручной режим"));
        QCOMPARE(in<QCheckBox>(w, "CheckOn_Off1")->text(), QStringLiteral("Контур - включен"));
        QCOMPARE(in<QLineEdit>(w, "EditOpisKont1")->text(), QStringLiteral("Печь-1"));
        QVERIFY(!in<QComboBox>(w, "ComboN_Prog1")->isEnabled());
        in<QPushButton>(w, "ButtonReadKont2")->click();
        QCOMPARE(in<QComboBox>(w, "ComboOut2")->currentText(), QStringLiteral("Y2"));
        QCOMPARE(in<NumericField>(w, "EditXzd2")->value(), 100.0);

        auto *law = in<QComboBox>(w, "ComboZakon1");
        auto choose = [](QComboBox *list, int index) {
            list->setCurrentIndex(index);
            emit list->activated(index);
        };
        choose(law, 4); // USWO-S
        QCOMPARE(messageTexts().value(0),
                 QStringLiteral(
                     "Закон регулирования USWO не поддерживается\r\nв этой версии программы"));
        QCOMPARE(law->currentText(), QStringLiteral("ПИД-Н/C"));
        QVERIFY(!in<NumericField>(w, "EditVzd1")->isEnabled());
        QCOMPARE(in<QComboBox>(w, "ComboOut1")->currentText(), QStringLiteral("Y1"));
        choose(law, 6); // ON/OFF
        QCOMPARE(in<QComboBox>(w, "ComboOut1")->currentText(), QStringLiteral("Y3"));
        QVERIFY(!in<NumericField>(w, "EditKo1")->isEnabled());
        choose(in<QComboBox>(w, "ComboOut1"), 0);
        QCOMPARE(in<QComboBox>(w, "ComboOut1")->currentIndex(), 1); // "  " becomes Y1
        choose(in<QComboBox>(w, "ComboOut1"), 3);
        in<NumericField>(w, "EditKo1")->setValue(0.25);
        in<NumericField>(w, "EditDXn1")->setValue(7);
        in<QCheckBox>(w, "RevimKont1")->setChecked(false);
        QCOMPARE(in<QCheckBox>(w, "RevimKont1")->text(), QStringLiteral("Автоматический режим"));
        in<QLineEdit>(w, "EditOpisKont1")->setText(QStringLiteral("Печь-верх"));
        m_messages->shown.clear();
        in<QPushButton>(w, "ButtonWriteKont1")->click();
        QCOMPARE(messageTexts(), QStringList());

        const QByteArray block = QByteArray::fromHex("13068000"
                                                     "5802c40932002c013200"
                                                     "070501a5"
                                                     "ff00d2042efb") +
                                 QByteArray(10, '\0');
        QCOMPARE(cliRead(kAddress, 9600, 110, 17), block);
        QCOMPARE(cliRead(kAddress, 9600, 329, 22), kLinearization);
        QCOMPARE(cliRead(kAddress, 9600, 220, 2), floatBytes(2));
        QCOMPARE(cli({QStringLiteral("read-coils"), QStringLiteral("4"), QStringLiteral("2")}),
                 QByteArray("0 0"));

        // Loop 1 on Y2 beside loop 2 on Y2, both on.
        choose(in<QComboBox>(w, "ComboOut1"), 2);
        in<QLineEdit>(w, "EditOpisKont1")->setText(QStringLiteral("Печь-2"));
        in<QPushButton>(w, "ButtonWriteKont1")->click();
        QCOMPARE(messageTexts(), QStringList{QStringLiteral("Контуры подключены к одному выходу")});
        QCOMPARE(cliRead(kAddress, 9600, 110, 17), block);
        QCOMPARE(cliRead(kAddress, 9600, 313, 8).left(6), cp1251::encode(QStringLiteral("Печь-2")));

        // A setpoint in % above 99.
        m_messages->shown.clear();
        choose(in<QComboBox>(w, "ComboOut1"), 3);
        in<QCheckBox>(w, "CheckXzdRazm1")->setChecked(true);
        in<NumericField>(w, "EditXzd1")->setValue(150);
        in<QPushButton>(w, "ButtonWriteKont1")->click();
        QCOMPARE(messageTexts(), QStringList{QStringLiteral("Проверьте установку задания")});
        QCOMPARE(in<NumericField>(w, "EditXzd1")->value(), 1.0);
        QCOMPARE(cliRead(kAddress, 9600, 110, 17), block);
        // A setpoint that does not fit 16 bits at p = 1.
        m_messages->shown.clear();
        in<QCheckBox>(w, "CheckXzdRazm1")->setChecked(false);
        in<NumericField>(w, "EditXzd1")->setValue(4000);
        in<QPushButton>(w, "ButtonWriteKont1")->click();
        QCOMPARE(messageTexts(), QStringList{QStringLiteral("Проверьте правильность ввода")});
        QCOMPARE(cliRead(kAddress, 9600, 110, 17), block);
    }

    // A silent device: one message naming the loop.
    void loopReadFailure()
    {
        devsim::DeviceSetup d = loopDevice();
        d.faults.exception = 1;
        d.faults.exceptionCode = 4;
        start(d);
        in<QPushButton>(loops(), "ButtonReadKont2")->click();
        QCOMPARE(messageTexts(),
                 QStringList{
                     QStringLiteral("Ошибка чтения настроек контура-2\r\nПроверьте подключение.")});
        QCOMPARE(in<QLineEdit>(loops(), "EditOpisKont2")->text(), QString());
    }

    // The view of loop 1 shows the device's live values; a Ko of 0 stops the lines after V5.
    void loopViewShowsLiveLines()
    {
        devsim::DeviceSetup d = loopDevice();
        d.loops[0].law = 6;
        d.loops[0].output = 3;
        start(d);
        ContursConfigWindow *w = loops();
        in<QPushButton>(w, "BitBtnOtladka1")->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(in<QGroupBox>(w, "GroupBoxViewKont1")->title(),
                 QStringLiteral("Параметры Печь-1"));
        auto *list = in<QTableWidget>(w, "ValueListEditor1");
        QStringList lines;
        for (int r = 0; r < list->rowCount(); ++r)
            lines << list->item(r, 0)->text() + QLatin1Char('|') + list->item(r, 1)->text();
        QCOMPARE(lines.size(), 11);
        const QStringList fixed{QStringLiteral("Выходное значение Y3:|0,00"),
                                QStringLiteral("Входное значение X2:|123,4"),
                                QStringLiteral("Коэфф. пропорц. Kп|2,00"),
                                QStringLiteral("Коэфф. интегр. Kи|0,5000"),
                                QStringLiteral("Коэфф. диф. Kд|0,0"),
                                QStringLiteral("Коэфф. V5|1"),
                                QStringLiteral("Коэфф. Mt|0,77")};
        QCOMPARE(lines.mid(0, 7), fixed);
        QVERIFY(lines[7].startsWith(QStringLiteral("Коэфф. Vy|")));
        QCOMPARE(lines[8], QStringLiteral("Время фильтрации Тф(2)|1,0 сек"));
        QVERIFY(lines[9].startsWith(QStringLiteral("Ts|")));
        QCOMPARE(lines[10], QStringLiteral("Delta|  0,4 %"));
        QCOMPARE(in<NumericField>(w, "EditTizm")->value(), 100.0);
        QVERIFY(qAbs(in<NumericField>(w, "EditTemperComp")->value() - 23.5) <= 0.5);

        QVERIFY(cliWrite(kAddress, 113, QByteArray(2, '\0'))); // Ko
        in<QPushButton>(w, "BitBtnOtladka1")->click();
        QCOMPARE(messageTexts(),
                 QStringList{QStringLiteral("Невозможно отобразить отладочные параметры.\r\n"
                                            "Проверьте установленные параметры контура.")});
        QCOMPARE(m_messages->shown.last().caption, QStringLiteral("Ошибка параметров контура"));
        QCOMPARE(list->rowCount(), 6);
        addPolledDevices(main(), {{kAddress + 1, 0, 30}}, m_dir.filePath("tables"));
        main().SelectDevice(session().network().deviceIndices()[1]); // another device
        QCOMPARE(list->rowCount(), 0);
    }

    // Comparators 1–3 as raw bytes over the channels' point positions (X1 0, X2 1, X3 2); every
    // input stands at 20, so comparator 1 (X2 above 10) has tripped and comparator 2 not.
    devsim::DeviceSetup alarmDevice()
    {
        devsim::DeviceSetup d = device();
        d.holdingBytes.append(
            {regmap::kAlarms,
             QByteArray::fromHex("a95c6400ffff c0002dfe9600 067700000000").replace(' ', "") +
                 QByteArray(30, '\0')});
        return d;
    }

    // Read, edit and write the alarms; the device then holds exactly the composed bytes, the
    // other owners' bytes of the common block under a matching check value, and the states of
    // the comparators as composed.
    void alarmsRoundTrip()
    {
        start(alarmDevice());
        AlarmWindow *w = alarms();
        auto text = [&](const char *name) { return in<QWidget>(w, name)->property("text"); };
        in<QPushButton>(w, "ButtonAlarmRead")->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(text("CheckAlarm1").toString(), QStringLiteral("Вкл."));
        QCOMPARE(in<QComboBox>(w, "ComboInpAlarm1")->currentText(), QStringLiteral("X2"));
        QCOMPARE(in<QComboBox>(w, "ComboOutAlarm1")->currentText(), QStringLiteral("Y3"));
        QCOMPARE(in<QComboBox>(w, "ComboFuncAlarm1")->currentText(), QStringLiteral("больше"));
        QCOMPARE(text("EditLevelAlarm1").toString(), QStringLiteral("10"));
        QCOMPARE(text("EditDeltaAlarm1").toString(), QStringLiteral("6553,5")); // as read
        QCOMPARE(text("EditLevelAlarm2").toString(), QStringLiteral("-4,67"));
        QCOMPARE(text("CheckAlarm3").toString(), QStringLiteral("Выкл."));
        auto state = [&](int k) {
            auto *l = in<QLabel>(w, QStringLiteral("StaticCompStat%1").arg(k));
            return QStringList{l->text(), l->palette().color(l->backgroundRole()).name(),
                               l->palette().color(l->foregroundRole()).name()};
        };
        QCOMPARE(state(1), (QStringList{QStringLiteral("ВКЛ."), QStringLiteral("#ff0000"),
                                        QStringLiteral("#00ffff")}));
        QCOMPARE(state(2), (QStringList{QStringLiteral("ВЫКЛ."), QStringLiteral("#00ffff"),
                                        QStringLiteral("#000080")}));
        QVERIFY(in<QCheckBox>(w, "CheckAlarmSound")->isChecked());
        QVERIFY(in<QCheckBox>(w, "CheckIshY4")->isChecked());
        QVERIFY(!in<QCheckBox>(w, "CheckIshY3")->isChecked());
        QCOMPARE(in<QComboBox>(w, "ComboParamY2")->currentIndex(), -1); // code 11

        // Comparator 1 moves to 25.5; comparator 2 to X2, whose scale then applies; comparator 3
        // comes on, above 0, driving Y5.
        in<NumericField>(w, "EditLevelAlarm1")->setValue(25.5);
        in<QComboBox>(w, "ComboInpAlarm2")->setCurrentIndex(1);
        in<QCheckBox>(w, "CheckAlarm3")->setChecked(true);
        in<QComboBox>(w, "ComboOutAlarm3")->setCurrentIndex(3);
        in<QComboBox>(w, "ComboFuncAlarm3")->setCurrentIndex(1);
        in<QCheckBox>(w, "CheckAlarmOff")->setChecked(true);
        in<QCheckBox>(w, "CheckAlarmSound")->setChecked(false);
        in<QCheckBox>(w, "CheckIshY3")->setChecked(true);
        in<QPushButton>(w, "ButtonAlarmWrite")->click();
        QCOMPARE(messageTexts(), QStringList());

        QCOMPARE(cliRead(kAddress, 9600, 373, 24),
                 QByteArray::fromHex("a95cff00ffff a000d2ff0f00 997700000000").replace(' ', "") +
                     QByteArray(30, '\0'));
        const QByteArray common = cliRead(kAddress, 9600, 1179, 7);
        QCOMPARE(common.left(12), QByteArray::fromHex("fd41aa8658022a0b15000102"));
        const quint16 crc = Crc16(reinterpret_cast<const quint8 *>(common.constData()), 12);
        QCOMPARE(common.mid(12), QByteArray().append(char(crc & 0xff)).append(char(crc >> 8)));
        QCOMPARE(cliRead(kAddress, 9600, 1229, 7), common);
        QCOMPARE(cliRead(kAddress, 9600, 16, 8, QStringLiteral("read-discrete")),
                 QByteArray("1 0 1 0 0 0 0 0"));

        in<QPushButton>(w, "ButtonAlarmRead")->click();
        // Comparator 1 stays tripped: its hysteresis holds it until X2 falls below −6528.
        QCOMPARE(state(1).first(), QStringLiteral("ВКЛ."));
        QCOMPARE(state(2).first(), QStringLiteral("ВЫКЛ."));
        QCOMPARE(state(3).first(), QStringLiteral("ВКЛ."));

        // A state comes back per device in its colours, though only the background is stored.
        w->storeState();
        in<QLabel>(w, "StaticCompStat1")->setPalette(in<QLabel>(w, "StaticCompStat2")->palette());
        w->restoreState();
        QCOMPARE(state(1), (QStringList{QStringLiteral("ВКЛ."), QStringLiteral("#ff0000"),
                                        QStringLiteral("#00ffff")}));
        QCOMPARE(text("EditLevelAlarm2").toString(), QStringLiteral("-4,6"));
    }

    // One box for a failed sequence; a write goes no further than a failed point position read,
    // and a failed read leaves the controls as they were.
    void alarmFailures_data()
    {
        QTest::addColumn<devsim::FaultSettings>("faults");
        QTest::addColumn<bool>("write");
        QTest::addColumn<QString>("field"); // set before the read and again before the write
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("blockWrites"); // comparators, shadow, common block

        const QString readFailure =
            QStringLiteral("Ошибка чтения настроек сигнализации \r\nПроверьте подключение");
        const QString writeFailure =
            QStringLiteral("Ошибка записи настроек сигнализации\r\nПроверьте подключение.");
        devsim::FaultSettings silent;
        silent.drop = 1;
        devsim::FaultSettings refused;
        refused.refusedWrites = {{373, 396}};
        devsim::FaultSettings noPointPosition; // the write reads registers 60–61, the read 60
        noPointPosition.refusedReads = {{61, 61}};
        const QString level1 = QStringLiteral("EditLevelAlarm1");
        QTest::newRow("silent device") << silent << false << level1 << 7.0 << readFailure << 0;
        // The shadow and the common block still went: the note says the device is half written.
        QTest::newRow("comparators refused")
            << refused << true << level1 << 7.0
            << writeFailure + QStringLiteral("\r\nЗаписано 2 из 3 частей. Настройки в приборе "
                                             "неполны: повторите запись.")
            << 3;
        QTest::newRow("point position unread")
            << noPointPosition << true << level1 << 7.0 << writeFailure << 0;
        // Comparator 2 watches X3, two decimals: −99990 would wrap. A wrong entry, not a failed
        // exchange.
        QTest::newRow("threshold too wide")
            << devsim::FaultSettings() << true << QStringLiteral("EditLevelAlarm2") << -999.9
            << QStringLiteral("Проверьте правильность ввода") << 0;
    }
    void alarmFailures()
    {
        QFETCH(devsim::FaultSettings, faults);
        QFETCH(bool, write);
        QFETCH(QString, field);
        QFETCH(double, value);
        QFETCH(QString, message);
        QFETCH(int, blockWrites);
        devsim::DeviceSetup d = alarmDevice();
        d.faults = faults;
        start(d);
        AlarmWindow *w = alarms();
        auto *edited = in<NumericField>(w, field);
        edited->setValue(value);
        in<QPushButton>(w, "ButtonAlarmRead")->click();
        if (write) {
            QCOMPARE(messageTexts(), QStringList());
            edited->setValue(value);
            in<QPushButton>(w, "ButtonAlarmWrite")->click();
        }
        QCOMPARE(messageTexts(), QStringList{message});
        QCOMPARE(m_messages->shown.first().caption, message.startsWith(QStringLiteral("Ошибка"))
                                                        ? QStringLiteral("Ошибка обмена")
                                                        : QString());
        QCOMPARE(edited->value(), value);
        QCOMPARE(requestsMatching(QStringLiteral(":05100175")) +
                     requestsMatching(QStringLiteral(":051004CD")) +
                     requestsMatching(QStringLiteral(":0510049B")),
                 blockWrites);
        if (write && blockWrites == 0)
            QCOMPARE(cliRead(kAddress, 9600, 374, 1), QByteArray::fromHex("6400"));
    }

    // A refused write of X2's block stops the sequence: X3 and X4 are not written.
    void writeFailureStopsAfterX2()
    {
        devsim::DeviceSetup d = device();
        d.faults.refusedWrites = {{69, 77}};
        start(d);
        ChannelConfigWindow *w = channels();
        in<QPushButton>(w, "ButtonChanRead")->click();
        m_messages->shown.clear();
        for (int n = 1; n <= 4; ++n)
            in<QLineEdit>(w, QStringLiteral("EditInpOpisStr%1").arg(n))
                ->setText(QStringLiteral("Новое %1").arg(n));
        in<QPushButton>(w, "ButtonChanWrite")->click();
        QCOMPARE(messageTexts(),
                 QStringList{QStringLiteral(
                     "Ошибка записи настроек каналов \r\nПроверьте подключение\r\nЗаписано 3 из 4 "
                     "частей. Настройки в приборе неполны: повторите запись.")});
        QCOMPARE(m_messages->shown.first().caption, QStringLiteral("Ошибка обмена"));
        auto text = [&](int reg) {
            return cp1251::decodeField(reinterpret_cast<const unsigned char *>(
                                           cliRead(kAddress, 9600, reg, 8).constData()),
                                       16);
        };
        QCOMPARE(text(275), QStringLiteral("Новое 2"));
        QCOMPARE(text(283), QStringLiteral("Вход 3"));
        QCOMPARE(text(291), QStringLiteral("Вход 4"));
        QCOMPARE(requestsMatching(QStringLiteral(":05100")),
                 4); // X1 name and block, X2 name and block
    }

    // A "Читать" click delivered while a poll tick waits for its reply runs after the tick.
    void readClickedDuringAPollTick()
    {
        devsim::DeviceSetup d = device();
        start(d);
        for (int index : session().network().deviceIndices())
            session().network().device(index)->setPollPeriod(1);
        QAction *polling = main().command(QStringLiteral("butEnableCycleReqDev"));
        polling->trigger();
        bool clickedInTick = false;
        qsizetype logAtClick = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!clickedInTick && !session().line().pollIdle.isSet()) {
                // The user releases the polling button, which unlocks the editors at once, and
                // clicks "Читать" while the tick still waits for its reply.
                clickedInTick = true;
                {
                    QMutexLocker lock(&m_logLock);
                    logAtClick = m_log.size();
                }
                polling->trigger();
                in<QPushButton>(config(), "ButtonConfigRead")->click();
            }
        });
        watch.start(2);
        // Ticks come every 500 virtual ms; the tick's exchange itself takes real time.
        for (int step = 0; step < 50 && !clickedInTick; ++step)
            m_clock.advance(100);
        QVERIFY(clickedInTick);
        watch.stop();
        QTRY_VERIFY_WITH_TIMEOUT(requestsMatching(QStringLiteral(":050300000009")) == 1, 10000);
        QVERIFY(!polling->isChecked());
        // No failure: the read found the link free and every block answered.
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(in<QComboBox>(config(), "ComboNalovFunc1")->currentText(),
                 QStringLiteral("Запуск программы"));
        // The click's first request went out after the tick's last exchange had its reply.
        QMutexLocker lock(&m_logLock);
        const qsizetype read =
            m_log.indexOf(QRegularExpression(QStringLiteral(".* <- :050300D2.*")), logAtClick);
        QVERIFY(read > logAtClick);
        QVERIFY(m_log[read - 1].contains(QLatin1String(" -> ")));
    }

    // Leaving a numeric field with a value outside its bounds, or no number, gives the message
    // and the lower bound; values the program puts in are shown as they are.
    void numericFieldBounds_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("refused");
        QTest::newRow("range start in") << "EditDiapBg2"
                                        << "-9999" << -9999.0 << false;
        QTest::newRow("range end out") << "EditDiapEnd2"
                                       << "10000" << -9999.0 << true;
        QTest::newRow("correction comma") << "EditPoprT3"
                                          << "-9,9" << -9.9 << false;
        QTest::newRow("correction out") << "EditPoprT3"
                                        << "9.95" << -9.9 << true;
        QTest::newRow("filter not a number") << "EditTf4"
                                             << "." << 0.0 << true;
        QTest::newRow("filter top") << "EditTf4"
                                    << "99.9" << 99.9 << false;
        // The configuration's time correction falls back to no correction, not to −128.
        QTest::newRow("time correction out") << "frmConfig/EditPoprT"
                                             << "200" << 0.0 << true;
        QTest::newRow("time correction lowest") << "frmConfig/EditPoprT"
                                                << "-128" << -128.0 << false;
        // The hysteresis is unsigned: it falls back to 0, never below.
        QTest::newRow("hysteresis negative") << "frmAlarm/EditDeltaAlarm5"
                                             << "-0.1" << 0.0 << true;
        QTest::newRow("threshold out") << "frmAlarm/EditLevelAlarm8"
                                       << "100" << -999.9 << true;
        QTest::newRow("threshold lowest") << "frmAlarm/EditLevelAlarm1"
                                          << "-999.9" << -999.9 << false;
        QTest::newRow("unbounded not a number") << "frmContursConfig/EditRassA32"
                                                << "1,2,3" << 0.0 << true;
    }
    void numericFieldBounds()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(double, value);
        QFETCH(bool, refused);
        openWindows();
        QWidget *w =
            field.startsWith(QLatin1String("frmConfig/"))  ? static_cast<QWidget *>(config())
            : field.startsWith(QLatin1String("frmAlarm/")) ? static_cast<QWidget *>(alarms())
            : field.startsWith(QLatin1String("frmContursConfig/")) ? static_cast<QWidget *>(loops())
                                                                   : channels();
        w->show();
        auto *f = in<NumericField>(w, field.section(QLatin1Char('/'), -1));
        f->setValue(6553.5); // as read: outside the bounds, yet shown
        QCOMPARE(f->value(), 6553.5);
        f->selectAll();
        QTest::keyClicks(f, typed);
        QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(f, &leave);
        QCOMPARE(f->value(), value);
        QCOMPARE(messageTexts(), refused
                                     ? QStringList{QStringLiteral("Проверьте правильность ввода")}
                                     : QStringList());
    }

    // Read the four programs (P2 arrives with a segment that does not join and a zero duration),
    // edit a value, write them; the device then holds the edited 800 bytes, byte 7 and the slots
    // behind the last segments included. Saved to a file and loaded back, a short file changes
    // nothing.
    void programsRoundTrip()
    {
        ProgramBlock p2;
        p2.count = 3;
        p2.byte7 = 0x5a;
        p2.start = {0, 100, 250, 77};
        p2.end = {100, 200, 1500, 88};
        p2.duration = {10, 0, 30, 99};
        ProgramBlock p4;
        p4.point = 1, p4.count = 2, p4.hours = 7, p4.minutes = 5, p4.day = 31, p4.month = 12;
        p4.year = 99;
        p4.start = {-125, 40};
        p4.end = {40, 60};
        p4.duration = {5, 6};
        QByteArray image(programs::kAllBytes, '\0');
        const auto put = [&](int k, const ProgramBlock &b) {
            b.encode(std::span<std::uint8_t, ProgramBlock::kBytes>(
                reinterpret_cast<std::uint8_t *>(image.data()) + 200 * (k - 1), 200));
        };
        put(2, p2), put(4, p4);
        devsim::DeviceSetup d = device();
        d.holdingBytes.append({regmap::program(1), image});
        start(d);
        ProgramControlWindow *w = programWindow();
        w->show();
        in<QPushButton>(w, "ButtonProgRead")->click();
        QCOMPARE(messageTexts(), QStringList{QStringLiteral("В программе-2 имеются ошибки.")});
        QCOMPARE(m_messages->shown.last().caption, QStringLiteral("Программа 2"));
        auto *choice = in<QComboBox>(w, "ComboNProg");
        QCOMPARE(choice->currentText(), QStringLiteral("P1")); // the first read, not the last
        auto *table = in<QTableWidget>(w, "sgProgramTable");
        choice->setCurrentIndex(1);
        emit choice->activated(1);
        QCOMPARE(table->item(2, 1)->text(), QStringLiteral("1500"));
        auto *count = in<NumericField>(w, "EditCountSeg1");
        count->selectAll();
        QTest::keyClicks(count, QStringLiteral("10000"));
        QTest::keyClick(count, Qt::Key_Return);
        QCOMPARE(messageTexts().last(), QStringLiteral("Введите число сегментов от 0 до 32"));
        // P2 keeps its count and segment 1: the device gets the image below as it was.
        choice->setCurrentIndex(3);
        emit choice->activated(3);
        QCOMPARE(in<QLineEdit>(w, "EditDateProg")->text(), QStringLiteral("31.12.99"));
        QCOMPARE(in<QLineEdit>(w, "EditTimeProg")->text(), QStringLiteral("07:05:00"));
        // A date that does not exist turns the field red and stores nothing; leaving the field
        // brings the last valid date back. A valid one is stored.
        auto *date = in<QLineEdit>(w, "EditDateProg");
        const auto typeDate = [&](const char *digits) {
            QFocusEvent in(QEvent::FocusIn);
            QApplication::sendEvent(date, &in);
            QTest::keyClick(date, Qt::Key_Home);
            QTest::keyClicks(date, QLatin1String(digits));
        };
        typeDate("310299");
        QCOMPARE(date->palette().color(QPalette::Base), QColor(255, 0, 0));
        QFocusEvent out(QEvent::FocusOut);
        QApplication::sendEvent(date, &out);
        QCOMPARE(date->text(), QStringLiteral("31.12.99"));
        QVERIFY(date->palette().color(QPalette::Base) != QColor(255, 0, 0));
        typeDate("150398");
        QApplication::sendEvent(date, &out);
        QCOMPARE(date->text(), QStringLiteral("15.03.98"));
        p4.day = 15, p4.month = 3, p4.year = 98;

        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("-12,5"));

        table->item(0, 1)->setText(QStringLiteral("12,5"));
        QCOMPARE(table->item(1, 0)->text(), QStringLiteral("12,5"));
        table->item(1, 1)->setText(QStringLiteral("4000")); // would wrap at p = 1
        QCOMPARE(m_messages->shown.last().text, QStringLiteral("Проверьте правильность ввода"));
        QCOMPARE(table->item(1, 1)->text(), QStringLiteral("6"));
        p4.end[0] = p4.start[1] = 125;
        p2.start[2] = 200, p2.duration[1] = 1;
        put(2, p2), put(4, p4);

        m_messages->shown.clear();
        in<QPushButton>(w, "ButtonSaveProg")->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(cliRead(kAddress, 9600, 1279, 100), image.left(200));
        QCOMPARE(cliRead(kAddress, 9600, 1379, 100), image.mid(200, 200));
        QCOMPARE(cliRead(kAddress, 9600, 1479, 100), image.mid(400, 200));
        QCOMPARE(cliRead(kAddress, 9600, 1579, 100), image.mid(600, 200));

        const QString path = m_dir.filePath("programs.kpg");
        m_messages->fileAnswers = {path};
        in<QPushButton>(w, "ProgSaveFile")->click();
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("ProgFileLorvan") + image);
        const auto programBytes = [&] {
            return w->holdingImage().subspan(regmap::program(1), 800);
        };
        std::ranges::fill(programBytes(), 0);
        const QString shortPath = m_dir.filePath("short.kpg");
        QFile shortFile(shortPath);
        QVERIFY(shortFile.open(QIODevice::WriteOnly));
        shortFile.write((QByteArray("ProgFileLorvan") + image).left(700));
        shortFile.close();
        m_messages->fileAnswers = {shortPath, path};
        in<QPushButton>(w, "ProgReadFile")->click();
        QCOMPARE(m_messages->shown.last().text, QStringLiteral("Ошибка чтения файла"));
        QCOMPARE(m_messages->shown.last().caption, QStringLiteral("Чтение программ"));
        QVERIFY(std::ranges::all_of(programBytes(), [](std::uint8_t b) { return b == 0; }));
        in<QPushButton>(w, "ProgReadFile")->click();
        const auto loaded = programBytes();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(loaded.data()), 800), image);
    }

    // P4's read fails: the others are still read, P1 is shown, P4 keeps what the configurator
    // held. Its break is only warned about before the write, which goes on and fails in P2.
    void programFailures()
    {
        devsim::DeviceSetup d = device();
        d.faults.refusedReads = {{1579, 1678}};
        d.faults.refusedWrites = {{1379, 1400}};
        start(d);
        ProgramControlWindow *w = programWindow();
        ProgramBlock held;
        held.count = 2;
        held.start = {0, 5};
        held.end = {1, 2};
        held.duration = {1, 1};
        const auto p4 = field::block<ProgramBlock::kBytes>(w->holdingImage(), regmap::program(4));
        held.encode(p4);
        in<QPushButton>(w, "ButtonProgRead")->click();
        QCOMPARE(messageTexts(), QStringList{QStringLiteral(
                                     "Ошибка при чтении программ\r\nПроверьте подключение")});
        QCOMPARE(m_messages->shown.last().caption, QStringLiteral("Ошибка чтения"));
        QCOMPARE(in<QComboBox>(w, "ComboNProg")->currentText(), QStringLiteral("P1"));
        QCOMPARE(ProgramBlock::decode(p4), held);

        m_messages->shown.clear();
        in<QPushButton>(w, "ButtonSaveProg")->click();
        // The fifth of the sixteen chunks was refused, the others arrived.
        QCOMPARE(messageTexts(),
                 (QStringList{QStringLiteral("Ошибка в сегменте-2"),
                              QStringLiteral("Ошибка обмена\r\nЗаписано 15 из 16 частей. Программы "
                                             "в приборе неполны: повторите запись.")}));
        QVERIFY(in<QPushButton>(w, "ButtonSaveProg")->isEnabled());
        QVERIFY(in<QGroupBox>(w, "GroupParProg")->isEnabled());
    }

    // Every "Control.Property" a window remembers per device names a control that carries it.
    // The whole prefill, read back across the ring's start, row by row in time order.
    void archiveAcrossTheRingStart()
    {
        start(archiveDevice());
        ArchDataWindow *w = archiveWindow();
        in<QPushButton>(w, "ButtonArchivRead")->click();
        QCOMPARE(messageTexts(), QStringList());
        auto *grid = in<QTableWidget>(w, "GridArchiv");
        QCOMPARE(grid->rowCount(), 301);
        QCOMPARE(gridRow(grid, 0), (QStringList{"№", "Пр", "Дата", "Вход X1", "Вход X3"}));
        // The newest record is at 12:00:00, one a minute before it.
        const QDateTime newest(QDate(2026, 6, 15), QTime(12, 0, 0));
        for (int row = 1; row <= 300; ++row) {
            const QDateTime t = newest.addSecs(-60 * (300 - row));
            QCOMPARE(
                gridRow(grid, row),
                (QStringList{QString::number(row), "2",
                             t.toString(QStringLiteral("hh:mm:ss dd.MM.yy")), "123.0", "-5.0"}));
        }
        QCOMPARE(in<QLabel>(w, "StaticTest")->text(), QStringLiteral("300"));
        QVERIFY(!in<QWidget>(w, "Panel1")->isVisible());
        QVERIFY(in<QCheckBox>(w, "CheckArcPar1")->isChecked());
        QVERIFY(!in<QCheckBox>(w, "CheckArcPar2")->isChecked());
        QCOMPARE(in<QCheckBox>(w, "CheckArcPar3")->text(), QStringLiteral("Включен"));
        QCOMPARE(in<NumericField>(w, "EditCycleRegistr1")->value(), 60.0);
        QVERIFY(!in<QCheckBox>(w, "CheckbArc")->isChecked());
    }

    // "Прервать чтение", and closing the window, are served while the walk waits for a reply;
    // the walk ends after the record under way and the records so far are shown.
    void archiveAbort_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("Прервать чтение") << false;
        QTest::newRow("window closed") << true;
    }
    void archiveAbort()
    {
        QFETCH(bool, close);
        start(archiveDevice());
        ArchDataWindow *w = archiveWindow();
        w->show();
        connect(w, &ArchDataWindow::recordCounted, w, [w, close](int count) {
            QVERIFY(!w->findChild<QWidget *>(QStringLiteral("Panel1"))->isHidden());
            if (count != 40)
                return;
            if (close)
                QMetaObject::invokeMethod(w, "close", Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(w->findChild<QPushButton *>(QStringLiteral("BitBtn1")),
                                          "click", Qt::QueuedConnection);
        });
        in<QPushButton>(w, "ButtonArchivRead")->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(w->isVisible(), !close);
        auto *grid = in<QTableWidget>(w, "GridArchiv");
        QCOMPARE(grid->rowCount(), 42);
        QCOMPARE(gridRow(grid, 41).mid(0, 3), (QStringList{"41", "2", "12:00:00 15.06.26"}));
        QCOMPARE(gridRow(grid, 1).at(2), QStringLiteral("11:20:00 15.06.26"));
        QCOMPARE(in<QLabel>(w, "StaticTest")->text(), QStringLiteral("41"));
    }

    // A write changes the cycle, the selection and coil 1 only: the other owners' bytes, the
    // record mark and the loops' manual-mode coils stay as the device has them. The cycle is one
    // setting with the configuration window's: its next write keeps the new one. A cycle read
    // beyond what may be typed goes back as read.
    void archiveParametersWrite_data()
    {
        QTest::addColumn<bool>("edit");
        QTest::addColumn<QByteArray>("cycle"); // as the device holds it at the start
        QTest::addColumn<QByteArray>("common");
        QTest::addColumn<QByteArray>("coils");
        // Mark 2 went out; a new selection moves the device on to mark 3 by itself.
        QTest::newRow("edited") << true << QByteArray("3c00")
                                << QByteArray::fromHex("fd41aa555802e12b15000102")
                                << QByteArray("1 0 0 0 0");
        QTest::newRow("wide cycle kept")
            << false << QByteArray("204e") << QByteArray::fromHex("fd41aa55204e852b15000102")
            << QByteArray("0 0 0 0 0");
    }
    void archiveParametersWrite()
    {
        QFETCH(bool, edit);
        QFETCH(QByteArray, cycle);
        QFETCH(QByteArray, common);
        QFETCH(QByteArray, coils);
        devsim::DeviceSetup d = archiveDevice();
        d.holdingBytes[0].second = QByteArray::fromHex("fd41aa55" + cycle + "852b15000102");
        start(d);
        in<QPushButton>(config(), "ButtonConfigRead")->click();
        ArchDataWindow *w = archiveWindow();
        in<QPushButton>(w, "BtnArcParRead")->click();
        // The loop goes to automatic meanwhile; a write must not bring manual mode back.
        QVERIFY(runCli(kAddress, 9600, {"write-coils", "4", "0"}).has_value());
        if (edit) {
            in<QCheckBox>(w, "CheckArcPar3")->setChecked(false);
            in<QCheckBox>(w, "CheckArcPar6")->setChecked(true);
            in<NumericField>(w, "EditCycleRegistr1")->setValue(600);
            in<QCheckBox>(w, "CheckbArc")->setChecked(true);
        }
        in<QPushButton>(w, "BtnWriteArcPar")->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(cliRead(kAddress, 9600, 1179, 7).left(12), common);
        QCOMPARE(cliRead(kAddress, 9600, 1229, 7).left(12), common);
        QCOMPARE(cliRead(kAddress, 9600, 1, 5, QStringLiteral("read-coils")), coils);
        in<QPushButton>(config(), "ButtonSaveConfig")->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(cliRead(kAddress, 9600, 1181, 1), common.mid(4, 2));
    }

    // An export on an empty grid reads the archive first and hands over every grid cell; with no
    // records it says so and opens nothing.
    void archiveExport_data()
    {
        QTest::addColumn<int>("prefill");
        QTest::addColumn<bool>("opener"); // a program takes the workbook
        QTest::newRow("300 records") << 300 << true;
        QTest::newRow("none") << 0 << true;
        QTest::newRow("no spreadsheet program") << 300 << false;
    }
    void archiveExport()
    {
        QFETCH(int, prefill);
        QFETCH(bool, opener);
        devsim::DeviceSetup d = archiveDevice();
        d.archive.prefill = prefill;
        start(d);
        m_opened.clear();
        if (opener)
            QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
        const QString kept = m_dir.filePath("Архив.xlsx");
        m_messages->fileAnswers = {kept};
        const auto temporaryBooks = [] {
            return QDir::temp().entryList({QStringLiteral("LorvanArchiv-*")}, QDir::Files);
        };
        const QStringList booksBefore = temporaryBooks();
        ArchDataWindow *w = archiveWindow();
        in<QPushButton>(w, "BtnExportExcel")->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        if (prefill == 0) {
            QCOMPARE(messageTexts(), QStringList{QStringLiteral("Данные отсутствуют")});
            QVERIFY(m_opened.isEmpty());
            return;
        }
        QString path;
        if (opener) {
            QCOMPARE(messageTexts(), QStringList());
            QCOMPARE(m_opened.size(), 1);
            path = m_opened.first().toLocalFile();
        } else {
            // Nothing took it: saved where the user said, and told so; nothing left behind.
            QCOMPARE(m_messages->dialogs.size(), 1);
            QCOMPARE(messageTexts(), QStringList{QStringLiteral("Книга сохранена в файл ") + kept});
            QCOMPARE(temporaryBooks(), booksBefore);
            path = kept;
        }
        const QStringList book = readWithOpenpyxl(path);
        QFile::remove(path);
        auto *grid = in<QTableWidget>(w, "GridArchiv");
        QCOMPARE(book.size(), 2 + 301);
        QCOMPARE(book.mid(0, 2), (QStringList{"Лорван", "301 x 5"}));
        for (int row = 0; row <= 300; ++row)
            QCOMPARE(book[2 + row], gridRow(grid, row).join(QLatin1Char(';')));
        QCOMPARE(book[3], QStringLiteral("1;2;07:01:00 15.06.26;123.0;-5.0"));
    }

    void storedStateNamesRealControls()
    {
        openWindows();
        const QList<EditorWindow *> windows = main().statefulWindows();
        QVERIFY(windows.contains(config()) && windows.contains(channels()) &&
                windows.contains(alarms()));
        for (EditorWindow *w : windows) {
            if (w->findChildren<QWidget *>().isEmpty())
                continue; // a window whose controls are still to come
            for (const QString &entry : w->storedProperties())
                QVERIFY2(w->storedValue(entry).isValid(),
                         qPrintable(w->objectName() + QLatin1Char('/') + entry));
        }
    }

    // Every control a person operates has a name for assistive tools, as they ask for it: not
    // the value a field happens to show. The clock fields start blank. A label that shows a
    // value is named by its caption and gives the value it shows after a read.
    void controlsHaveAccessibleNames()
    {
        openWindows();
        QCOMPARE(in<QLineEdit>(config(), "MaskEditData")->displayText(),
                 QStringLiteral("  .  .  "));
        QCOMPARE(in<QLineEdit>(config(), "MaskEditTime")->displayText(),
                 QStringLiteral("  :  :  "));
        for (QWidget *window :
             {static_cast<QWidget *>(config()), static_cast<QWidget *>(channels()),
              static_cast<QWidget *>(loops()), static_cast<QWidget *>(alarms()),
              static_cast<QWidget *>(archiveWindow()), static_cast<QWidget *>(programWindow())}) {
            window->show();
            for (QWidget *c : window->findChildren<QWidget *>()) {
                if (!c->focusPolicy() || qobject_cast<QLabel *>(c) || c->window() != window ||
                    !c->isEnabledTo(window))
                    continue;
                QAccessibleInterface *a = QAccessible::queryAccessibleInterface(c);
                QVERIFY2(a, qPrintable(c->objectName()));
                // A list box is named by its current item on this platform and by the label it
                // is related to; a field must not be named by the value it shows.
                const QString value = a->text(QAccessible::Value).trimmed();
                QStringList names{a->text(QAccessible::Name).trimmed()};
                for (const auto &[label, relation] : a->relations(QAccessible::Label))
                    names.append(label->text(QAccessible::Name).trimmed());
                const bool editable = qobject_cast<QLineEdit *>(c) || qobject_cast<QComboBox *>(c);
                const bool named = std::any_of(names.cbegin(), names.cend(), [&](const QString &n) {
                    return !n.isEmpty() && !(editable && n == value);
                });
                QVERIFY2(named, qPrintable(c->objectName() + QStringLiteral(": ") +
                                           names.join(QLatin1Char('|'))));
            }
        }

        start(device());
        config()->show();
        alarms()->show();
        in<QPushButton>(config(), "ButtonConfigRead")->click();
        in<QPushButton>(alarms(), "ButtonAlarmRead")->click();
        QCOMPARE(messageTexts(), QStringList());
        struct Shown
        {
            QWidget *window;
            const char *control;
            const char *name;
            const char *value;
        };
        // The record the tree gave the device has serial 0; the device's own is 1234.
        const Shown shown[] = {
            {config(), "StaticType2", "Тип устройства", "Лорван"},
            {config(), "StaticSoft2", "Версия ПО", "1.05"},
            {config(), "StaticBuild2", "Дата выпуска", "05:03"},
            {config(), "StaticSerial2", "Серийный номер", "1234"},
            {config(), "StaticIspoln2", "Исполнение", "1111 111"},
            {alarms(), "StaticCompStat1", "Состояние №1", "ВЫКЛ."},
            {&main(), "StatusPanel0", "Тип", "Лорван"},
            {&main(), "StatusPanel1", "Адрес", "005"},
            {&main(), "StatusPanel2", "Скорость", "9600"},
            {&main(), "StatusPanel4", "Серийный", "1234"},
            {&main(), "StatusPanel5", "Версия ПО", "1.05"},
        };
        for (const Shown &row : shown) {
            QLabel *label = in<QLabel>(row.window, QString::fromLatin1(row.control));
            QVERIFY(label);
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(label);
            QCOMPARE(a->text(QAccessible::Name), QString::fromUtf8(row.name));
            QTRY_COMPARE(a->text(QAccessible::Description), QString::fromUtf8(row.value));
        }
    }
};

QTEST_MAIN(TestSettingsEditors)
#include "tst_settingseditors.moc"
