#pragma once

#include "link/exchangestats.h"

#include <QWidget>

#include <vector>

class DeviceNetwork;
class QTableWidget;
class QTimer;

// The device of each tree entry of the network as the link names it: "COM<n>" and address.
std::vector<LineDevice> treeDevices(const DeviceNetwork &network);

// One line for a device's tool tip: requests, failures by kind, reply times.
QString statsSummary(const ExchangeCounts &counts);

// The statistics table as CSV: a header line, a comma between fields and full stops in numbers,
// UTF-8; names are the devices' tree texts (an empty name for a port's other addresses).
QByteArray statsCsv(const std::vector<StatsRow> &rows, const QStringList &names);

// "Статистика обмена": what every exchange since the start (or the last reset) came to, per device
// of the tree and per port for the addresses outside it. Redrawn while shown, when the counts
// moved. It reads the recorder and the tree; it never touches the link.
class LineStatsWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 500;

    LineStatsWindow(ExchangeStats &stats, const DeviceNetwork &network, QWidget *parent);

    QTableWidget *grid() const { return m_grid; }
    void refresh();
    void ButtonResetClick();
    void ButtonSaveClick();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    ExchangeStats &m_stats;
    const DeviceNetwork &m_network;
    QTableWidget *m_grid = nullptr;
    QTimer *m_timer = nullptr;
    std::uint64_t m_shownRevision = ~std::uint64_t(0);
    std::vector<StatsRow> m_rows;
    QStringList m_names;
};
