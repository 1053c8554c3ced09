// A plug-in that the tests load into the real programs (QT_QPA_GENERIC_PLUGINS=lorvandriver) to
// act as a user would: it finds the controls by their names and presses them, then closes the
// program at a chosen moment. LORVAN_DRIVE names the script:
//   poll-signal  scan the line, switch polling on, send SIGTERM while a tick waits for a reply
//   poll-exit    the same, but closes with the "Выход" command
//   scan-close   closes the main window while a scan waits for a reply
//   tool-close   the test tool: closes its window while its search waits for replies
//   poll-on      scans addresses 1..5, switches polling on and leaves the program running
//   tool-cyclic  the test tool: starts its search, after which it reads cyclically, and leaves
//                it running
//   shots        saves a picture of each window of the program (LorvanConf: the main window and
//                each settings window after its "Читать"; the test tool: its windows) as
//                <objectName>.png in LORVAN_SHOT_DIR, then quits
// The two that leave the program running stop this plug-in's own timer at the end, so that it
// costs the program nothing while the benchmarks sample its CPU.
// The moment of each step goes to standard error, for the test to follow.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGenericPlugin>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

QWidget *topLevel(const char *name)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String(name))
            return w;
    }
    return nullptr;
}

void say(const char *step)
{
    std::fprintf(stderr, "driver: %s\n", step);
    std::fflush(stderr);
}

class Driver : public QObject
{
public:
    explicit Driver(const QString &script) : m_script(script)
    {
        // The language of Qt's own buttons, as the program set it up.
        QTimer::singleShot(0, this, [] {
            QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::Cancel);
            std::fprintf(stderr, "driver: buttons %s %s\n",
                         qUtf8Printable(box.button(QDialogButtonBox::Yes)->text()),
                         qUtf8Printable(box.button(QDialogButtonBox::Cancel)->text()));
        });
        m_timer.setInterval(2);
        connect(&m_timer, &QTimer::timeout, this, &Driver::step);
        m_timer.start();
    }

private:
    // Each call looks whether the program has come where the next step can act.
    void step()
    {
        if (m_script.startsWith(QLatin1String("tool-")))
            return toolStep();
        if (m_script == QLatin1String("shots"))
            return shotStep();
        QWidget *main = topLevel("frmMain");
        QWidget *find = topLevel("frmFindDevices");
        if (!main || !find || !main->isVisible())
            return;
        auto *tree = main->findChild<QTreeWidget *>(QStringLiteral("TreeView1"));
        auto *polling = main->findChild<QAction *>(QStringLiteral("butEnableCycleReqDev"));
        // The poll timer belongs to the program's session, below the application object.
        auto *tick = qApp->findChild<QTimer *>(QStringLiteral("VrTimer1"));
        if (!tick)
            return;
        auto *button = find->findChild<QAbstractButton *>(QStringLiteral("Find"));
        switch (m_stage) {
        case 0: {
            // The scan window opens through its command, which also enables the polling button.
            main->findChild<QAction *>(QStringLiteral("butFindDevices"))->trigger();
            find->findChild<QComboBox *>(QStringLiteral("ComboPortNum"))->setCurrentIndex(0);
            find->findChild<QComboBox *>(QStringLiteral("ComboBaudrate"))->setCurrentIndex(3);
            find->findChild<QSpinBox *>(QStringLiteral("EditAdrBeg"))->setValue(1);
            const int lastAddress = m_script == QLatin1String("scan-close") ? 20
                                    : m_script == QLatin1String("poll-on")  ? 5
                                                                            : 1;
            find->findChild<QSpinBox *>(QStringLiteral("EditAdrEnd"))->setValue(lastAddress);
            say("scan");
            // Queued: the scan runs in the button's handler, and this driver goes on meanwhile.
            QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
            ++m_stage;
            return;
        }
        case 1:
            if (m_script == QLatin1String("scan-close")) {
                if (button->text() != QStringLiteral("Остановить"))
                    return;
                say("close during scan");
                ++m_stage;
                main->close();
                return;
            }
            if (button->text() != QStringLiteral("Сканировать") || tree->topLevelItemCount() == 0 ||
                !polling->isEnabled())
                return;
            say("polling on");
            ++m_stage;
            polling->trigger();
            if (m_script == QLatin1String("poll-on"))
                m_timer.stop();
            return;
        case 2:
            // Polling is on and its timer stopped: a tick runs, and this timer was delivered
            // from inside its wait for a reply.
            if (m_script == QLatin1String("scan-close") || !polling->isChecked() ||
                tick->isActive())
                return;
            ++m_stage;
            if (m_script == QLatin1String("poll-exit")) {
                say("exit during tick");
                main->findChild<QAction *>(QStringLiteral("mnuExitProg"))->trigger();
            } else {
                say("SIGTERM during tick");
                ::kill(::getpid(), SIGTERM);
            }
            return;
        default:
            return;
        }
    }

    void toolStep()
    {
        QWidget *main = topLevel("Form1");
        if (!main || !main->isVisible())
            return;
        switch (m_stage) {
        case 0:
            say("search");
            QMetaObject::invokeMethod(main->findChild<QAbstractButton *>(QStringLiteral("Find")),
                                      &QAbstractButton::click, Qt::QueuedConnection);
            ++m_stage;
            m_clock.start();
            if (m_script == QLatin1String("tool-cyclic"))
                m_timer.stop();
            return;
        case 1:
            if (m_clock.elapsed() < 300)
                return;
            say("close during search");
            ++m_stage;
            main->close();
            return;
        default:
            return;
        }
    }

    // One window at a time: shown, its settings read when it has a read button, and pictured
    // 1.5 s later. A message box that a read brings up is closed, and the window given another
    // 1.5 s.
    void shotStep()
    {
        QWidget *main = topLevel("frmMain");
        if (!main)
            main = topLevel("Form1");
        if (!main || !main->isVisible() || (m_clock.isValid() && m_clock.elapsed() < 1500))
            return;
        const QDir dir(qEnvironmentVariable("LORVAN_SHOT_DIR"));
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                box->done(QMessageBox::Ok);
                m_clock.start();
                return;
            }
        }
        if (QWidget *shown = m_current.isEmpty() ? nullptr : topLevel(qPrintable(m_current))) {
            shown->grab().save(dir.filePath(m_current + QStringLiteral(".png")));
            say(qPrintable(QStringLiteral("shot ") + m_current));
            if (shown != main)
                shown->hide();
        }
        if (m_pending.isEmpty() && m_current.isEmpty()) {
            // The configurator makes its other windows once the main window is up.
            if (main->objectName() == QLatin1String("frmMain") && !topLevel("frmConfig"))
                return;
            m_pending << main->objectName();
            for (QWidget *w : QApplication::topLevelWidgets()) {
                const QString name = w->objectName();
                if (w != main && !name.isEmpty() && w->isWindow() &&
                    !qobject_cast<QMessageBox *>(w) &&
                    (name.startsWith(QLatin1String("frm")) ||
                     name.startsWith(QLatin1String("Form"))))
                    m_pending << name;
            }
        } else if (m_pending.isEmpty()) {
            say("shots done");
            m_timer.stop();
            QApplication::quit();
            return;
        }
        m_current = m_pending.takeFirst();
        QWidget *next = topLevel(qPrintable(m_current));
        next->show();
        next->raise();
        for (QAbstractButton *b : next->findChildren<QAbstractButton *>()) {
            if (b->text() == QStringLiteral("Читать") && b->isEnabled() && b->isVisible()) {
                QMetaObject::invokeMethod(b, &QAbstractButton::click, Qt::QueuedConnection);
                break;
            }
        }
        m_clock.start();
    }

    QStringList m_pending;
    QString m_current;
    QString m_script;
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_stage = 0;
};

} // namespace

class DriverPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "lorvandriver.json")
public:
    QObject *create(const QString &key, const QString &) override
    {
        if (key.compare(QLatin1String("lorvandriver"), Qt::CaseInsensitive) != 0)
            return nullptr;
        return new Driver(qEnvironmentVariable("LORVAN_DRIVE"));
    }
};

#include "lorvandriver.moc"
