#include "workstation/devicetree.h"

#include "workstation/linestatswindow.h"

#include <QTimer>

#include "session/devicenetwork.h"
#include "windowkit/images.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTreeWidgetItemIterator>

static_assert(DeviceNetwork::kImageAnswers == images::kDeviceAnswers);
static_assert(DeviceNetwork::kImageFailed == images::kDeviceFailed);

namespace {

constexpr int kImageRole = Qt::UserRole + 1;

// Entry texts typed by the user may be longer than a new entry's, but no longer than the network
// file can keep.
class NodeTextDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override
    {
        QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto *line = qobject_cast<QLineEdit *>(editor))
            line->setMaxLength(DeviceNetwork::kMaxTextLength);
        return editor;
    }
};

} // namespace

DeviceTree::DeviceTree(QWidget *parent) : QTreeWidget(parent)
{
    setItemDelegate(new NodeTextDelegate(this));
    setObjectName(QStringLiteral("TreeView1"));
    setToolTip(QStringLiteral("Найденные в сети устройства"));
    setColumnCount(1);
    header()->hide();
    setRootIsDecorated(true);
    setMouseTracking(true); // hot tracking
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(16, 16));
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    // The selection stays visible while another control has the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
}

void DeviceTree::drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const
{
    const auto hasNextSibling = [](const QModelIndex &i) {
        return i.sibling(i.row() + 1, 0).isValid();
    };
    int depth = 0;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        ++depth;
    const int step = indentation();
    const int middle = rect.center().y();
    painter->save();
    QPen pen(palette().color(QPalette::Dark));
    pen.setStyle(Qt::DotLine);
    painter->setPen(pen);
    // The entry's own column: down from the entry above, across to the entry.
    const int own = rect.left() + depth * step + step / 2;
    const bool first = index.row() == 0 && depth == 0;
    painter->drawLine(own, first ? middle : rect.top(), own,
                      hasNextSibling(index) ? rect.bottom() : middle);
    painter->drawLine(own, middle, rect.left() + (depth + 1) * step - 2, middle);
    // The columns of the ancestors that have entries below this one.
    QModelIndex ancestor = index.parent();
    for (int level = depth - 1; level >= 0; --level, ancestor = ancestor.parent()) {
        if (hasNextSibling(ancestor)) {
            const int x = rect.left() + level * step + step / 2;
            painter->drawLine(x, rect.top(), x, rect.bottom());
        }
    }
    painter->restore();
    QTreeWidget::drawBranches(painter, rect, index);
}

void DeviceTree::setNetwork(DeviceNetwork *network)
{
    if (m_network)
        disconnect(m_network, nullptr, this, nullptr);
    m_network = network;
    if (m_network) {
        connect(m_network, &DeviceNetwork::replaced, this, &DeviceTree::rebuild);
        connect(m_network, &DeviceNetwork::entryInserted, this, &DeviceTree::insertEntry);
        connect(m_network, &DeviceNetwork::entryChanged, this, [this](int index) {
            if (QTreeWidgetItem *item = itemAtAbsoluteIndex(index))
                showEntry(item, index);
        });
    }
    rebuild();
}

void DeviceTree::setStats(const ExchangeStats *stats)
{
    m_stats = stats;
    // Cheap enough to look at twice a second; nothing is redone while the counts stand still.
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] {
        if (!m_stats || !m_network || m_stats->revision() == m_statsRevision)
            return;
        m_statsRevision = m_stats->revision();
        for (int index : m_network->deviceIndices()) {
            if (QTreeWidgetItem *item = itemAtAbsoluteIndex(index))
                showEntry(item, index);
        }
    });
    timer->start(LineStatsWindow::kRefreshMs);
}

void DeviceTree::showEntry(QTreeWidgetItem *item, int index)
{
    const NetworkEntry &e = m_network->entry(index);
    if (item->text(0) != e.text)
        item->setText(0, e.text);
    // The tree is narrower than many device descriptions: the tip gives the whole text.
    QString tip = e.text;
    if (m_stats && e.isDevice) {
        if (const DeviceNode *node = m_network->device(index))
            tip += QLatin1Char('\n') +
                   statsSummary(m_stats->counts(
                       {QStringLiteral("COM%1").arg(node->portNumber()), node->address()}));
    }
    if (item->toolTip(0) != tip)
        item->setToolTip(0, tip);
    if (item->data(0, kImageRole).toInt() != e.image || item->icon(0).isNull()) {
        item->setData(0, kImageRole, e.image);
        item->setIcon(0, images::icon(e.image));
    }
}

void DeviceTree::rebuild()
{
    clear();
    if (!m_network)
        return;
    QTreeWidgetItem *device = nullptr;
    for (int i = 0; i < m_network->entryCount(); ++i) {
        auto *item = new QTreeWidgetItem;
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        if (m_network->entry(i).isDevice || !device) {
            addTopLevelItem(item);
            device = item;
        } else {
            device->addChild(item);
        }
        showEntry(item, i);
    }
}

void DeviceTree::insertEntry(int index)
{
    auto *item = new QTreeWidgetItem;
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    const int device = m_network->deviceOf(index);
    if (m_network->entry(index).isDevice || device < 0) {
        int position = 0;
        for (int i = 0; i < index; ++i)
            position += m_network->entry(i).isDevice ? 1 : 0;
        insertTopLevelItem(position, item);
    } else {
        itemAtAbsoluteIndex(device)->insertChild(index - device - 1, item);
    }
    showEntry(item, index);
}

int DeviceTree::absoluteIndex(const QTreeWidgetItem *item) const
{
    if (!item)
        return -1;
    int index = 0;
    for (QTreeWidgetItemIterator it(const_cast<DeviceTree *>(this)); *it; ++it, ++index) {
        if (*it == item)
            return index;
    }
    return -1;
}

QTreeWidgetItem *DeviceTree::itemAtAbsoluteIndex(int index) const
{
    if (index < 0)
        return nullptr;
    for (QTreeWidgetItemIterator it(const_cast<DeviceTree *>(this)); *it; ++it, --index) {
        if (index == 0)
            return *it;
    }
    return nullptr;
}

int DeviceTree::nodeCount() const
{
    int n = 0;
    for (QTreeWidgetItemIterator it(const_cast<DeviceTree *>(this)); *it; ++it)
        ++n;
    return n;
}

bool DeviceTree::isDeviceNode(const QTreeWidgetItem *item)
{
    return item && !item->parent();
}

QTreeWidgetItem *DeviceTree::deviceOf(QTreeWidgetItem *item)
{
    while (item && item->parent())
        item = item->parent();
    return item;
}

int DeviceTree::nodeImage(const QTreeWidgetItem *item)
{
    const QVariant image = item ? item->data(0, kImageRole) : QVariant();
    return image.isValid() ? image.toInt() : -1;
}

QTreeWidgetItem *DeviceTree::labelAt(const QPoint &viewportPos) const
{
    QTreeWidgetItem *item = itemAt(viewportPos);
    if (!item)
        return nullptr;
    const QRect cell = visualItemRect(item);
    const int iconWidth = item->icon(0).isNull() ? 0 : iconSize().width() + 4;
    const int textWidth = fontMetrics().horizontalAdvance(item->text(0)) + 8;
    const int left = cell.left();
    const int right = left + iconWidth + textWidth;
    if (viewportPos.x() < left || viewportPos.x() > right)
        return nullptr;
    return item;
}

void DeviceTree::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit leftButtonReleased(labelAt(event->position().toPoint()));
}

void DeviceTree::commitData(QWidget *editor)
{
    QTreeWidget::commitData(editor);
    QTreeWidgetItem *item = currentItem();
    if (!item)
        return;
    if (m_network)
        m_network->setText(absoluteIndex(item), item->text(0));
    emit nodeTextEdited(item);
}
