#include "windowcheck/windowcheck.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

// The layout check finds each kind of fault on a window made to have it, and nothing on one
// without.
class TestWindowCheck : public QObject
{
    Q_OBJECT

private slots:
    void findsFaults_data()
    {
        QTest::addColumn<QRect>("label");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QRect>("button");
        QTest::addColumn<QString>("fault");
        const QRect button(10, 60, 120, 30);
        QTest::newRow("all in place") << QRect(10, 10, 280, 20) << "" << button << "";
        QTest::newRow("label cut") << QRect(10, 10, 40, 20) << "" << button << "text";
        QTest::newRow("cut, tip whole")
            << QRect(10, 10, 40, 20) << "Описание устройства Лорван" << button << "";
        QTest::newRow("label out") << QRect(250, 10, 280, 20) << "" << button << "outside";
        QTest::newRow("on each other") << QRect(10, 55, 280, 20) << "" << button << "overlap";
        QTest::newRow("button cut")
            << QRect(10, 10, 280, 20) << "" << QRect(10, 60, 30, 30) << "Сканировать";
    }
    void findsFaults()
    {
        QFETCH(QRect, label);
        QFETCH(QString, tip);
        QFETCH(QRect, button);
        QFETCH(QString, fault);
        QWidget window;
        window.setObjectName(QStringLiteral("frmTest"));
        window.setFixedSize(300, 100);
        auto *text = new QLabel(QStringLiteral("Описание устройства Лорван"), &window);
        text->setGeometry(label);
        text->setToolTip(tip);
        auto *press = new QPushButton(QStringLiteral("Сканировать"), &window);
        press->setGeometry(button);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QStringList faults = checkWindowLayout(&window);
        if (fault.isEmpty()) {
            QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
        } else {
            QCOMPARE(faults.size(), 1);
            QVERIFY2(faults[0].contains(fault), qPrintable(faults[0]));
        }
    }
};

QTEST_MAIN(TestWindowCheck)
#include "tst_windowcheck.moc"
