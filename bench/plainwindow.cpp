// The start-up floor with the same widgets: what LorvanConf's main window shows when it first
// appears (menus, a toolbar with theme icons, the device tree, the grid, a chart with four empty
// series, the message line, the status bar), written with Qt alone. Only the measuring point
// (platform/startupmark.cpp) is shared with the programs, so that both are timed the same way.

#include "platform/startupmark.h"

#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>

namespace {

// The theme LorvanConf picks when the platform names none, from the same folders.
void pickTheme()
{
    QStringList roots = QIcon::themeSearchPaths();
    for (const QString &dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        roots.append(dir + QStringLiteral("/icons"));
    QIcon::setThemeSearchPaths(roots);
    if (!QIcon::themeName().isEmpty() && QIcon::themeName() != QLatin1String("hicolor"))
        return;
    for (const QString &root : roots) {
        if (QFileInfo::exists(root + QStringLiteral("/Adwaita/index.theme"))) {
            QIcon::setThemeName(QStringLiteral("Adwaita"));
            return;
        }
    }
}

// A theme picture, or a painted square at the sizes the toolbar asks for when the theme has none.
QIcon themeIcon(const char *name)
{
    QIcon icon = QIcon::fromTheme(QLatin1String(name));
    if (!icon.isNull())
        return icon;
    for (int size : {16, 24, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::darkCyan);
        painter.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 5.0, size / 5.0);
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("?"));
        icon.addPixmap(pixmap);
    }
    return icon;
}

void addMenus(QMainWindow &window)
{
    const struct
    {
        const char *title;
        int items;
    } menus[] = {{"Файл", 2}, {"Сеть", 4}, {"Настройка", 6}, {"Помощь", 2}};
    for (const auto &m : menus) {
        QMenu *menu = window.menuBar()->addMenu(QString::fromUtf8(m.title));
        for (int i = 0; i < m.items; ++i)
            menu->addAction(QStringLiteral("Команда %1").arg(i + 1));
    }
}

void addToolBar(QMainWindow &window)
{
    QToolBar *bar = window.addToolBar(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setIconSize(QSize(24, 24));
    for (const char *name :
         {"document-open", "edit-find", "preferences-system-network", "media-playback-start", "|",
          "preferences-system", "multimedia-volume-control", "view-refresh", "dialog-warning",
          "appointment-new", "emblem-documents", "|", "help-browser"}) {
        if (name[0] == '|')
            bar->addSeparator();
        else
            bar->addAction(themeIcon(name), QLatin1String(name));
    }
}

QChartView *chartWithFourSeries(QWidget *parent)
{
    auto *view = new QChartView(parent);
    QChart *chart = view->chart();
    chart->setTitle(QStringLiteral("Устройство не выбрано"));
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto *dates = new QCategoryAxis;
    dates->setTitleText(QStringLiteral("Дата"));
    auto *values = new QValueAxis;
    values->setTitleText(QStringLiteral("Значения"));
    chart->addAxis(dates, Qt::AlignTop);
    chart->addAxis(values, Qt::AlignLeft);
    const QColor colours[] = {Qt::red, Qt::cyan, Qt::green, Qt::yellow};
    for (int i = 0; i < 4; ++i) {
        auto *series = new QLineSeries;
        series->setName(QStringLiteral("Канал-%1").arg(i + 1));
        series->setColor(colours[i]);
        chart->addSeries(series);
        series->attachAxis(dates);
        series->attachAxis(values);
    }
    return view;
}

QWidget *clientArea(QWidget *parent)
{
    auto *central = new QWidget(parent);
    auto *column = new QVBoxLayout(central);
    auto *row = new QHBoxLayout;
    column->addLayout(row, 1);

    auto *left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("  Устройства"), central));
    auto *tree = new QTreeWidget(central);
    tree->header()->hide();
    left->addWidget(tree, 1);
    auto *leftBox = new QWidget(central);
    leftBox->setLayout(left);
    leftBox->setFixedWidth(200);
    row->addWidget(leftBox);

    auto *right = new QVBoxLayout;
    auto *identity = new QGroupBox(central);
    (new QHBoxLayout(identity))->addWidget(new QLineEdit(identity));
    right->addWidget(identity);
    auto *grid = new QTableView(central);
    auto *model = new QStandardItemModel(0, 6, grid);
    model->setHorizontalHeaderLabels({QStringLiteral("Номер"), QStringLiteral("Время"),
                                      QStringLiteral("Канал-1"), QStringLiteral("Канал-2"),
                                      QStringLiteral("Канал-3"), QStringLiteral("Канал-4")});
    grid->setModel(model);
    grid->verticalHeader()->hide();
    right->addWidget(grid, 2);
    right->addWidget(chartWithFourSeries(central), 3);
    row->addLayout(right, 1);

    column->addWidget(new QComboBox(central));
    return central;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    pickTheme();
    QMainWindow window;
    addMenus(window);
    addToolBar(window);
    window.setCentralWidget(clientArea(&window));
    for (const char *text : {"Тип: ", "Адрес: ", "Скорость: ", "Дата выпуска: ", "Серийный: ",
                             "Версия ПО: ", "Исполнение: "})
        window.statusBar()->addWidget(new QLabel(QString::fromUtf8(text)));
    window.setFixedSize(721, 493 + window.menuBar()->sizeHint().height());
    window.show();
    markFirstExposure(&window);
    return QApplication::exec();
}
