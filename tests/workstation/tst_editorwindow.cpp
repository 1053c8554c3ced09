#include "configuratortestenv.h"
#include "workstationtestenv.h"

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
        QTest::addColumn<bool>("throws");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("exchanges");
        QTest::addColumn<QStringList>("boxes");
        const QString stop = QStringLiteral("Останов опроса");
        const QString failed = QStringLiteral("Ошибка обмена");
        const int yes = int(MessageButton::Yes), no = int(MessageButton::No);
        QTest::newRow("all good") << false << yes << QList<int>{0, 0, 0} << false
                                  << int(ExchangeOutcome::Done) << 3 << QStringList{};
        QTest::newRow("failures counted, one box")
            << false << yes << QList<int>{999, 0, 2} << false << int(ExchangeOutcome::Failed) << 3
            << QStringList{failed};
        QTest::newRow("polling stopped first")
            << true << yes << QList<int>{0} << false << int(ExchangeOutcome::Done) << 1
            << QStringList{stop};
        QTest::newRow("polling kept") << true << no << QList<int>{0} << false
                                      << int(ExchangeOutcome::Declined) << 0 << QStringList{stop};
        QTest::newRow("error in the middle")
            << false << yes << QList<int>{0, 0} << true << -1 << 1 << QStringList{};
    }
    void sequence()
    {
        QFETCH(bool, polling);
        QFETCH(int, answer);
        QFETCH(QList<int>, results);
        QFETCH(bool, throws);
        QFETCH(int, outcome);
        QFETCH(int, exchanges);
        QFETCH(QStringList, boxes);
        Configurator conf(m_clock);
        auto *editor = new Editor(conf.session, *conf.main);
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
                ++ran;
                run.check(result);
                if (throws)
                    throw std::runtime_error("port gone");
            }
        };
        if (throws) {
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, editor->runExchange({}, body));
        } else {
            QCOMPARE(int(editor->runExchange({}, body)), outcome);
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
        // Unlocked afterwards, unless the user kept polling running.
        QCOMPARE(editor->panel->isEnabled(), outcome != int(ExchangeOutcome::Declined));
    }

    // A command that needs the port lock gives up when another thread holds it.
    void portLockTimesOut()
    {
        Configurator conf(m_clock);
        auto *editor = new Editor(conf.session, *conf.main);
        PortMutex &mutex = conf.session.portMutex();
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
        QCOMPARE(editor->runExchange(options, [&](ExchangeRun &) { ran = true; }),
                 ExchangeOutcome::PortLocked);
        QVERIFY(!ran);
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
