#pragma once

#include "device/devicenode.h"

#include <QTreeWidget>

#include <optional>

// One entry of the device tree: a device (first level) with its DeviceNode, or a settings entry
// (second level) with its FeatureNode. Records can be released while the entries stay.
class DeviceTreeItem : public QTreeWidgetItem
{
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;
    DeviceTreeItem() : QTreeWidgetItem(kType) {}

    std::optional<DeviceNode> device;
    std::optional<FeatureNode> feature;
    int image = 0;
};

// The tree of known devices: two levels, at most the scan's devices, each followed by the entries
// that open its settings windows.
class DeviceTree : public QTreeWidget
{
    Q_OBJECT
public:
    static constexpr int kNameLength = 32;
    // The network file keeps an entry's text behind one length byte.
    static constexpr int kMaxTextLength = 255;

    explicit DeviceTree(QWidget *parent = nullptr);

    // A new device entry at the end with its record; the text is cut to 32 characters.
    DeviceTreeItem *addDevice(const QString &description, const DeviceNode &record);
    // The settings entries that the device's variant byte calls for.
    void addFeatures(DeviceTreeItem *device);

    // Depth-first position among all entries of both levels; -1 for none.
    int absoluteIndex(const QTreeWidgetItem *item) const;
    // nullptr for an index outside the tree.
    DeviceTreeItem *itemAtAbsoluteIndex(int index) const;
    int nodeCount() const;
    QList<DeviceTreeItem *> deviceItems() const;

    static DeviceTreeItem *asNode(QTreeWidgetItem *item);
    static bool isDeviceNode(const QTreeWidgetItem *item);
    // The device entry itself, or the device a settings entry belongs to.
    static DeviceTreeItem *deviceOf(QTreeWidgetItem *item);

    void setNodeImage(QTreeWidgetItem *item, int image);
    static int nodeImage(const QTreeWidgetItem *item);

    // Releases every record; the entries stay.
    void freeNodeRecords();

    // The entry whose text or picture lies under a viewport point; nullptr elsewhere (the indent,
    // the expand button, the empty space right of the text).
    QTreeWidgetItem *labelAt(const QPoint &viewportPos) const;

signals:
    // Left button released; item is nullptr when not released on an entry's text or picture.
    void leftButtonReleased(QTreeWidgetItem *item);
    // The user finished editing an entry's text in place.
    void nodeTextEdited(QTreeWidgetItem *item);

protected:
    // Dotted lines join each entry to its parent and its siblings; the style draws no lines.
    void drawBranches(QPainter *painter, const QRect &rect,
                      const QModelIndex &index) const override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void commitData(QWidget *editor) override;
};
