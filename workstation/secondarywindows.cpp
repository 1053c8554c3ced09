#include "workstation/secondarywindows.h"

#include "windowkit/secondarywindow.h"
#include "workstation/images.h"

#include <QGroupBox>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The picture across the window's upper part: the program's mark on a gradient.
QPixmap aboutPicture(QSize size)
{
    QPixmap picture(size);
    QPainter p(&picture);
    QLinearGradient fill(0, 0, size.width(), size.height());
    fill.setColorAt(0, QColor(0x1F, 0x3A, 0x68));
    fill.setColorAt(1, QColor(0x5B, 0x8F, 0xC9));
    p.fillRect(picture.rect(), fill);
    p.drawPixmap(16, (size.height() - 48) / 2, images::icon(images::kNetworkParams).pixmap(48, 48));
    QFont font = p.font();
    font.setPointSizeF(font.pointSizeF() * 1.8);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(picture.rect().adjusted(80, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Лорван"));
    return picture;
}

} // namespace

AboutWindow::AboutWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    makeSecondaryWindow(this, QStringLiteral("frmAbout"), QStringLiteral("О программе"));
    setFixedSize(330, 260);

    auto *layout = new QVBoxLayout(this);
    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(aboutPicture(QSize(306, 110)));
    layout->addWidget(picture);

    auto *info = new QGroupBox(QStringLiteral("Информация о программе"), this);
    info->setObjectName(QStringLiteral("GroupBox1"));
    auto *infoLayout = new QVBoxLayout(info);
    auto *version = new QLabel(QStringLiteral("Конфигуратор Лорван, версия 1.2"), info);
    version->setObjectName(QStringLiteral("StaticVersion"));
    infoLayout->addWidget(version);
    layout->addWidget(info);

    // Default and cancel button at once: Enter and Escape both close.
    auto *close = new QPushButton(QStringLiteral("Закрыть"), this);
    close->setObjectName(QStringLiteral("butClose"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
}
