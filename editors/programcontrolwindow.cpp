#include "editors/programcontrolwindow.h"

#include "device/clocktext.h"
#include "device/generalconfig.h"
#include "device/programblock.h"
#include "device/registermap.h"
#include "editors/numericfield.h"
#include "editors/settingswindows.h"
#include "platform/atomicfile.h"
#include "windowkit/windowhost.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cmath>

namespace {

constexpr int kPortWaitMs = 10000;
constexpr auto kFileFilter = "Файл программы (*.kpg);;All files (*.*)";
const QColor kInvalid(255, 0, 0);

// Rows of the table are segments; the columns start value, end value, duration.
enum Column { StartColumn = 0, EndColumn = 1, DurationColumn = 2 };

HoldingBlock allPrograms()
{
    return {regmap::program(1), std::uint16_t(programs::kAllBytes)};
}

QString general(double v)
{
    // The general format has no group separator: "1500", never "1 500".
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(v, 'g', 15);
}

} // namespace

ProgramControlWindow::ProgramControlWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, settingsWindowKind(FeatureCode::Programs),
                   Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint)
{
    buildControls();
    declareCommandPanels({m_panel});
    setFixedSize(760, 509);
    ComboNProgChange();
}

void ProgramControlWindow::buildControls()
{
    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    m_header = new QGroupBox(QStringLiteral("Параметры"), this);
    m_header->setObjectName(QStringLiteral("GroupParProg"));
    auto *form = new QFormLayout(m_header);

    m_program = new QComboBox(m_header);
    m_program->setObjectName(QStringLiteral("ComboNProg"));
    m_program->addItems({"P1", "P2", "P3", "P4"});
    m_program->setToolTip(QStringLiteral("Выбор программы для редактирования"));
    form->addRow(QStringLiteral("Программа:"), m_program);

    auto edit = [&](const char *name, const QString &mask, const QString &hint) {
        auto *e = new QLineEdit(m_header);
        e->setObjectName(QLatin1String(name));
        e->setInputMask(mask);
        e->setToolTip(hint);
        e->installEventFilter(this);
        return e;
    };
    m_date = edit("EditDateProg", QStringLiteral("00.00.00; "),
                  QStringLiteral("Дата запуска программы"));
    form->addRow(QStringLiteral("Дата запуска:"), m_date);
    m_time = edit("EditTimeProg", QStringLiteral("00:00:00; "),
                  QStringLiteral("Время запуска программы"));
    form->addRow(QStringLiteral("Время запуска:"), m_time);

    // Bounds wider than any five characters typed: the count's own rule, applied on Enter,
    // names the range.
    m_count = new NumericField(-99999, 99999, 1, 5, m_header);
    m_count->setDecimalsFollowValue(1);
    m_count->setFallback(0); // a text that is no number means no segments, not -9999
    m_count->setObjectName(QStringLiteral("EditCountSeg1"));
    m_count->setToolTip(QStringLiteral("Число сегментов в программе"));
    form->addRow(QStringLiteral("Сегментов:"), m_count);

    m_point = new QComboBox(m_header);
    m_point->setObjectName(QStringLiteral("ComboZptPos"));
    m_point->addItems({"0000.", "000.0", "00.00", "0.000"});
    form->addRow(QStringLiteral("Полож. точки: "), m_point);
    top->addWidget(m_header);

    auto *view = new QChartView(this);
    view->setObjectName(QStringLiteral("chartProg"));
    view->setAccessibleName(QStringLiteral("График программы"));
    view->viewport()->setAccessibleName(QStringLiteral("График программы"));
    m_chart = new QChart;
    m_chart->setTitle(QStringLiteral("График программы"));
    m_chart->legend()->hide();
    m_series = new QLineSeries(m_chart);
    m_series->setObjectName(QStringLiteral("Series1"));
    m_chart->addSeries(m_series);
    auto *x = new QValueAxis(m_chart);
    x->setTitleText(QStringLiteral("Время (сек.)"));
    auto *y = new QValueAxis(m_chart);
    y->setTitleText(QStringLiteral("Значение"));
    m_chart->addAxis(x, Qt::AlignBottom);
    m_chart->addAxis(y, Qt::AlignLeft);
    m_series->attachAxis(x);
    m_series->attachAxis(y);
    view->setChart(m_chart);
    top->addWidget(view, 1);
    layout->addLayout(top, 1);

    m_table = new QTableWidget(1, 3, this);
    m_table->setObjectName(QStringLiteral("sgProgramTable"));
    m_table->setToolTip(QStringLiteral("Программа"));
    m_table->setAccessibleName(QStringLiteral("Программа"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Значение в начале сегмента"),
                                        QStringLiteral("Значение в конце сегмента"),
                                        QStringLiteral("Длительность сегмента (сек.)")});
    // The row titles are as wide as the longest ("Сегмент 10"); the columns share the rest.
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->verticalHeader()->setFixedWidth(
        m_table->verticalHeader()->fontMetrics().horizontalAdvance(QStringLiteral("Сегмент 10")) +
        16);
    m_table->verticalHeader()->setDefaultSectionSize(18);
    layout->addWidget(m_table, 1);

    m_panel = new QWidget(this);
    m_panel->setObjectName(QStringLiteral("Panel1"));
    auto *buttons = new QHBoxLayout(m_panel);
    auto button = [&](const char *name, const QString &text, const QString &hint) {
        auto *b = new QPushButton(text, m_panel);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(hint);
        buttons->addWidget(b);
        return b;
    };
    m_read = button("ButtonProgRead", QStringLiteral("Считать программы"), {});
    m_write = button("ButtonSaveProg", QStringLiteral("Записать программы"), {});
    m_load = button("ProgReadFile", QStringLiteral("Загрузить из файла"),
                    QStringLiteral("Загрузить программы из файла"));
    m_save = button("ProgSaveFile", QStringLiteral("Сохранить в файл"),
                    QStringLiteral("Сохранить настройки программ в файл"));
    layout->addWidget(m_panel);

    connect(m_read, &QPushButton::clicked, this, &ProgramControlWindow::ButtonProgReadClick);
    connect(m_write, &QPushButton::clicked, this, &ProgramControlWindow::ButtonSaveProgClick);
    connect(m_load, &QPushButton::clicked, this, &ProgramControlWindow::ProgReadFileClick);
    connect(m_save, &QPushButton::clicked, this, &ProgramControlWindow::ProgSaveFileClick);
    connect(m_program, &QComboBox::activated, this, &ProgramControlWindow::ComboNProgChange);
    connect(m_point, &QComboBox::activated, this, &ProgramControlWindow::ComboZptPosCloseUp);
    connect(m_count, &QLineEdit::returnPressed, this, &ProgramControlWindow::EditCountSegEnter);
    connect(m_table, &QTableWidget::itemChanged, this,
            &ProgramControlWindow::sgProgramTableSetEditText);
}

// ---- The image

HoldingBlock ProgramControlWindow::block(int k) const
{
    return {regmap::program(k), regmap::kProgramBytes};
}

ProgramBlock ProgramControlWindow::program(int k) const
{
    return ProgramBlock::decode(imageBlock<ProgramBlock::kBytes>(block(k)));
}

void ProgramControlWindow::store(int k, const ProgramBlock &b)
{
    b.encode(imageBlock<ProgramBlock::kBytes>(block(k)));
}

int ProgramControlWindow::selectedProgram() const
{
    return std::max(0, m_program->currentIndex()) + 1;
}

// ---- Showing a program

void ProgramControlWindow::ComboNProgChange()
{
    const ProgramBlock b = program(selectedProgram());
    m_time->setText(clockTimeText(b.hours, b.minutes, 0));
    m_date->setText(clockDateText(b.day, b.month, b.year));
    markField(m_time, true);
    markField(m_date, true);
    m_count->setValue(b.count);
    FillProgramTable();
}

void ProgramControlWindow::FillProgramTable()
{
    const ProgramBlock b = program(selectedProgram());
    const int n = b.segments();
    m_filling = true;
    m_table->setRowCount(std::max(n, 1));
    QStringList rows;
    for (int r = 1; r <= m_table->rowCount(); ++r)
        rows.append(QStringLiteral("Сегмент %1").arg(r));
    m_table->setVerticalHeaderLabels(rows);
    for (int c = 0; c < 3; ++c)
        setCell(0, c, QString());
    for (int i = 0; i < n; ++i) {
        setCell(i, StartColumn, general(programs::shown(b.start[i], b.point)));
        setCell(i, EndColumn, general(programs::shown(b.end[i], b.point)));
        setCell(i, DurationColumn, QString::number(b.duration[i]));
    }
    m_filling = false;
    // Positions beyond the four codes count by their low bits, as the scaling does.
    m_point->setCurrentIndex(b.point & 3);
    DrawProgramChart();
}

void ProgramControlWindow::setCell(int row, int column, const QString &text)
{
    if (QTableWidgetItem *item = m_table->item(row, column))
        item->setText(text);
    else
        m_table->setItem(row, column, new QTableWidgetItem(text));
}

void ProgramControlWindow::DrawProgramChart()
{
    const ProgramBlock b = program(selectedProgram());
    const int n = b.segments();
    QList<QPointF> points{{0, programs::shown(b.start[0], b.point)}};
    double t = 0;
    for (int i = 0; i < n; ++i) {
        const QTableWidgetItem *item = m_table->item(i, DurationColumn);
        const QString text = item ? item->text().trimmed() : QString();
        if (!text.isEmpty()) {
            bool ok = false;
            const double seconds = QLocale().toDouble(text, &ok);
            if (!ok)
                return; // the chart keeps what it showed
            t += seconds;
        }
        points.append({t, programs::shown(b.end[i], b.point)});
    }
    m_series->replace(points);
    double lowY = points[0].y(), highY = lowY;
    for (const QPointF &p : points)
        lowY = std::min(lowY, p.y()), highY = std::max(highY, p.y());
    const double margin = highY > lowY ? (highY - lowY) / 20 : 1;
    m_chart->axes(Qt::Horizontal).value(0)->setRange(0, std::max(t, 1.0));
    m_chart->axes(Qt::Vertical).value(0)->setRange(lowY - margin, highY + margin);
}

void ProgramControlWindow::SelectProgram(int k)
{
    const ProgramBlock b = program(k);
    m_program->setCurrentIndex(k - 1);
    m_point->setCurrentIndex(b.point & 3);
    m_count->setValue(b.count);
}

// ---- Reading and writing

ExchangeOutcome ProgramControlWindow::ButtonProgReadClick()
{
    ExchangeOptions options;
    options.takePortMutex = true;
    options.mutexTimeoutMs = kPortWaitMs;
    options.failureText = QStringLiteral("Ошибка при чтении программ\r\nПроверьте подключение");
    options.failureCaption = QStringLiteral("Ошибка чтения");
    options.busy = {m_panel, m_read};
    options.readsControls = true;
    return runExchange(options, [this](ExchangeRun &run) {
        int first = 0;
        for (int k = 1; k <= programs::kPrograms; ++k) {
            // A failed program keeps its former bytes; the others are still read.
            if (readSettings(run, block(k)) == 0) {
                SelectProgram(k);
                CheckLoadedProgram(k);
                if (first == 0)
                    first = k;
            }
        }
        // The first program read is shown, so a read of an empty P4 does not look like none.
        if (first != 0)
            SelectProgram(first);
        ComboNProgChange();
    });
}

void ProgramControlWindow::CheckLoadedProgram(int k)
{
    ProgramBlock b = program(k);
    const bool repaired = programs::repair(b);
    store(k, b);
    if (repaired)
        showMessage(programs::repairText(k), programs::repairCaption(k), MessageIcon::Exclamation);
}

void ProgramControlWindow::CheckSegmentContinuity(int k)
{
    for (int i : programs::discontinuities(program(k)))
        showMessage(QStringLiteral("Ошибка в сегменте-%1").arg(i), QString(), MessageIcon::None);
}

ExchangeOutcome ProgramControlWindow::ButtonSaveProgClick()
{
    // The programs go out as the image holds them, whichever device they came from: copying
    // programs from one device to another is done this way.
    ExchangeOptions options;
    options.busy = {m_panel, m_write, m_header};
    return runExchange(options, [this](ExchangeRun &) {
        for (int k = 1; k <= programs::kPrograms; ++k)
            CheckSegmentContinuity(k);
        // Told with its own plain box rather than the sequence's error box; the image keeps
        // the window's programs, so the write can simply be repeated.
        ExchangeRun write;
        const ModbusLink::WriteTally before = writeTally();
        if (writeSettings(write, allPrograms()) != 0)
            showMessage(QStringLiteral("Ошибка обмена") +
                            partialWriteNote(before, QStringLiteral("Программы")),
                        QString(), MessageIcon::None);
    });
}

// ---- Files

void ProgramControlWindow::ProgSaveFileClick()
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Save;
    request.filter = QString::fromUtf8(kFileFilter);
    const QString name = messages().askFileName(request);
    if (name.isEmpty())
        return;
    const QByteArray bytes = programfile::compose(imageBlock<programs::kAllBytes>(allPrograms()));
    if (const auto failure = writeFileAtomically(name, bytes))
        showMessage(QStringLiteral("Ошибка записи файла ") + QDir::toNativeSeparators(name) +
                        QStringLiteral("\r\n") + failure->reason,
                    QStringLiteral("Сохранение программ"), MessageIcon::Error);
}

void ProgramControlWindow::ProgReadFileClick()
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Open;
    request.filter = QString::fromUtf8(kFileFilter);
    const QString name = messages().askFileName(request);
    if (name.isEmpty()) {
        FillProgramTable();
        return;
    }
    QFile file(name);
    // The whole file first: a short one must not leave a half-replaced program to be written.
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.read(programfile::kBytes);
    const bool readable = file.isOpen() && file.error() == QFileDevice::NoError;
    file.close();
    if (!readable || programfile::parse(bytes, imageBlock<programs::kAllBytes>(allPrograms())) !=
                         programfile::Outcome::Good) {
        showMessage(QStringLiteral("Ошибка чтения файла"), QStringLiteral("Чтение программ"),
                    MessageIcon::Error);
        return;
    }
    for (int k = 1; k <= programs::kPrograms; ++k) {
        SelectProgram(k);
        CheckLoadedProgram(k);
    }
    ComboNProgChange();
}

// ---- Edits

void ProgramControlWindow::sgProgramTableSetEditText(QTableWidgetItem *item)
{
    if (m_filling || !item)
        return;
    const int row = item->row() + 1; // the segment
    const int column = item->column();
    const QString text = item->text();
    // The neighbouring cell follows before anything is checked; only rows that exist.
    m_filling = true;
    if (column == EndColumn && row < m_table->rowCount())
        setCell(row, StartColumn, text);
    if (column == StartColumn && row > 1)
        setCell(row - 2, EndColumn, text);
    m_filling = false;

    const int k = selectedProgram();
    ProgramBlock b = program(k);
    switch (programs::editCell(b, column + 1, row, text, QLocale())) {
    case programs::CellEdit::Stored:
        store(k, b);
        break;
    case programs::CellEdit::Ignored:
        break;
    case programs::CellEdit::Refused:
        showMessage(QStringLiteral("Проверьте правильность ввода"), QString(),
                    MessageIcon::Information);
        FillProgramTable(); // the cells show what the program still holds
        return;
    case programs::CellEdit::NotWhole:
        showGlobalError(QStringLiteral("\"%1\" не является целым числом").arg(text.trimmed()));
        return;
    }
    DrawProgramChart();
}

void ProgramControlWindow::EditCountSegEnter()
{
    const int k = selectedProgram();
    ProgramBlock b = program(k);
    if (!programs::setCount(b, m_count->value())) {
        showMessage(QStringLiteral("Введите число сегментов от 0 до 32"), QString(),
                    MessageIcon::None);
        m_count->setValue(0);
    } else {
        store(k, b);
        m_count->setValue(b.count);
    }
    FillProgramTable();
}

void ProgramControlWindow::ComboZptPosCloseUp()
{
    const int k = selectedProgram();
    ProgramBlock b = program(k);
    b.point = std::uint8_t(std::max(0, m_point->currentIndex()));
    store(k, b);
    FillProgramTable();
}

void ProgramControlWindow::markField(QLineEdit *field, bool valid)
{
    QPalette p = palette();
    if (!valid)
        p.setColor(QPalette::Base, kInvalid);
    field->setPalette(p);
}

void ProgramControlWindow::EditTimeProgKeyUp()
{
    const auto bytes = generalconfig::clockTimeBytes(m_time->text());
    markField(m_time, bytes.has_value());
    if (!bytes)
        return;
    m_lastValidText = m_time->text();
    const int k = selectedProgram();
    ProgramBlock b = program(k);
    b.hours = (*bytes)[0];
    b.minutes = (*bytes)[1];
    store(k, b);
}

void ProgramControlWindow::EditDateProgKeyUp()
{
    const auto bytes = generalconfig::clockDateBytes(m_date->text());
    markField(m_date, bytes.has_value());
    if (!bytes)
        return;
    m_lastValidText = m_date->text();
    const int k = selectedProgram();
    ProgramBlock b = program(k);
    b.day = (*bytes)[0];
    b.month = (*bytes)[1];
    b.year = (*bytes)[2];
    store(k, b);
    const int cursor = m_date->cursorPosition();
    ComboNProgChange();
    m_date->setCursorPosition(cursor);
}

bool ProgramControlWindow::eventFilter(QObject *watched, QEvent *event)
{
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (field && (field == m_date || field == m_time)) {
        const auto keyUp = [&] {
            if (field == m_date)
                EditDateProgKeyUp();
            else
                EditTimeProgKeyUp();
        };
        switch (event->type()) {
        case QEvent::FocusIn:
            m_lastValidText = field->text();
            break;
        case QEvent::FocusOut:
            // An invalid entry is undone, a valid one is stored.
            field->setText(m_lastValidText);
            keyUp();
            break;
        case QEvent::KeyRelease:
            if (!static_cast<QKeyEvent *>(event)->isAutoRepeat())
                keyUp();
            break;
        default:
            break;
        }
    }
    return EditorWindow::eventFilter(watched, event);
}
