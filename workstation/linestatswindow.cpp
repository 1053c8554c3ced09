#include "workstation/linestatswindow.h"

#include "platform/atomicfile.h"
#include "platform/messageservice.h"
#include "session/devicenetwork.h"
#include "windowkit/secondarywindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char *const kColumns[] = {"Устройство",    "Порт",          "Адрес",       "Запросов",
                                "Ответов",       "Без ответа",    "Ошибка LRC",  "Искажённый кадр",
                                "Чужой кадр",    "Сбой порта",    "Исключений",  "Коды исключений",
                                "Доля сбоев, %", "Последний, мс", "Медиана, мс", "95%, мс",
                                "Наибольший, мс"};

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QStringList rowTexts(const StatsRow &row, const QString &name)
{
    return QStringList{name, row.port,
                       row.address < 0 ? QStringLiteral("вне дерева")
                                       : QString::number(row.address)} +
           statsFields(row.counts);
}

} // namespace

std::vector<LineDevice> treeDevices(const DeviceNetwork &network)
{
    std::vector<LineDevice> devices;
    for (int index : network.deviceIndices()) {
        const DeviceNode *node = network.device(index);
        devices.push_back({QStringLiteral("COM%1").arg(node->portNumber()), node->address()});
    }
    return devices;
}

QString statsSummary(const ExchangeCounts &c)
{
    QString text =
        QStringLiteral("Запросов %1, ответов %2").arg(c.requests).arg(c.of(ExchangeKind::Good));
    const std::pair<ExchangeKind, const char *> kinds[] = {
        {ExchangeKind::NoReply, "без ответа"},      {ExchangeKind::LrcError, "ошибок LRC"},
        {ExchangeKind::Malformed, "искажённых"},    {ExchangeKind::Foreign, "чужих кадров"},
        {ExchangeKind::PortFailure, "сбоев порта"}, {ExchangeKind::Exception, "исключений"}};
    for (const auto &[kind, name] : kinds) {
        if (c.of(kind) > 0)
            text += QStringLiteral(", %1 %2").arg(QString::fromUtf8(name)).arg(c.of(kind));
    }
    if (c.replyTimes.count() > 0)
        text += QStringLiteral("; ответ: медиана %1 мс, наибольший %2 мс")
                    .arg(QString::number(c.replyTimes.percentile(50), 'f', 1),
                         QString::number(c.replyTimes.max(), 'f', 1));
    return text;
}

QByteArray statsCsv(const std::vector<StatsRow> &rows, const QStringList &names)
{
    QStringList header;
    for (const char *c : kColumns)
        header << csvField(QString::fromUtf8(c));
    QString text = header.join(QLatin1Char(',')) + QLatin1Char('\n');
    for (std::size_t i = 0; i < rows.size(); ++i) {
        QStringList fields;
        for (const QString &f : rowTexts(rows[i], names.value(qsizetype(i))))
            fields << csvField(f);
        text += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

LineStatsWindow::LineStatsWindow(ExchangeStats &stats, const DeviceNetwork &network,
                                 QWidget *parent)
    : QWidget(parent, Qt::Window), m_stats(stats), m_network(network)
{
    makeSecondaryWindow(this, QStringLiteral("frmLineStats"), QStringLiteral("Статистика обмена"));
    auto *column = new QVBoxLayout(this);
    m_grid = new QTableWidget(0, int(std::size(kColumns)), this);
    m_grid->setObjectName(QStringLiteral("GridLineStats"));
    m_grid->setAccessibleName(QStringLiteral("Статистика обмена по устройствам"));
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->verticalHeader()->hide();
    QStringList header;
    for (const char *c : kColumns)
        header << QString::fromUtf8(c);
    m_grid->setHorizontalHeaderLabels(header);
    for (int c = 0; c < m_grid->columnCount(); ++c)
        m_grid->horizontalHeaderItem(c)->setToolTip(header[c]);
    m_grid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    column->addWidget(m_grid, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *reset = new QPushButton(QStringLiteral("Сбросить"), this);
    reset->setObjectName(QStringLiteral("ButtonResetStats"));
    reset->setToolTip(QStringLiteral("Начать счёт обменов заново"));
    auto *save = new QPushButton(QStringLiteral("Сохранить…"), this);
    save->setObjectName(QStringLiteral("ButtonSaveStats"));
    save->setToolTip(QStringLiteral("Записать таблицу в файл CSV"));
    for (QPushButton *b : {reset, save}) {
        b->setMinimumWidth(b->sizeHint().width() + 16);
        buttons->addWidget(b);
    }
    column->addLayout(buttons);
    connect(reset, &QPushButton::clicked, this, &LineStatsWindow::ButtonResetClick);
    connect(save, &QPushButton::clicked, this, &LineStatsWindow::ButtonSaveClick);
    setTabOrder(m_grid, reset);
    setTabOrder(reset, save);

    m_timer = new QTimer(this);
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &LineStatsWindow::refresh);
    connect(&m_network, &DeviceNetwork::replaced, this, [this] { m_shownRevision = ~0ull; });
    connect(&m_network, &DeviceNetwork::entryChanged, this, [this] { m_shownRevision = ~0ull; });
    connect(&m_network, &DeviceNetwork::entryInserted, this, [this] { m_shownRevision = ~0ull; });
    resize(760, 300);
    refresh();
}

void LineStatsWindow::refresh()
{
    if (m_shownRevision == m_stats.revision())
        return;
    m_shownRevision = m_stats.revision();
    m_rows = statsRows(m_stats, treeDevices(m_network));
    m_names.clear();
    for (int index : m_network.deviceIndices())
        m_names << m_network.entry(index).text;
    m_grid->setRowCount(int(m_rows.size()));
    for (int r = 0; r < int(m_rows.size()); ++r) {
        const QStringList texts = rowTexts(m_rows[std::size_t(r)], m_names.value(r));
        for (int c = 0; c < texts.size(); ++c) {
            QTableWidgetItem *item = m_grid->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                m_grid->setItem(r, c, item);
            }
            item->setText(texts[c]);
            item->setToolTip(texts[c]);
            if (c >= 2)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
    }
}

void LineStatsWindow::ButtonResetClick()
{
    m_stats.reset();
    refresh();
}

void LineStatsWindow::ButtonSaveClick()
{
    FileDialogRequest ask;
    ask.kind = FileDialogRequest::Save;
    ask.caption = QStringLiteral("Сохранить статистику обмена");
    ask.filter = QStringLiteral("Файлы CSV (*.csv)");
    ask.defaultSuffix = QStringLiteral("csv");
    ask.fileName = QStringLiteral("статистика.csv");
    const QString path = messages().askFileName(ask);
    if (path.isEmpty())
        return;
    m_shownRevision = ~0ull;
    refresh();
    if (const auto failed = writeFileAtomically(path, statsCsv(m_rows, m_names))) {
        MessageRequest m;
        m.text = failed->message();
        m.caption = QStringLiteral("Ошибка");
        m.icon = MessageIcon::Error;
        messages().showMessage(m);
    }
}

void LineStatsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
    m_timer->start();
}

void LineStatsWindow::hideEvent(QHideEvent *event)
{
    m_timer->stop();
    QWidget::hideEvent(event);
}
