// Times what a poll costs the measurement table as the table grows: appending one row, and the
// display's refresh after it (grid moved to the newest row and painted, chart redrawn and
// painted), at 100 000 rows against 1 000. Prints rows of the bench table (see bench/run.sh).
//
//   lorvan-tablebench [ROUNDS]

#include "bench/benchtable.h"
#include "platform/measurementmodel.h"
#include "platform/measurementtable.h"
#include "workstation/dataview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

const QDateTime kWhen(QDate(2026, 12, 9), QTime(12, 0));

// A table of rows rows: one row appended the ordinary way, then its record repeated. Only the
// count and the file's length matter to what is timed, not the rows' contents.
bool makeTable(const QString &path, int rows)
{
    QFile::remove(path);
    AppendMeasurementRow(path, kWhen, {1, 2, 3, 4});
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    const int headerLength = quint8(bytes[8]) | quint8(bytes[9]) << 8;
    const int recordLength = quint8(bytes[10]) | quint8(bytes[11]) << 8;
    if (bytes.size() < headerLength + recordLength)
        return false;
    const QByteArray record = bytes.mid(headerLength, recordLength);
    const QByteArray tail = bytes.mid(headerLength + recordLength);
    QByteArray all = bytes.left(headerLength);
    all.reserve(headerLength + qsizetype(rows) * recordLength + tail.size());
    for (int i = 0; i < rows; ++i)
        all += record;
    all += tail;
    for (int i = 0; i < 4; ++i)
        all[4 + i] = char((quint32(rows) >> (8 * i)) & 0xFF);
    file.seek(0);
    return file.write(all) == all.size();
}

struct Figures
{
    double appendMs = 0;
    double refreshMs = 0;
};

Figures measure(const QString &path, int rows, int rounds)
{
    Figures f;
    if (!makeTable(path, rows))
        return f;
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *grid = new QTableView(&window);
    auto *chart = new MeasurementChartView(&window);
    layout->addWidget(grid, 2);
    layout->addWidget(chart, 3);
    window.resize(800, 600);
    DataView view(grid, chart);
    view.open(path);
    view.refreshChart(false);
    window.show();
    QApplication::processEvents();

    std::vector<double> appends, refreshes;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        AppendMeasurementRow(path, kWhen, {double(i), 2, 3, 4});
        appends.push_back(clock.nsecsElapsed() / 1e6);
        clock.restart();
        view.follow(path);
        view.showNewestRow();
        view.refreshChart(false);
        grid->viewport()->repaint();
        chart->viewport()->repaint();
        QApplication::processEvents();
        refreshes.push_back(clock.nsecsElapsed() / 1e6);
    }
    f.appendMs = median(appends);
    f.refreshMs = median(refreshes);
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = std::max(3, argc > 1 ? QByteArray(argv[1]).toInt() : 30);
    QTemporaryDir dir;
    const Figures small = measure(dir.filePath("small.dbf"), 1000, rounds);
    const Figures large = measure(dir.filePath("large.dbf"), 100000, rounds);
    if (small.appendMs <= 0 || large.appendMs <= 0) {
        std::fprintf(stderr, "the tables could not be made\n");
        return 1;
    }
    bench::row(QStringLiteral("append a row, 100 000 rows vs 1 000"), bench::ms(large.appendMs),
               bench::ms(small.appendMs), large.appendMs / small.appendMs, 1.5);
    bench::row(QStringLiteral("refresh after a poll, 100 000 vs 1 000"), bench::ms(large.refreshMs),
               bench::ms(small.refreshMs), large.refreshMs / small.refreshMs, 2.0);
    return 0;
}
