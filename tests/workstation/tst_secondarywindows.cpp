#include "tests/support/configuratortestenv.h"
#include "tests/support/workstationtestenv.h"

#include <QAccessible>
#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// The secondary windows as the program assembles them: their keys and what assistive tools are
// told of them; and the keys that open the main window's menu.
class TestSecondaryWindows : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<Configurator> m_conf;

    enum Effect { Closes, Presses, MovesFocus, Nothing };

    MainWindow &main() { return *m_conf->main; }
    QWidget *window(const QString &name)
    {
        return name.isEmpty() ? &main() : main().findChild<QWidget *>(name);
    }
    // Every window the main window owns, whatever windows the program comes to have.
    static QList<QWidget *> windowsOf(const MainWindow &main)
    {
        QList<QWidget *> found = main.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        found.removeIf([](QWidget *w) {
            return w->windowType() != Qt::Window && w->windowType() != Qt::Dialog;
        });
        return found;
    }
    void open(QWidget *w)
    {
        w->show();
        w->activateWindow();
        // Not qWaitForWindowActive: a window counts as active while its owner is.
        QTRY_COMPARE(QApplication::activeWindow(), w);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
    }
    void init()
    {
        m_conf = std::make_unique<Configurator>(systemClock());
        main().show();
        QTRY_VERIFY(main().isActivated());
    }
    void cleanup() { m_conf.reset(); }

    void keys_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("inField"); // the focus in a text field, else on a push button
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("effect");
        Configurator conf(systemClock());
        for (QWidget *w : windowsOf(*conf.main)) {
            const QString n = w->objectName();
            const QByteArray bytes = n.toLatin1();
            const char *tag = bytes.constData();
            QTest::addRow("%s Escape", tag) << n << false << int(Qt::Key_Escape) << int(Closes);
            QTest::addRow("%s Return", tag) << n << false << int(Qt::Key_Return) << int(Presses);
            QTest::addRow("%s keypad Enter", tag)
                << n << false << int(Qt::Key_Enter) << int(Presses);
            const auto controls = w->findChildren<QWidget *>();
            if (std::count_if(controls.begin(), controls.end(),
                              [](QWidget *c) { return c->focusPolicy() & Qt::TabFocus; }) > 1)
                QTest::addRow("%s Tab", tag) << n << false << int(Qt::Key_Tab) << int(MovesFocus);
            if (w->findChild<QLineEdit *>())
                QTest::addRow("%s Return in a field", tag)
                    << n << true << int(Qt::Key_Return) << int(Nothing);
        }
    }
    void keys()
    {
        QFETCH(QString, name);
        QFETCH(bool, inField);
        QFETCH(int, key);
        QFETCH(int, effect);
        QWidget *w = window(name);
        open(w);
        // The window's own push button where it has one on the page shown; what it does is not
        // tested here.
        auto buttons = w->findChildren<QPushButton *>();
        buttons.removeIf([w](QPushButton *b) { return !b->isVisibleTo(w); });
        auto *button = buttons.isEmpty() ? new QPushButton(QStringLiteral("Проба"), w) : buttons[0];
        button->show();
        disconnect(button, &QAbstractButton::clicked, nullptr, nullptr);
        QSignalSpy pressed(button, &QAbstractButton::clicked);
        (inField ? static_cast<QWidget *>(w->findChild<QLineEdit *>()) : button)->setFocus();
        QWidget *focus = QApplication::focusWidget(); // a field's box may take the focus for it
        QVERIFY(focus && focus->window() == w);

        QTest::keyClick(focus, Qt::Key(key),
                        key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(w->isVisible(), effect != Closes);
        QCOMPARE(pressed.count(), effect == Presses ? 1 : 0);
        if (effect == MovesFocus)
            QVERIFY(QApplication::focusWidget() != focus &&
                    QApplication::focusWidget()->window() == w);
    }

    // Told apart from a bare panel, as the main window is.
    void assistiveToolsSeeWindows_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("role");
        Configurator conf(systemClock());
        QTest::newRow("frmMain") << "" << int(QAccessible::Window);
        for (QWidget *w : windowsOf(*conf.main)) {
            const bool dialog = w->inherits("QDialog");
            QTest::newRow(qPrintable(w->objectName()))
                << w->objectName() << int(dialog ? QAccessible::Dialog : QAccessible::Window);
        }
    }
    void assistiveToolsSeeWindows()
    {
        QFETCH(QString, name);
        QFETCH(int, role);
        QCOMPARE(int(QAccessible::queryAccessibleInterface(window(name))->role()), role);
    }

    void menuKeys_data()
    {
        QTest::addColumn<QString>("inWindow"); // empty: the main window
        QTest::addColumn<bool>("altAround");
        QTest::addColumn<int>("key"); // clicked, inside Alt's press and release if altAround
        QTest::addColumn<bool>("opens");
        QTest::newRow("F10") << "" << false << int(Qt::Key_F10) << true;
        QTest::newRow("Alt alone") << "" << true << 0 << true;
        QTest::newRow("Alt with a key") << "" << true << int(Qt::Key_X) << false;
        QTest::newRow("F10 elsewhere") << "frmConfig" << false << int(Qt::Key_F10) << false;
        QTest::newRow("Alt elsewhere") << "frmConfig" << true << 0 << false;
    }
    void menuKeys()
    {
        QFETCH(QString, inWindow);
        QFETCH(bool, altAround);
        QFETCH(int, key);
        QFETCH(bool, opens);
        open(window(inWindow));
        QWidget *target =
            QApplication::focusWidget() ? QApplication::focusWidget() : window(inWindow);
        if (altAround)
            QTest::keyPress(target, Qt::Key_Alt);
        if (key)
            QTest::keyClick(target, Qt::Key(key), altAround ? Qt::AltModifier : Qt::NoModifier);
        if (altAround)
            QTest::keyRelease(target, Qt::Key_Alt);
        QWidget *popup = QApplication::activePopupWidget();
        QCOMPARE(popup ? popup->objectName() : QString(), opens ? "mnuFile" : "");
    }
};

QTEST_MAIN(TestSecondaryWindows)
#include "tst_secondarywindows.moc"
