// The test tool's windows against the device simulator on a real pseudo-terminal line. The
// tool's pauses and timers run on a virtual clock (one case keeps the wall clock); exchanges take
// their real time.

#include "devsim/devicesimulator.h"
#include "link/frame.h"
#include "platform/clock.h"
#include "platform/messageservice.h"
#include "testtool/hexgrid.h"
#include "testtool/testtoolwindows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <mutex>

using namespace devsim;

namespace {

constexpr quint8 kDeviceAddress = 3;

struct SimOptions
{
    int speedCode = 1;
    quint8 address = kDeviceAddress;
    bool answersZero = true;
    std::optional<QDateTime> clock = std::nullopt;
};

} // namespace

class TestToolWindowsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_ports;
    QTemporaryDir m_config;
    std::unique_ptr<DeviceSimulator> m_sim;
    std::unique_ptr<VirtualClock> m_clock;
    mutable std::mutex m_logMutex;
    QStringList m_log;

    void startSimulator(const SimOptions &o = {})
    {
        LineSetup line;
        line.port = 1;
        DeviceSetup d;
        d.address = o.address;
        d.speedCode = quint8(o.speedCode);
        d.type = 3;
        d.firmware = 105;
        d.release = {0x05, 0x03};
        d.serial = 0x00AB;
        d.answersZero = o.answersZero;
        d.clock = o.clock;
        line.devices = {d};
        m_sim = std::make_unique<DeviceSimulator>();
        m_sim->setLogger([this](const QString &l) {
            std::lock_guard lock(m_logMutex);
            m_log.append(l);
        });
        m_sim->addLine(line);
        QString error;
        QVERIFY2(m_sim->start(m_ports.path(), &error), qPrintable(error));
    }

    // Requests the simulator received, as frame texts.
    QStringList requests() const
    {
        std::lock_guard lock(m_logMutex);
        QStringList out;
        for (const QString &l : m_log) {
            const int at = l.indexOf(QLatin1String(" <- "));
            if (at >= 0)
                out.append(l.mid(at + 4).section(QLatin1Char(' '), 0, 0));
        }
        return out;
    }

    QDateTime deviceClock(quint8 address)
    {
        QDateTime t;
        m_sim->withDevice(
            1, address, [&](SimDevice &dev) { t = dev.deviceTime(QDateTime::currentDateTime()); });
        return t;
    }

    // The bytes of a logged or received frame, its LRC included, decoded without the link.
    static QByteArray wireBytes(const QString &frame)
    {
        QString hex = frame.mid(1);
        hex.truncate(hex.indexOf(QLatin1Char('<')) >= 0 ? hex.indexOf(QLatin1Char('<'))
                                                        : hex.indexOf(QLatin1Char('\r')));
        return QByteArray::fromHex(hex.toLatin1());
    }

    // Moves the virtual clock on in small steps until the condition holds; false when it still
    // does not after virtualMs.
    bool advanceUntil(const std::function<bool()> &condition, int virtualMs)
    {
        for (int waited = 0; !condition(); waited += 50) {
            if (waited >= virtualMs)
                return false;
            m_clock->advance(50);
        }
        return true;
    }

    // Runs action once, ms later on the virtual clock.
    void later(QObject *context, int ms, const std::function<void()> &action)
    {
        ClockTimer *timer = m_clock->createTimer(context);
        timer->setSingleShot(true);
        timer->setInterval(ms);
        connect(timer, &ClockTimer::timeout, context, action);
        timer->start();
    }

    static QStringList memoLines(const InterfaceCheckWindow &form)
    {
        return form.Memo1->toPlainText().split(QLatin1Char('\n'));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_ports.isValid() && m_config.isValid());
        qputenv("LORVAN_PORT_DIR", m_ports.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }

    void init() { m_clock = std::make_unique<VirtualClock>(); }

    void cleanup()
    {
        if (m_sim)
            m_sim->stop();
        m_sim.reset();
        std::lock_guard lock(m_logMutex);
        m_log.clear();
    }

    void startState()
    {
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        QCOMPARE(f.windowTitle(), QStringLiteral("Лорван MODBUS тест"));
        QCOMPARE(f.size(), QSize(336, 332));
        QCOMPARE(f.panelText(0), QStringLiteral(" COM1 закрыт"));
        QCOMPARE(f.panelText(1), QStringLiteral(" Устройство не обнаружено"));
        QVERIFY(f.panelText(2).startsWith(QLatin1String("   ")));
        QCOMPARE(f.ComboBaudrate->currentText(), QStringLiteral("19200"));
        QCOMPARE(f.port().baudrate(), Baudrate::br19200);
        QCOMPARE(f.port().stopbits(), Stopbits::sb1);
        QVERIFY(f.port().directWrite());
        QCOMPARE(f.port().PortNum(), 1);
        QCOMPARE(f.link().ResponseWait(), 100);
        QVERIFY(f.link().rtsControl() && f.CheckBox2->isChecked() && f.CheckBox1->isChecked());
        QVERIFY(!f.pollActive());
        QVERIFY(!f.Timer1->isActive() && f.Timer2->isActive());
        QCOMPARE(f.Find->text(), QStringLiteral(" &Поиск \nустройств"));
        // The viewer's buffer holds no reply yet: every byte shows FF.
        QVERIFY(std::all_of(f.receiveBuffer()->bytes.begin(), f.receiveBuffer()->bytes.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));

        f.ComboBaudrate->setCurrentText(QStringLiteral("9600"));
        QCOMPARE(f.link().ResponseWait(), 90);
        QCOMPARE(f.port().baudrate(), Baudrate::br9600);
        f.ComboBaudrate->setCurrentText(QStringLiteral("9601")); // typed, not an item
        QCOMPARE(f.link().ResponseWait(), 90);
        QCOMPARE(f.port().baudrate(), Baudrate::br9600);
        f.ComboPortNum->setCurrentIndex(2);
        QCOMPARE(f.port().PortNum(), 3);
        QCOMPARE(f.panelText(0), QStringLiteral("COM3"));
        // A typed port takes effect without Enter, as soon as the text names a port.
        f.ComboPortNum->lineEdit()->selectAll();
        QTest::keyClicks(f.ComboPortNum->lineEdit(), QStringLiteral("COM2"));
        QCOMPARE(f.port().PortNum(), 2);
        QCOMPARE(f.ComboPortNum->currentIndex(), 1);
        f.CheckBox2->setChecked(false);
        QVERIFY(!f.link().rtsControl());
        f.Edit1->setText(QStringLiteral("x"));
        QCOMPARE(f.deviceAddress(), 1);
        QVERIFY(f.Timer1->isActive());
    }

    void searchFindsTheDevice_data()
    {
        QTest::addColumn<int>("speedCode");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<int>("wait");
        QTest::newRow("9600") << 0 << "9600" << 70;
        QTest::newRow("19200") << 1 << "19200" << 40;
        QTest::newRow("38400") << 2 << "38400" << 30;
        QTest::newRow("57600") << 3 << "57600" << 20;
        QTest::newRow("115200") << 4 << "115200" << 10;
    }
    void searchFindsTheDevice()
    {
        QFETCH(int, speedCode);
        QFETCH(QString, speed);
        QFETCH(int, wait);
        startSimulator({speedCode});
        ScopedRecordingMessages messages;
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        QCOMPARE(f.FindClick(), kReplyOk);
        QCOMPARE(f.panelText(1), QStringLiteral(" Чтение "));
        QCOMPARE(f.panelText(0), QStringLiteral("COM1 Закрыт"));
        QCOMPARE(f.ComboBaudrate->currentText(), speed);
        QCOMPARE(QString::number(baudrateValue(f.port().baudrate())), speed);
        QCOMPARE(f.link().ResponseWait(), wait);
        QCOMPARE(w.form2.StaticText1->text(), QStringLiteral("Скорость: ") + speed);
        QCOMPARE(w.form2.StaticText2->text(), QStringLiteral("Связь установлена"));
        QCOMPARE(w.form2.StaticText3->text(), QStringLiteral("Идет инициализация..."));
        QVERIFY(!w.form2.isVisible());
        // The identity was read at once, from address 0, and names the device's own address.
        QCOMPARE(f.StaticText5->text(), QStringLiteral(" Лорван"));
        QCOMPARE(f.StaticText7->text(), QStringLiteral(" 1.05"));
        QCOMPARE(f.StaticText9->text(), QStringLiteral(" 05:03"));
        QCOMPARE(f.Edit1->text(), QString::number(kDeviceAddress));
        QCOMPARE(f.deviceAddress(), kDeviceAddress);
        QVERIFY(f.pollActive() && f.Timer1->isActive() && f.Find->isEnabled());
        QVERIFY(messages.shown.isEmpty());
        // Every request went out at address 0, one per speed up to the device's.
        // One request per speed up to the device's (9600 is the fourth), then the identity
        // read, all to address 0.
        const QStringList sent = requests();
        QVERIFY(sent.size() >= 4 + speedCode + 1);
        for (int i = 0; i < 4 + speedCode + 1; ++i)
            QCOMPARE(wireBytes(sent[i]).left(6), QByteArray::fromHex("00030000000A"));
    }

    void searchWithoutAnswer()
    {
        startSimulator({1, kDeviceAddress, false});
        ScopedRecordingMessages messages;
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        QCOMPARE(f.FindClick(), kNoReply);
        QCOMPARE(f.panelText(1), QStringLiteral(" Устройство не обнаружено"));
        QCOMPARE(w.form2.StaticText1->text(), QStringLiteral(" Ошибка обмена: 999"));
        QCOMPARE(w.form2.StaticText2->text(), QStringLiteral(" Устройство не обнаружено"));
        QCOMPARE(w.form2.StaticText3->text(), QStringLiteral(" Проверьте подключение"));
        QCOMPARE(f.ComboBaudrate->currentText(), QStringLiteral("115200"));
        QCOMPARE(f.port().baudrate(), Baudrate::br115200);
        QCOMPARE(f.link().ResponseWait(), 10);
        QVERIFY(!f.pollActive() && !f.Timer1->isActive() && f.Find->isEnabled());
        QVERIFY(messages.shown.isEmpty());
    }

    void searchOnAPortThatCannotOpen()
    {
        // No simulator: COM1 does not exist.
        ScopedRecordingMessages messages;
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        const qint64 started = m_clock->elapsed();
        QCOMPARE(f.FindClick(), kNoReply);
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].icon, MessageIcon::Error);
        QVERIFY(messages.shown[0].text.startsWith(
            QStringLiteral("Specified device not found (COM1).\n\nПорт COM1 (%1/COM1) отсутствует.")
                .arg(m_ports.path())));
        QVERIFY(f.Find->isEnabled());
        QCOMPARE(f.panelText(0), QStringLiteral("COM1 Закрыт"));
        QVERIFY(!w.form2.isVisible());
        // One attempt, not eight.
        QVERIFY(m_clock->elapsed() - started < 4000);
    }

    // The one case on the wall clock.
    void cyclicReadFailsAndRecovers()
    {
        startSimulator({1, 5, true, QDateTime(QDate(2031, 6, 15), QTime(10, 20, 30), Qt::UTC)});
        ScopedRecordingMessages messages;
        TestToolWindows w; // on the wall clock: the cyclic read every second
        LinkTestWindow &f = w.form1;
        QCOMPARE(f.FindClick(), kReplyOk);
        QCOMPARE(f.deviceAddress(), 5);
        QCOMPARE(f.MaskEditDate->text(), QStringLiteral(" 15.06.31"));
        QVERIFY(f.MaskEditTime->text().startsWith(QLatin1String(" 10:20:")));
        // The device keeps its serial 0x00AB low byte first; the tool shows what the
        // configurator shows.
        QCOMPARE(f.StaticText11->text(), QStringLiteral(" 00AB"));
        // The next tick asks the device's own address.
        QTRY_VERIFY_WITH_TIMEOUT(requests().last().startsWith(QLatin1String(":0503")), 3000);

        // At the wrong speed the device stays silent.
        f.ComboBaudrate->setCurrentText(QStringLiteral("9600"));
        QTRY_VERIFY_WITH_TIMEOUT(w.form4.isVisible(), 3000);
        QCOMPARE(w.form4.StaticText1->text(), QStringLiteral("Ошибка обмена: 999"));
        QCOMPARE(f.panelText(1), QStringLiteral(" Ошибка чтения : 999"));
        QVERIFY(f.StaticText5->text().isEmpty() && f.StaticText11->text().isEmpty());
        QVERIFY(f.pollActive());

        f.ComboBaudrate->setCurrentText(QStringLiteral("19200"));
        QTRY_VERIFY_WITH_TIMEOUT(!w.form4.isVisible(), 3000);
        QCOMPARE(f.StaticText5->text(), QStringLiteral(" Лорван"));
        QCOMPARE(f.panelText(1), QStringLiteral(" Чтение "));
        QVERIFY(messages.shown.isEmpty());
    }

    void portLostWhilePolling()
    {
        startSimulator();
        ScopedRecordingMessages messages;
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        QCOMPARE(f.FindClick(), kReplyOk);
        m_sim->stop(); // the line disappears
        QVERIFY(advanceUntil([&] { return messages.shown.size() == 1; }, 3000));
        QCOMPARE(messages.shown[0].icon, MessageIcon::Error);
        QVERIFY2(messages.shown[0].text.contains(QStringLiteral(" отсутствует.")),
                 qPrintable(messages.shown[0].text));
        QCOMPARE(f.panelText(1), QStringLiteral(" Ошибка чтения : 999"));
        // One box for one loss, and the cyclic read goes on rather than raising it every second.
        QVERIFY(!w.form4.isVisible());
        QVERIFY(f.CheckBox1->isChecked() && f.pollActive());
        m_clock->advance(2500);
        QCOMPARE(messages.shown.size(), 1);

        // The line comes back on another pseudo-terminal under the same name: read again
        // within one period of the cyclic read.
        startSimulator();
        QVERIFY(advanceUntil([&] { return f.panelText(1) == QStringLiteral(" Чтение "); }, 1600));
        QCOMPARE(f.StaticText5->text(), QStringLiteral(" Лорван"));
        QCOMPARE(messages.shown.size(), 1);
    }

    void closingEndsASearchEarly()
    {
        startSimulator({1, kDeviceAddress, false});
        ScopedRecordingMessages messages;
        TestToolWindows w{*m_clock};
        w.form1.show();
        w.form5.show();
        later(&w.form1, 700, [&] { w.form1.close(); });
        const qint64 started = m_clock->elapsed();
        QCOMPARE(w.form1.FindClick(), kNoReply);
        QVERIFY(m_clock->elapsed() - started < 3000);
        QVERIFY(!w.form2.isVisible() && !w.form5.isVisible());
        QVERIFY(!w.form1.Timer1->isActive());
    }

    void searchPopupPausesOncePerShowing()
    {
        SearchPopup popup(*m_clock);
        qint64 started = m_clock->elapsed();
        popup.popup();
        QVERIFY(m_clock->elapsed() - started >= 600);
        started = m_clock->elapsed();
        popup.popup();
        QVERIFY(m_clock->elapsed() - started < 300);
        popup.hide();
        started = m_clock->elapsed();
        popup.popup();
        QVERIFY(m_clock->elapsed() - started >= 600);
    }

    void clockSetByEnter()
    {
        startSimulator();
        ScopedRecordingMessages messages;
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        QCOMPARE(f.FindClick(), kReplyOk);
        QVERIFY(f.pollActive());
        // Enter is ignored while the cyclic read owns the fields.
        QTest::keyClick(f.MaskEditDate, Qt::Key_Return);
        QVERIFY(messages.shown.isEmpty());

        f.MaskEditDate->setText(QStringLiteral(" 05.03.24"));
        QVERIFY(!f.pollActive());
        f.MaskEditTime->setText(QStringLiteral(" 14:07:30"));
        QTest::keyClick(f.MaskEditTime, Qt::Key_Return);
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Дата и время установлены"));
        QCOMPARE(messages.shown[0].caption, QStringLiteral("Установка даты и времени"));
        const QString write = requests().filter(QStringLiteral(":0310")).value(0);
        QCOMPARE(wireBytes(write).left(13), QByteArray::fromHex("031000060003060503180E071E"));
        const QDateTime device = deviceClock(kDeviceAddress);
        QCOMPARE(device.date(), QDate(2024, 3, 5));
        QVERIFY(qAbs(device.time().secsTo(QTime(14, 7, 30))) <= 3);
        QVERIFY(!f.CheckBox1->isChecked() && !f.pollActive());
        QVERIFY(f.Timer1->isActive());

        // A date that does not exist is refused before anything is sent.
        const int sent = requests().size();
        f.MaskEditDate->setText(QStringLiteral(" 31.04.24"));
        QTest::keyClick(f.MaskEditDate, Qt::Key_Enter);
        QCOMPARE(messages.shown.size(), 2);
        QCOMPARE(messages.shown[1].text, QStringLiteral("Неверный ввод даты или времени"));
        QVERIFY(messages.shown[1].untitled);
        QCOMPARE(requests().size(), sent);
        QCOMPARE(deviceClock(kDeviceAddress).date(), QDate(2024, 3, 5));
    }

    void clockSetByDoubleClickAndFailedWrite()
    {
        startSimulator({1, kDeviceAddress, true, QDateTime(QDate(2001, 1, 1), QTime(1, 1, 1))});
        ScopedRecordingMessages messages;
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        f.Edit1->setText(QString::number(kDeviceAddress));
        f.MaskEditTime->setText(QStringLiteral(" 01:02:03"));
        QTest::mouseDClick(f.MaskEditDate, Qt::LeftButton);
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Дата и время установлены"));
        QCOMPARE(deviceClock(kDeviceAddress).date(), QDate::currentDate());

        QTest::mouseDClick(f.MaskEditTime, Qt::LeftButton);
        QCOMPARE(messages.shown.size(), 2);
        QVERIFY(qAbs(deviceClock(kDeviceAddress).time().secsTo(QTime::currentTime())) <= 3);

        // No device at this address: the write fails and says so.
        f.Edit1->setText(QStringLiteral("9"));
        QTest::mouseDClick(f.MaskEditDate, Qt::LeftButton);
        QCOMPARE(messages.shown.size(), 3);
        QCOMPARE(messages.shown[2].text, QStringLiteral("Ошибка обмена:999"));
        QCOMPARE(messages.shown[2].caption, QStringLiteral("Ошибка обмена"));
        QCOMPARE(messages.shown[2].icon, MessageIcon::Error);
    }

    void portChangeRefusedDuringAnExchange()
    {
        startSimulator();
        ScopedRecordingMessages messages;
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        f.setPollActive(true);
        QTimer::singleShot(20, &f, [&] { f.ComboPortNum->setCurrentIndex(1); });
        QCOMPARE(f.readIdentity(0), kReplyOk);
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text,
                 QStringLiteral("Can't perform this operation while port is open"));
        QCOMPARE(f.ComboPortNum->currentIndex(), 0);
        QCOMPARE(f.port().PortNum(), 1);
        QVERIFY(!f.pollActive());
    }

    void actionsDuringAnExchangeRunAfterIt()
    {
        startSimulator();
        ScopedRecordingMessages messages;
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        // Enter in the clock fields and a click on "Поиск" while a read waits for its reply.
        f.MaskEditDate->setText(QStringLiteral(" 05.03.24"));
        f.MaskEditTime->setText(QStringLiteral(" 14:07:30"));
        QTimer::singleShot(20, &f, [&] { QTest::keyClick(f.MaskEditDate, Qt::Key_Return); });
        QTimer::singleShot(30, &f, [&] { f.Find->click(); });
        QCOMPARE(f.readIdentity(0), kReplyOk);
        QVERIFY(advanceUntil([&] { return messages.shown.size() == 1; }, 3000));
        QCOMPARE(messages.shown[0].text, QStringLiteral("Дата и время установлены"));
        QVERIFY(
            advanceUntil([&] { return f.panelText(0) == QStringLiteral("COM1 Закрыт"); }, 15000));
        QCOMPARE(f.panelText(1), QStringLiteral(" Чтение "));
        QCOMPARE(f.ComboBaudrate->currentText(), QStringLiteral("19200"));
        QCOMPARE(deviceClock(kDeviceAddress).date(), QDate(2024, 3, 5));

        // The check clicked during the search waits for its end and then runs whole.
        f.TestClick();
        later(&f, 20, [&] { f.FindClick(); });
        later(&w.form5, 400, [&] { w.form5.Button2->click(); });
        QVERIFY(advanceUntil(
            [&] {
                return w.form5.Memo1->toPlainText().endsWith(
                    QStringLiteral("Проверка завершена успешно"));
            },
            40000));
        QCOMPARE(memoLines(w.form5).size(), 7);
    }

    void interfaceCheck_data()
    {
        QTest::addColumn<bool>("device");
        QTest::newRow("device at 19200") << true;
        QTest::newRow("no answer") << false;
    }
    void interfaceCheck()
    {
        QFETCH(bool, device);
        startSimulator({1, kDeviceAddress, device});
        ScopedRecordingMessages messages;
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        f.TestClick();
        QVERIFY(w.form5.isVisible());
        QVERIFY(!f.CheckBox1->isChecked() && !f.pollActive());
        w.form5.Memo1->setPlainText(QStringLiteral("earlier run"));
        const qint64 started = m_clock->elapsed();
        QCOMPARE(w.form5.Button2Click(), device);
        const QString err = QStringLiteral("...Ошибка");
        const QString ok = QStringLiteral(".......OK");
        const QString c = QStringLiteral("Cкорость: ");
        const QStringList expected{
            QStringLiteral("earlier run"),
            device ? QStringLiteral("Связь установлена")
                   : QStringLiteral(" Устройство не обнаружено"),
            c + QStringLiteral("  9600") + err,
            c + QStringLiteral(" 19200") + (device ? ok : err),
            c + QStringLiteral(" 38400") + err,
            c + QStringLiteral(" 57600") + err,
            c + QStringLiteral("115200") + err,
            device ? QStringLiteral("Проверка завершена успешно")
                   : QStringLiteral("Проверка завершена с ошибками"),
        };
        QCOMPARE(memoLines(w.form5), expected);
        QVERIFY(m_clock->elapsed() - started >= (device ? 4 : 5) * 3000);
        QCOMPARE(f.port().baudrate(), device ? Baudrate::br19200 : Baudrate::br115200);
        QCOMPARE(f.link().ResponseWait(), 80);
        QVERIFY(!f.CheckBox1->isChecked() && !f.pollActive());
        QVERIFY(f.Find->isEnabled() && w.form5.Button2->isEnabled() && f.Timer1->isActive());
        QVERIFY(messages.shown.isEmpty());

        w.form5.Button1Click();
        QVERIFY(w.form5.Memo1->toPlainText().isEmpty());
    }

    void viewerShowsTheLastReply()
    {
        startSimulator();
        TestToolWindows w{*m_clock};
        LinkTestWindow &f = w.form1;
        THexGrid *grid = w.form3.HexGrid1;
        QCOMPARE(f.readIdentity(0), kReplyOk);
        QTest::mouseClick(f.Edit8, Qt::LeftButton);
        QVERIFY(w.form3.isVisible());
        QCOMPARE(grid->DataCount(), 1024);
        QCOMPARE(grid->RowCount(), 65);
        QCOMPARE(grid->cellText(0, 64), QStringLiteral("0003F0"));
        // The whole frame as received: address, function, byte count, 20 data bytes, LRC.
        const QByteArray frame = wireBytes(QString::fromLatin1(f.link().replyText()));
        QCOMPARE(frame.size(), 24);
        QCOMPARE(frame.mid(3, 20), f.link().rawBytes);
        for (int i = 0; i < 24; ++i) {
            const QString want =
                QStringLiteral("%1").arg(quint8(frame[i]), 2, 16, QLatin1Char('0')).toUpper();
            QCOMPARE(grid->cellText(i % 16 + 1, i / 16 + 1), want);
        }
        QCOMPARE(grid->cellText(1, 1), QStringLiteral("03"));
        QCOMPARE(grid->cellText(9, 2), QStringLiteral("FF"));
        QCOMPARE(grid->cellText(16, 64), QStringLiteral("FF"));

        // An exchange without an answer leaves the buffer as the last opening filled it.
        f.Edit1->setText(QStringLiteral("9"));
        QCOMPARE(f.readIdentity(9), kNoReply);
        QVERIFY(f.link().replyText().isEmpty());
        w.form3.hide();
        QTest::mouseClick(f.Edit8, Qt::LeftButton);
        QVERIFY(w.form3.isVisible());
        QCOMPARE(grid->cellText(1, 1), QStringLiteral("03"));
        QCOMPARE(grid->cellText(8, 2),
                 QStringLiteral("%1").arg(quint8(frame[23]), 2, 16, QLatin1Char('0')).toUpper());
    }
};

QTEST_MAIN(TestToolWindowsTest)
#include "tst_testtoolwindows.moc"
