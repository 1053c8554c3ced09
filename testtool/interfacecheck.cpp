#include "testtool/interfacecheck.h"

#include "link/frame.h"
#include "platform/clock.h"
#include "testtool/mainwindow.h"
#include "testtool/popups.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <array>

namespace {

constexpr int kCheckResponseWait = 80;

} // namespace

InterfaceCheckWindow::InterfaceCheckWindow(LinkTestWindow &main, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_main(main)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Проверка интерфейса"));
    setFixedSize(289, 211);
    QFont face = font();
    face.setPixelSize(11);
    setFont(face);
    setAttribute(Qt::WA_QuitOnClose, false);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(6, 6, 277, 162);
    Button2 = new QPushButton(QStringLiteral("&Проверка"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(40, 176, 90, 26);
    Button1 = new QPushButton(QStringLiteral("&Очистить"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(160, 176, 90, 26);

    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button1, &QPushButton::clicked, this, &InterfaceCheckWindow::Button1Click);
}

void InterfaceCheckWindow::log(const QString &line)
{
    Memo1->appendPlainText(line);
}

bool InterfaceCheckWindow::Button2Click()
{
    if (m_running)
        return false;
    // Clicked while a search, an exchange or a clock setting of the main window waits: that wait
    // is below this call and cannot end before it, so run once it has unwound. Two sweeps at
    // once would fight over the line speed.
    Button2->setEnabled(false);
    if (m_main.deferWhileBusy([this] { Button2Click(); }))
        return false;
    m_running = true;
    const LinkTestWindow::CheckState kept = m_main.beginInterfaceCheck(kCheckResponseWait);
    log(m_main.searchOutcome());

    bool answered = false;
    // Every speed a device can run at, its figure right-aligned in six places.
    for (const LineSpeed &speed : kLineSpeeds) {
        if (speed.deviceCode < 0)
            continue;
        if (m_main.closing())
            break;
        m_main.port().setBaudrate(speed.rate);
        m_main.clock().delay(1000);
        const QString text = QStringLiteral("%1").arg(QLatin1String(speed.text), 6);
        if (m_main.readIdentity(0) == kReplyOk) {
            answered = true;
            log(QStringLiteral("Cкорость: ") + text + QStringLiteral(".......OK"));
            m_main.clock().delay(100);
        } else {
            m_main.clock().delay(2000);
            log(QStringLiteral("Cкорость: ") + text + QStringLiteral("...Ошибка"));
        }
    }
    log(answered ? QStringLiteral("Проверка завершена успешно")
                 : QStringLiteral("Проверка завершена с ошибками"));

    Button2->setEnabled(true);
    m_running = false;
    m_main.endInterfaceCheck(kept);
    return answered;
}

void InterfaceCheckWindow::Button1Click()
{
    Memo1->clear();
}
