#include "tests/support/workstationtestenv.h"

#include "platform/settings.h"
#include "windowkit/secondarywindow.h"
#include "windowkit/statefulwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// A settings window that gets its size from its layout as it is first shown, or later still,
// in its own show handling.
class LateSizedWindow : public StatefulWindow
{
public:
    LateSizedWindow(bool sizedWhenShown, QWidget *owner)
        : StatefulWindow(QStringLiteral("frmLate"), QStringLiteral("Test"), owner),
          m_sizedWhenShown(sizedWhenShown)
    {
        auto *content = new QWidget(this);
        content->setMinimumSize(sizedWhenShown ? QSize(10, 10) : QSize(711, 555));
        (new QVBoxLayout(this))->addWidget(content);
    }

protected:
    void showEvent(QShowEvent *event) override
    {
        StatefulWindow::showEvent(event);
        if (m_sizedWhenShown)
            resize(995, 455);
    }

private:
    bool m_sizedWhenShown;
};

} // namespace

// Every kind of stored control property reads back what was stored, per section.
class TestStatefulWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
    }

    void propertiesRoundTripPerSection()
    {
        StatefulWindow window(QStringLiteral("frmTest"), QStringLiteral("Test"));
        auto *panel = new QGroupBox(&window);
        auto *check = new QCheckBox(panel);
        check->setObjectName(QStringLiteral("CheckOn1"));
        auto *combo = new QComboBox(panel);
        combo->setObjectName(QStringLiteral("ComboHarakt1"));
        combo->addItems({QStringLiteral("a"), QStringLiteral("b")});
        auto *edit = new QLineEdit(panel);
        edit->setObjectName(QStringLiteral("EditName1"));
        auto *number = new QDoubleSpinBox(panel);
        number->setObjectName(QStringLiteral("EditDiapBg1"));
        number->setRange(-1000, 1000);
        number->setDecimals(3);
        auto *label = new QLabel(panel);
        label->setObjectName(QStringLiteral("StaticCompStat1"));
        window.setStoredProperties(
            {"CheckOn1.Checked", "CheckOn1.Caption", "CheckOn1.Visible", "ComboHarakt1.Items",
             "ComboHarakt1.ItemIndex", "EditName1.Text", "EditName1.Enabled", "EditDiapBg1.Value",
             "StaticCompStat1.Caption", "StaticCompStat1.Color", "Missing1.Text"});

        // Device A's state, stored while the panel around the controls is locked.
        window.setSection(StatefulWindow::deviceSection(0));
        check->setChecked(true);
        check->setText(QStringLiteral("Вкл."));
        check->setVisible(false);
        combo->clear();
        combo->addItems({QStringLiteral("ХСА"), QStringLiteral("ХК"), QStringLiteral("Pt100")});
        combo->setCurrentIndex(2);
        edit->setText(QStringLiteral("Печь, зона 1"));
        edit->setEnabled(true); // its own state, whatever the locked panel makes of it
        number->setValue(-12.345);
        label->setText(QStringLiteral("ВКЛ."));
        QPalette p = label->palette();
        p.setColor(label->backgroundRole(), QColor(255, 0, 0));
        label->setPalette(p);
        window.move(123, 45);
        panel->setEnabled(false);
        window.storeState();
        panel->setEnabled(true);

        // Device B has its own state.
        window.setSection(StatefulWindow::deviceSection(7));
        check->setChecked(false);
        check->setVisible(true);
        combo->setCurrentIndex(0);
        edit->setText(QString());
        edit->setEnabled(false);
        number->setValue(0.5);
        window.storeState();

        window.setSection(StatefulWindow::deviceSection(0));
        window.restoreState();
        QVERIFY(check->isChecked());
        QCOMPARE(check->text(), QStringLiteral("Вкл."));
        QVERIFY(check->isHidden());
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->currentText(), QStringLiteral("Pt100"));
        QCOMPARE(edit->text(), QStringLiteral("Печь, зона 1"));
        QVERIFY(edit->isEnabled());
        QCOMPARE(number->value(), -12.345);
        QCOMPARE(label->text(), QStringLiteral("ВКЛ."));
        QCOMPARE(label->palette().color(label->backgroundRole()), QColor(255, 0, 0));
        QCOMPARE(window.pos(), QPoint(123, 45));

        window.setSection(StatefulWindow::deviceSection(7));
        window.restoreState();
        QVERIFY(!check->isChecked());
        QVERIFY(!check->isHidden());
        QCOMPARE(edit->text(), QString());
        QVERIFY(!edit->isEnabled());
        QCOMPARE(number->value(), 0.5);
        QCOMPARE(label->text(), QStringLiteral("ВКЛ.")); // stored the same for B

        // A section without a stored state leaves the controls as they are.
        window.setSection(StatefulWindow::deviceSection(99));
        window.restoreState();
        QCOMPARE(number->value(), 0.5);
        QCOMPARE(
            openSettings()->value(QStringLiteral("Forms/Device-0/frmTest/FormVersion")).toInt(),
            StatefulWindow::kFormVersion);
    }

    void placement_data()
    {
        QTest::addColumn<bool>("shownBefore");
        QTest::addColumn<QPoint>("stored"); // stored before a device switch, if shown before
        QTest::addColumn<bool>("openAgain");
        QTest::addColumn<QPoint>("expected");
        // A window never shown stores no place: the 0,0 it has not been at does not come back.
        QTest::newRow("never shown") << false << QPoint(0, 0) << false << QPoint(250, 150);
        QTest::newRow("shown, switched while open")
            << true << QPoint(40, 30) << false << QPoint(40, 30);
        QTest::newRow("off every screen")
            << true << QPoint(-9000, -9000) << false << QPoint(250, 150);
        // Opening places the window over the main window, whatever place is stored.
        QTest::newRow("opened again") << true << QPoint(40, 30) << true << QPoint(250, 150);
    }

    void placement()
    {
        QFETCH(bool, shownBefore);
        QFETCH(QPoint, stored);
        QFETCH(bool, openAgain);
        QFETCH(QPoint, expected);
        openSettings()->remove(QStringLiteral("Forms"));
        StatefulWindow window(QStringLiteral("frmPlaced"), QStringLiteral("Test"));
        window.resize(200, 100);
        window.move(stored);
        if (shownBefore) {
            window.show();
            window.move(stored);
        }
        window.storeState();
        window.hide();
        window.move(250, 150); // where the next opening or the other device put it
        if (openAgain)
            window.show();
        else
            window.restoreState();
        QCOMPARE(window.pos(), expected);
    }

    // However late the window learns its size, it opens centred over its owner when opened as
    // the main window opens it, whatever place it had (the opener's early centring with the size
    // it had then, a device switch's stored place), or when shown with no place of its own yet.
    void opensCentredOverItsOwner_data()
    {
        QTest::addColumn<bool>("sizedWhenShown");
        QTest::addColumn<bool>("placedBefore");
        QTest::addColumn<bool>("opened"); // else only shown
        QTest::addColumn<bool>("centred");
        QTest::newRow("by its layout, opened") << false << false << true << true;
        QTest::newRow("by its layout, placed, opened") << false << true << true << true;
        QTest::newRow("by its layout, shown") << false << false << false << true;
        QTest::newRow("by its layout, placed, shown") << false << true << false << false;
        QTest::newRow("when shown, placed, opened") << true << true << true << true;
        QTest::newRow("when shown, shown") << true << false << false << true;
    }

    void opensCentredOverItsOwner()
    {
        QFETCH(bool, sizedWhenShown);
        QFETCH(bool, placedBefore);
        QFETCH(bool, opened);
        QFETCH(bool, centred);
        QWidget owner;
        owner.setGeometry(150, 120, 1100, 700);
        LateSizedWindow window(sizedWhenShown, &owner);
        const QSize early = window.size();
        if (placedBefore)
            window.move(150 + (1100 - early.width()) / 2, 120 + (700 - early.height()) / 2);
        const QPoint before = window.pos();
        if (opened)
            showCentred(&window);
        else
            window.show();
        // The place it asks for as it opens; a platform may add a frame later.
        QVERIFY(window.size() != early);
        QCOMPARE(window.pos(), centred ? QPoint(150 + (1100 - window.width()) / 2,
                                                120 + (700 - window.height()) / 2)
                                       : before);
    }

    void storingOffStoresNothingOnClose()
    {
        StatefulWindow window(QStringLiteral("frmClosed"), QStringLiteral("Test"));
        auto *edit = new QLineEdit(&window);
        edit->setObjectName(QStringLiteral("EditX"));
        window.setStoredProperties({"EditX.Text"});
        window.show();
        edit->setText(QStringLiteral("kept"));
        window.close();
        QCOMPARE(
            openSettings()->value(QStringLiteral("Forms/Device1/frmClosed/EditX.Text")).toString(),
            QStringLiteral("kept"));
        window.setStoringEnabled(false);
        window.show();
        edit->setText(QStringLiteral("dropped"));
        window.close();
        QCOMPARE(
            openSettings()->value(QStringLiteral("Forms/Device1/frmClosed/EditX.Text")).toString(),
            QStringLiteral("kept"));
        // Shown again: the stored state comes back.
        window.show();
        QCOMPARE(edit->text(), QStringLiteral("kept"));
    }
};

QTEST_MAIN(TestStatefulWindow)
#include "tst_statefulwindow.moc"
