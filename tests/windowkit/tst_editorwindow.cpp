#include "tests/support/configuratortestenv.h"
#include "tests/support/workstationtestenv.h"

#include "platform/settings.h"
#include "windowkit/editorwindow.h"

#include <QAction>
#include <QGroupBox>
#include <QThread>
#include <QtTest>

#include <stdexcept>

// The exchange sequence every editor command runs, with made-up exchange results: what it asks,
// what it locks, the one message box, and the unlocking afterwards.
class TestEditorWindow : public QObject
{
    Q_OBJECT

    class Editor : public EditorWindow
    {
    public:
        Editor(Session &session, WindowHost &host)
            : EditorWindow(session, host, QStringLiteral("frmTest"), QStringLiteral("Тест"),
                           host.mainWidget())
        {
            panel = new QGroupBox(this);
            declareCommandPanels({panel});
        }
        QGroupBox *panel;
    };

    QTemporaryDir m_dir;
    VirtualClock m_clock;
    static constexpr HoldingBlock kBlock{0x1A4, 10};

    // A device entry at the address on port 1, selected.
    static void addDevice(Session &session, int address)
    {
        DeviceNode node;
        node.setPortNumber(1);
        node.identity()[6] = std::uint8_t(address);
        session.selected().CurrentDevice() = node;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
    }

    void sequence_data()
    {
        QTest::addColumn<bool>("polling");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QList<int>>("results");
        QTest::addColumn<int>("throwAfter"); // exchanges before an error travels through; -1 none
        QTest::addColumn<bool>("read");      // the window read the block it writes
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("exchanges");
        QTest::addColumn<QStringList>("boxes");
        const QString stop = QStringLiteral("Останов опроса");
        const QString failed = QStringLiteral("Ошибка обмена");
        const QString notRead = QStringLiteral("Запись настроек");
        const int yes = int(MessageButton::Yes), no = int(MessageButton::No);
        QTest::newRow("all good") << false << yes << QList<int>{0, 0, 0} << -1 << true
                                  << int(ExchangeOutcome::Done) << 3 << QStringList{};
        QTest::newRow("failures counted, one box")
            << false << yes << QList<int>{999, 0, 2} << -1 << true << int(ExchangeOutcome::Failed)
            << 3 << QStringList{failed};
        QTest::newRow("polling stopped first")
            << true << yes << QList<int>{0} << -1 << true << int(ExchangeOutcome::Done) << 1
            << QStringList{stop};
        QTest::newRow("polling kept") << true << no << QList<int>{0} << -1 << true
                                      << int(ExchangeOutcome::Declined) << 0 << QStringList{stop};
        QTest::newRow("error in the middle")
            << false << yes << QList<int>{0, 0} << 1 << true << -1 << 1 << QStringList{};
        QTest::newRow("error after a failure")
            << false << yes << QList<int>{2, 0} << 1 << true << -1 << 1 << QStringList{failed};
        QTest::newRow("block never read here")
            << true << yes << QList<int>{0} << -1 << false << int(ExchangeOutcome::NotRead) << 0
            << QStringList{notRead};
    }
    void sequence()
    {
        QFETCH(bool, polling);
        QFETCH(int, answer);
        QFETCH(QList<int>, results);
        QFETCH(int, throwAfter);
        QFETCH(bool, read);
        const bool throws = throwAfter >= 0;
        QFETCH(int, outcome);
        QFETCH(int, exchanges);
        QFETCH(QStringList, boxes);
        Configurator conf(m_clock);
        auto *editor = new Editor(conf.session, *conf.main);
        addDevice(conf.session, 5);
        ExchangeOptions options;
        options.writesFromControls = {kBlock};
        if (read)
            conf.session.selected().origins().windowRead(editor->objectName(), kBlock.position,
                                                         kBlock.length,
                                                         conf.session.selected().key());
        if (polling) {
            conf.main->EnableDeviceCommands();
            conf.main->command(QStringLiteral("butEnableCycleReqDev"))->trigger();
            QVERIFY(!editor->panel->isEnabled());
        }
        ScopedRecordingMessages messages;
        messages.answers = {MessageButton(answer)};
        int ran = 0;
        bool lockedMeanwhile = false;
        auto body = [&](ExchangeRun &run) {
            lockedMeanwhile = !editor->panel->isEnabled();
            for (int result : results) {
                if (ran == throwAfter)
                    throw std::runtime_error("port gone");
                ++ran;
                run.check(result);
            }
        };
        if (throws) {
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, editor->runExchange(options, body));
        } else {
            QCOMPARE(int(editor->runExchange(options, body)), outcome);
        }
        QCOMPARE(ran, exchanges);
        if (exchanges > 0)
            QVERIFY(lockedMeanwhile);
        QStringList captions;
        for (const MessageRequest &m : messages.shown)
            captions.append(m.caption);
        QCOMPARE(captions, boxes);
        if (outcome == int(ExchangeOutcome::Failed))
            QCOMPARE(messages.shown.last().icon, MessageIcon::Error);
        // Unlocked afterwards, unless the user kept polling running (or it was never asked).
        QCOMPARE(editor->panel->isEnabled(), exchanges > 0 || !polling);
    }

    // What a window read counts for the device it came from, and follows it to a new address.
    void readBlocksBelongToTheirDevice()
    {
        Configurator conf(m_clock);
        auto *editor = new Editor(conf.session, *conf.main);
        Session &s = conf.session;
        addDevice(s, 5);
        s.selected().origins().windowRead(editor->objectName(), kBlock.position, kBlock.length,
                                          s.selected().key());
        QVERIFY(editor->hasRead(kBlock));
        QVERIFY(!editor->hasRead({kBlock.position, std::uint16_t(kBlock.length + 2)}));
        IdentityBlock moved = IdentityBlock::decode(s.selected().CurrentDevice().identity());
        moved.setAddress(9);
        s.selected().adoptIdentity(moved);
        QVERIFY(editor->hasRead(kBlock));
        addDevice(s, 5); // another device now answers at the old address
        QVERIFY(!editor->hasRead(kBlock));
        addDevice(s, 9);
        QVERIFY(editor->hasRead(kBlock));
        s.clearNetwork();
        QVERIFY(!editor->hasRead(kBlock));
    }

    // A read into the controls counts only when every exchange of its command succeeded; one
    // that failed part way, or was cut short by an error, leaves its blocks unread, also those
    // an earlier whole read had given.
    void readCountsWhenWhole_data()
    {
        QTest::addColumn<QList<int>>("results");
        QTest::addColumn<bool>("throws");
        QTest::addColumn<bool>("read");
        QTest::newRow("whole") << QList<int>{0, 0} << false << true;
        QTest::newRow("failed part way") << QList<int>{0, 999} << false << false;
        QTest::newRow("error travels") << QList<int>{0} << true << false;
    }
    void readCountsWhenWhole()
    {
        QFETCH(QList<int>, results);
        QFETCH(bool, throws);
        QFETCH(bool, read);
        Configurator conf(m_clock);
        auto *editor = new Editor(conf.session, *conf.main);
        addDevice(conf.session, 5);
        constexpr HoldingBlock kOther{0x20A, 12};
        conf.session.selected().origins().windowRead(editor->objectName(), kBlock.position,
                                                     kBlock.length, conf.session.selected().key());
        conf.session.selected().origins().windowReadDone(
            editor->objectName(), conf.session.selected().key(), m_clock.currentDateTime());
        ExchangeOptions options;
        options.readsControls = true;
        ScopedRecordingMessages messages;
        auto body = [&](ExchangeRun &run) {
            for (const HoldingBlock &b : {kBlock, kOther})
                run.noteRead(b);
            for (int result : results)
                run.check(result);
            if (throws)
                throw std::runtime_error("port gone");
        };
        if (throws)
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, editor->runExchange(options, body));
        else
            editor->runExchange(options, body);
        QCOMPARE(editor->hasRead(kBlock), read);
        QCOMPARE(editor->hasRead(kOther), read);
        QCOMPARE(editor->readOriginText() == QStringLiteral("Не прочитано"), !read);
    }

    // A command that needs the port lock gives up when another thread holds it.
    void portLockTimesOut()
    {
        Configurator conf(m_clock);
        auto *editor = new Editor(conf.session, *conf.main);
        PortMutex &mutex = conf.session.line().portMutex;
        QThread *holder = QThread::create([&mutex] {
            mutex.lock(0);
            QThread::msleep(400);
            mutex.unlock();
        });
        holder->start();
        QThread::msleep(50);
        ExchangeOptions options;
        options.takePortMutex = true;
        options.mutexTimeoutMs = 100;
        bool ran = false;
        ScopedRecordingMessages messages;
        QCOMPARE(editor->runExchange(options, [&](ExchangeRun &) { ran = true; }),
                 ExchangeOutcome::PortLocked);
        QVERIFY(!ran);
        // Told as a failure, not passed over in silence.
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].icon, MessageIcon::Error);
        QVERIFY(editor->panel->isEnabled());
        holder->wait();
        delete holder;
        options.mutexTimeoutMs = 1000;
        QCOMPARE(editor->runExchange(options, [&](ExchangeRun &) { ran = true; }),
                 ExchangeOutcome::Done);
        QVERIFY(ran);
        // Released again: another thread gets it at once.
        bool taken = false;
        QThread *after = QThread::create([&] {
            taken = mutex.lock(0);
            if (taken)
                mutex.unlock();
        });
        after->start();
        after->wait();
        delete after;
        QVERIFY(taken);
    }
};

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
