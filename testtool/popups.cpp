#include "testtool/popups.h"

#include "platform/clock.h"

#include <QLabel>
#include <QPainter>

namespace {

constexpr int kShowPauseMs = 600;

// A line in the popups' large face that shrinks the face, never the text, where a substitute
// for Arial runs wider than the window.
class FitLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QFont f = font();
        const QRect area = contentsRect();
        while (f.pixelSize() > 8 && QFontMetrics(f).horizontalAdvance(text()) > area.width())
            f.setPixelSize(f.pixelSize() - 1);
        QPainter painter(this);
        painter.setFont(f);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, text());
    }
};

QFont popupFont(bool emphasised)
{
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPixelSize(20);
    font.setBold(emphasised);
    font.setItalic(emphasised);
    return font;
}

QLabel *popupLine(QWidget *parent, const char *name, const QString &text, int y, int width,
                  bool emphasised = false)
{
    auto *label = new FitLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setFont(popupFont(emphasised));
    label->setGeometry(8, y, width - 16, 24);
    return label;
}

void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

} // namespace

SearchPopup::SearchPopup(Clock &clock, QWidget *parent) : QWidget(parent, Qt::Tool), m_clock(clock)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Поиск устройства"));
    setFixedSize(276, 86);
    setAttribute(Qt::WA_QuitOnClose, false);
    StaticText1 = popupLine(this, "StaticText1", QStringLiteral("Скорость :  19200"), 4, 276, true);
    // The colour of an active caption's gradient.
    setTextColour(StaticText1, QColor(0x3A, 0x6E, 0xA5));
    StaticText2 = popupLine(this, "StaticText2", QStringLiteral("Устройство обнаружено"), 31, 276);
    StaticText3 = popupLine(this, "StaticText3", QStringLiteral("Идет инициализация"), 58, 276);
}

void SearchPopup::popup()
{
    if (isVisible()) {
        raise();
        return;
    }
    show();
    raise();
    m_clock.delay(kShowPauseMs);
}

ExchangeErrorPopup::ExchangeErrorPopup(QWidget *parent) : QWidget(parent, Qt::Tool)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Ошибка обмена"));
    setFixedSize(256, 64);
    setAttribute(Qt::WA_QuitOnClose, false);
    StaticText1 = popupLine(this, "StaticText1", QStringLiteral("Ошибка обмена"), 6, 256);
    StaticText2 = popupLine(this, "StaticText2", QStringLiteral("Проверьте подключение"), 34, 256);
    setTextColour(StaticText1, Qt::red);
    setTextColour(StaticText2, Qt::red);
}
