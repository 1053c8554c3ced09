#include "workstation/secondarywindows.h"

#include "platform/datafolder.h"
#include "windowkit/secondarywindow.h"
#include "windowkit/images.h"

#include <QDir>
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
    setFixedSize(330, 300);

    auto *layout = new QVBoxLayout(this);
    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(aboutPicture(QSize(306, 110)));
    layout->addWidget(picture);

    auto *info = new QGroupBox(QStringLiteral("Информация о программе"), this);
    info->setObjectName(QStringLiteral("GroupBox1"));
    auto *infoLayout = new QVBoxLayout(info);
    auto *version = new QLabel(
        QStringLiteral("Конфигуратор Лорван, версия ") + QStringLiteral(LORVAN_VERSION), info);
    version->setObjectName(QStringLiteral("StaticVersion"));
    infoLayout->addWidget(version);
    // Where the tables and logs are, for a user who looks for them or sends them on.
    auto *folderCaption = new QLabel(QStringLiteral("Папка данных:"), info);
    infoLayout->addWidget(folderCaption);
    m_folder = new QLabel(info);
    m_folder->setObjectName(QStringLiteral("StaticDataFolder"));
    m_folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_folder->setAccessibleName(QStringLiteral("Папка данных"));
    infoLayout->addWidget(m_folder);
    layout->addWidget(info);

    // Default and cancel button at once: Enter and Escape both close.
    auto *close = new QPushButton(QStringLiteral("Закрыть"), this);
    close->setObjectName(QStringLiteral("butClose"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
}

void AboutWindow::showEvent(QShowEvent *event)
{
    // The folder may be named anew between openings ($LORVAN_HOME); a long path loses its
    // middle, and the tool tip gives it whole.
    const QString folder = QDir::toNativeSeparators(dataFolder());
    m_folder->setToolTip(folder);
    m_folder->setAccessibleDescription(folder);
    m_folder->setText(m_folder->fontMetrics().elidedText(folder, Qt::ElideMiddle,
                                                         m_folder->contentsRect().width()));
    QDialog::showEvent(event);
}
