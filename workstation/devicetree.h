#pragma once

#include "link/exchangestats.h"

#include <QTreeWidget>

class DeviceNetwork;

// The tree of known devices: a view of the device network. Its entries, texts, pictures and
// order are the network's; two levels, each device followed by the entries that open its
// settings windows. A text edited in place goes back to the network.
class DeviceTree : public QTreeWidget
{
    Q_OBJECT
public:
    explicit DeviceTree(QWidget *parent = nullptr);

    // Shows network and follows its changes from then on.
    void setNetwork(DeviceNetwork *network);
    DeviceNetwork *network() const { return m_network; }
    // A device entry's tool tip then carries a line of its exchange statistics, kept up to date
    // while the counts move.
    void setStats(const ExchangeStats *stats);

    // Depth-first position among all entries of both levels: the network's index; -1 for none.
    int absoluteIndex(const QTreeWidgetItem *item) const;
    // nullptr for an index outside the tree.
    QTreeWidgetItem *itemAtAbsoluteIndex(int index) const;
    int nodeCount() const;

    static bool isDeviceNode(const QTreeWidgetItem *item);
    // The device entry itself, or the device a settings entry belongs to.
    static QTreeWidgetItem *deviceOf(QTreeWidgetItem *item);
    // The picture number an entry shows; -1 for none.
    static int nodeImage(const QTreeWidgetItem *item);

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

private:
    void rebuild();
    void insertEntry(int index);
    void showEntry(QTreeWidgetItem *item, int index);

    DeviceNetwork *m_network = nullptr;
    const ExchangeStats *m_stats = nullptr;
    std::uint64_t m_statsRevision = 0;
};
