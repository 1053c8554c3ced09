#include "workstation/devicetree.h"

#include "workstation/images.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTreeWidgetItemIterator>

namespace {

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
            line->setMaxLength(DeviceTree::kMaxTextLength);
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

DeviceTreeItem *DeviceTree::addDevice(const QString &description, const DeviceNode &record)
{
    auto *item = new DeviceTreeItem;
    item->setText(0, description.left(kNameLength));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    item->device = record;
    addTopLevelItem(item);
    setNodeImage(item, images::kDeviceAnswers);
    return item;
}

void DeviceTree::addFeatures(DeviceTreeItem *device)
{
    const std::uint8_t variant = device->device ? device->device->variant() : 0;
    for (const FeatureEntry &e : featureEntries(variant)) {
        auto *item = new DeviceTreeItem;
        item->setText(0, e.text);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        item->feature = FeatureNode{std::uint8_t(e.code), 0};
        device->addChild(item);
        setNodeImage(item, e.image);
    }
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

DeviceTreeItem *DeviceTree::itemAtAbsoluteIndex(int index) const
{
    if (index < 0)
        return nullptr;
    for (QTreeWidgetItemIterator it(const_cast<DeviceTree *>(this)); *it; ++it, --index) {
        if (index == 0)
            return asNode(*it);
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

QList<DeviceTreeItem *> DeviceTree::deviceItems() const
{
    QList<DeviceTreeItem *> result;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (auto *item = asNode(topLevelItem(i)))
            result.append(item);
    }
    return result;
}

DeviceTreeItem *DeviceTree::asNode(QTreeWidgetItem *item)
{
    return item && item->type() == DeviceTreeItem::kType ? static_cast<DeviceTreeItem *>(item)
                                                         : nullptr;
}

bool DeviceTree::isDeviceNode(const QTreeWidgetItem *item)
{
    return item && !item->parent();
}

DeviceTreeItem *DeviceTree::deviceOf(QTreeWidgetItem *item)
{
    while (item && item->parent())
        item = item->parent();
    return asNode(item);
}

void DeviceTree::setNodeImage(QTreeWidgetItem *item, int image)
{
    if (auto *node = asNode(item))
        node->image = image;
    item->setIcon(0, images::icon(image));
}

int DeviceTree::nodeImage(const QTreeWidgetItem *item)
{
    return item && item->type() == DeviceTreeItem::kType
               ? static_cast<const DeviceTreeItem *>(item)->image
               : -1;
}

void DeviceTree::freeNodeRecords()
{
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        if (auto *node = asNode(*it)) {
            node->device.reset();
            node->feature.reset();
        }
    }
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
    if (QTreeWidgetItem *item = currentItem())
        emit nodeTextEdited(item);
}
