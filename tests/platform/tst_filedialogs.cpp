#include "platform/widgetmessageservice.h"

#include "platform/busycursor.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

// The real file dialogs, answered as a user would: a chosen name comes back without a question
// of the dialog's own; a caller that replaces a file asks about it itself.
class TestFileDialogs : public QObject
{
    Q_OBJECT
private slots:
    void chosenNameComesBackUnasked_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("save over a file") << true << "";
        QTest::newRow("save over a file, default ending") << true << "dbf";
        QTest::newRow("save a new file") << false << "";
    }
    void chosenNameComesBackUnasked()
    {
        QFETCH(bool, exists);
        QFETCH(QString, suffix);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("plant.dbf"));
        if (exists) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QStringList questions;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                questions.append(box->text());
                box->button(QMessageBox::Yes)->click();
            } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
                // Typed into the name field, as a user does.
                dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                    ->setText(suffix.isEmpty() ? path : dir.filePath("plant"));
                // Queued, so that a question the accept asks meets this timer again.
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            }
        });
        user.start(10);
        FileDialogRequest request;
        request.kind = FileDialogRequest::Save;
        request.defaultSuffix = suffix;
        request.fileName = dir.path();
        WidgetMessageService service;
        QCOMPARE(service.askFileName(request), path);
        QCOMPARE(questions, QStringList());
    }

    // The busy cursor comes after a moment and goes with the wait; a box inside the wait shows
    // the arrow.
    void busyCursorAroundABox()
    {
        WidgetMessageService service;
        const BusyCursor busy;
        QTest::qWait(BusyCursor::kDelayMs / 2);
        QVERIFY(!QGuiApplication::overrideCursor());
        QTRY_VERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
        Qt::CursorShape duringBox = Qt::BusyCursor;
        QTimer::singleShot(10, this, [&] {
            duringBox = QGuiApplication::overrideCursor()->shape();
            QApplication::activeModalWidget()->close();
        });
        service.showMessage({QStringLiteral("Ошибка обмена")});
        QCOMPARE(duringBox, Qt::ArrowCursor);
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
    }
    void busyCursorGoesWithTheWait()
    {
        {
            const BusyCursor busy;
            QTRY_VERIFY(busy.isShown());
        }
        QVERIFY(!QGuiApplication::overrideCursor());
    }
};

QTEST_MAIN(TestFileDialogs)
#include "tst_filedialogs.moc"
