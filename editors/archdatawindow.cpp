#include "editors/archdatawindow.h"

#include "device/alarmblock.h"
#include "device/channelblock.h"
#include "device/commonblock.h"
#include "device/registermap.h"
#include "editors/numericfield.h"
#include "editors/settingswindows.h"
#include "platform/atomicfile.h"
#include "platform/workbookexport.h"
#include "session/session.h"
#include "windowkit/controlnames.h"
#include "windowkit/windowhost.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryFile>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr auto kParamReadFailure = "Ошибка чтения параметров\r\nПроверьте подключение";
constexpr auto kParamWriteFailure = "Ошибка записи параметров\r\nПроверьте подключение";
constexpr auto kNoData = "Данные отсутствуют";

constexpr HoldingBlock kCommon{regmap::kCommonBlock, regmap::kCommonBlockBytes};

HoldingBlock channelBlock(int input)
{
    return {regmap::channel(input), regmap::kChannelBytes};
}

} // namespace

ArchDataWindow::ArchDataWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, settingsWindowKind(FeatureCode::Archive))
{
    buildControls();
    declareCommandPanels({m_panel, m_parameterGroup});
    resize(640, 480);
}

void ArchDataWindow::buildControls()
{
    auto *layout = new QVBoxLayout(this);
    m_grid = new QTableWidget(2, 2, this);
    m_grid->setObjectName(QStringLiteral("GridArchiv"));
    m_grid->setAccessibleName(QStringLiteral("Записи архива"));
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->horizontalHeader()->hide();
    m_grid->verticalHeader()->hide();
    layout->addWidget(m_grid, 1);

    // Shown only while the archive is read; its button is the one control that acts then.
    m_busyPanel = new QWidget(this);
    m_busyPanel->setObjectName(QStringLiteral("Panel1"));
    auto *busy = new QHBoxLayout(m_busyPanel);
    m_busyText = new QLabel(QStringLiteral("Чтение архива данных..."), m_busyPanel);
    busy->addWidget(m_busyText);
    m_progress = new QProgressBar(m_busyPanel);
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(QStringLiteral("Ход работы"));
    busy->addWidget(m_progress, 1);
    m_abort = new QPushButton(QStringLiteral("Прервать чтение"), m_busyPanel);
    m_abort->setObjectName(QStringLiteral("BitBtn1"));
    busy->addWidget(m_abort);
    layout->addWidget(m_busyPanel);
    m_busyPanel->hide();
    connect(m_abort, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

    auto *lower = new QHBoxLayout;
    auto *group = new QGroupBox(QStringLiteral("Параметры архива:"), this);
    group->setObjectName(QStringLiteral("GroupArcPar"));
    m_parameterGroup = group;
    auto *grid = new QGridLayout(group);
    static const char *const names[] = {"X1:", "X2:", "X3:", "X4:", "Y1:", "Y2:"};
    for (int i = 0; i < archive::kParameterCount; ++i) {
        auto *box = new QCheckBox(group);
        box->setObjectName(QStringLiteral("CheckArcPar%1").arg(i + 1));
        box->setAutoFillBackground(true);
        auto *label = new QLabel(QString::fromLatin1(names[i]), group);
        label->setBuddy(box);
        grid->addWidget(label, i % 3, (i / 3) * 2);
        grid->addWidget(box, i % 3, (i / 3) * 2 + 1);
        m_parameters[std::size_t(i)] = box;
        connect(box, &QCheckBox::toggled, this, [this, box] { showParameterBox(box); });
        showParameterBox(box);
    }
    m_cycle = new NumericField(0, 9999, 0, 4, group);
    m_cycle->setObjectName(QStringLiteral("EditCycleRegistr1"));
    auto *cycleLabel = new QLabel(QStringLiteral("Цикл регистрации (сек):"), group);
    cycleLabel->setBuddy(m_cycle);
    grid->addWidget(cycleLabel, 3, 0, 1, 3);
    grid->addWidget(m_cycle, 3, 3);
    m_recording = new QCheckBox(QStringLiteral("Запись архива"), group);
    m_recording->setObjectName(QStringLiteral("CheckbArc"));
    grid->addWidget(m_recording, 4, 0, 1, 4);
    lower->addWidget(group);

    m_panel = new QWidget(this);
    m_panel->setObjectName(QStringLiteral("PanelArchiv"));
    auto *buttons = new QVBoxLayout(m_panel);
    auto *countRow = new QHBoxLayout;
    m_count = new QLabel(QStringLiteral("0"), m_panel);
    m_count->setObjectName(QStringLiteral("StaticTest"));
    auto *countLabel = new QLabel(QStringLiteral("Кол-во записей:"), m_panel);
    countLabel->setBuddy(m_count);
    countRow->addWidget(countLabel);
    countRow->addWidget(m_count, 1);
    buttons->addLayout(countRow);
    auto button = [&](const char *text, const char *name) {
        auto *b = new QPushButton(QString::fromUtf8(text), m_panel);
        b->setObjectName(QLatin1String(name));
        buttons->addWidget(b);
        return b;
    };
    m_readArchive = button("Считать архив", "ButtonArchivRead");
    m_writeParams = button("Запись параметров", "BtnWriteArcPar");
    m_readParams = button("Чтение параметров", "BtnArcParRead");
    m_export = button("Экспорт в Excel", "BtnExportExcel");
    buttons->addStretch(1);
    lower->addWidget(m_panel, 1);
    layout->addLayout(lower);

    connect(m_readArchive, &QPushButton::clicked, this, &ArchDataWindow::ButtonArchivReadClick);
    connect(m_writeParams, &QPushButton::clicked, this, &ArchDataWindow::BtnWriteArcParClick);
    connect(m_readParams, &QPushButton::clicked, this, &ArchDataWindow::BtnArcParReadClick);
    connect(m_export, &QPushButton::clicked, this, &ArchDataWindow::BtnExportExcelClick);
}

void ArchDataWindow::showParameterBox(QCheckBox *box)
{
    const bool on = box->isChecked();
    box->setText(on ? QStringLiteral("Включен") : QStringLiteral("Выключен"));
    QPalette p = box->palette();
    p.setColor(QPalette::Window, on ? kAqua : kNavy);
    p.setColor(QPalette::WindowText, on ? kNavy : kAqua);
    box->setPalette(p);
}

// ---- Parameters

ExchangeOutcome ArchDataWindow::BtnArcParReadClick()
{
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kParamReadFailure);
    options.busy = {m_readParams, m_panel};
    options.readsControls = true;
    options.afterSuccess = [this] { ParRead(); };
    return runExchange(options, [this](ExchangeRun &run) { ParGet(run); });
}

ExchangeOutcome ArchDataWindow::BtnWriteArcParClick()
{
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kParamWriteFailure);
    options.busy = {m_writeParams, m_panel};
    // Writing what a fresh window shows would switch recording off and start a new record mark:
    // the stored records would be lost.
    options.writesFromControls = {kCommon};
    return runExchange(options, [this](ExchangeRun &run) { PutArcPar(run); });
}

void ArchDataWindow::ParGet(ExchangeRun &run)
{
    readSettings(run, kCommon);
    run.check(device().readCoils(regmap::kArchiveRecordingCoil, regmap::kArchiveCoilCount,
                                 SelectedDevice::Log::Quiet));
}

void ArchDataWindow::ParRead()
{
    const auto p = archive::Parameters::decode(imageBlock<CommonBlock::kBytes>(kCommon));
    for (int i = 0; i < archive::kParameterCount; ++i)
        m_parameters[std::size_t(i)]->setChecked(p.selected & (1 << i));
    m_cycle->setValue(p.cycle);
    emit registrationCycleShown(p.cycle);
    m_recording->setChecked(device().coil(regmap::kArchiveRecordingCoil));
}

void ArchDataWindow::PutArcPar(ExchangeRun &run)
{
    // A cycle read from the device goes back as it was, even outside what may be typed.
    archive::Parameters wanted;
    wanted.cycle = std::uint16_t(std::int64_t(m_cycle->value()) & 0xFFFF);
    emit registrationCycleShown(m_cycle->value());
    for (int i = 0; i < archive::kParameterCount; ++i) {
        if (m_parameters[std::size_t(i)]->isChecked())
            wanted.selected |= std::uint8_t(1 << i);
    }
    // The block's other bytes and the record mark go back as the device holds them.
    writeCommonBlock(run, [&wanted](CommonBlock &block) {
        CommonBlock::Bytes bytes = block.bytes();
        wanted.encode(bytes);
        block = CommonBlock(bytes);
    });
    // Coils 4 and 5 switch the loops' manual mode: they go back as the device has them now, and
    // without that read no coil is written at all.
    constexpr auto quiet = SelectedDevice::Log::Quiet;
    if (run.check(device().readCoils(regmap::kArchiveRecordingCoil, regmap::kArchiveCoilCount,
                                     quiet)) != 0)
        return;
    device().setCoil(regmap::kArchiveRecordingCoil, m_recording->isChecked());
    run.check(device().writeCoils(regmap::kArchiveRecordingCoil, regmap::kArchiveCoilCount, quiet));
}

// ---- The archive

ExchangeOutcome ArchDataWindow::ButtonArchivReadClick()
{
    m_grid->clear();
    m_grid->setColumnCount(2);
    m_grid->setRowCount(2);
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kParamReadFailure);
    options.busy = {m_readParams, m_panel};
    options.readsControls = true;
    return runExchange(options, [this](ExchangeRun &run) {
        ParGet(run);
        ParRead();
        if (FillArchiv(run)) {
            if (device().readCoils(regmap::kArchiveRecordingCoil, regmap::kArchiveCoilCount,
                                   SelectedDevice::Log::Quiet) == 0)
                m_recording->setChecked(device().coil(regmap::kArchiveRecordingCoil));
        }
    });
}

std::vector<archive::Record> ArchDataWindow::ReadArchiveRecords()
{
    std::vector<archive::Record> records;
    m_walkNote.clear();
    m_busyText->setText(QStringLiteral("Чтение архива данных..."));
    m_progress->setRange(0, 0);
    m_busyPanel->show();
    struct Hide
    {
        QWidget *panel;
        ~Hide() { panel->hide(); }
    } hide{m_busyPanel};

    if (device().readHolding(kCommon) != 0)
        return records;
    // A write position that is stale or outside the ring would send the walk past the ring.
    if (device().readInputs(regmap::kArchiveState, 4) != 0) {
        m_walkNote = QStringLiteral("Положение записи архива не прочитано.");
        return records;
    }
    const auto writePosition = field::u16(device().inputs(), regmap::kArchiveState);
    const auto params = archive::Parameters::decode(imageBlock<CommonBlock::kBytes>(kCommon));
    auto walk = archive::Walk::start(writePosition, params.selected);
    if (!walk) {
        m_walkNote = QStringLiteral("Неверное положение записи архива: %1.").arg(writePosition);
        return records;
    }
    const int length = walk->length();
    // A line that stays silent ends the walk once it failed as often as the ring has records.
    const int failureLimit = archive::ringRecords(params.selected);
    int failures = 0;
    std::array<std::uint16_t, archive::kHeaderRegisters + archive::kParameterCount> words{};
    m_archiveAbort = true;
    m_count->setText(QStringLiteral("0"));
    while (m_archiveAbort && !session().isClosing()) {
        const auto current = walk->current();
        if (!current)
            break;
        const int result = device().readInputRegisters(
            std::uint16_t(*current), std::span(words.data(), std::size_t(length)));
        if (result != 0) {
            if (++failures >= failureLimit) {
                m_walkNote = QStringLiteral("Архив не дочитан: устройство не отвечает.");
                break;
            }
            continue;
        }
        failures = 0;
        auto record = archive::Record::decode(std::span(words.data(), std::size_t(length)));
        if (!record.valid(params.mark)) {
            m_archiveAbort = false;
            break;
        }
        records.push_back(std::move(record));
        m_count->setText(QString::number(records.size()));
        emit recordCounted(int(records.size()));
        walk->advance();
    }
    return records;
}

bool ArchDataWindow::FillArchiv(ExchangeRun &run)
{
    Q_UNUSED(run);
    const std::vector<archive::Record> records = ReadArchiveRecords();
    if (records.empty()) {
        QString text = QString::fromUtf8(kNoData);
        if (!m_walkNote.isEmpty())
            text += QStringLiteral("\r\n") + m_walkNote;
        showMessage(text, windowTitle(), MessageIcon::Information);
        m_archiveAbort = false;
        return false;
    }
    if (!m_walkNote.isEmpty())
        showMessage(m_walkNote, windowTitle(), MessageIcon::Information);

    m_grid->clear();
    m_grid->setRowCount(2);
    m_grid->setColumnCount(3);
    for (int c = 0; c < 3; ++c)
        m_grid->setColumnWidth(c, 0);
    SetGridText(0, 0, QStringLiteral("№"));
    SetGridText(1, 0, QStringLiteral("Пр"));
    SetGridText(2, 0, QStringLiteral("Дата"));

    for (int input = 1; input <= 4; ++input) {
        if (device().readHolding(channelBlock(input)) != 0) {
            showMessage(QStringLiteral("Ошибка чтения настроек каналов"), windowTitle(),
                        MessageIcon::Information);
            break;
        }
    }
    std::array<int, 4> points{};
    for (int input = 1; input <= 4; ++input)
        points[std::size_t(input - 1)] =
            ChannelBlock::pointPositionOf(imageBlock<2>({regmap::channel(input), 2}));

    const auto params = archive::Parameters::decode(imageBlock<CommonBlock::kBytes>(kCommon));
    const QStringList headers = archive::parameterHeaders(params.selected);
    m_grid->setColumnCount(3 + int(headers.size()));
    for (int i = 0; i < headers.size(); ++i) {
        m_grid->setColumnWidth(3 + i, 0);
        SetGridText(3 + i, 0, headers[i]);
    }
    m_grid->setRowCount(1 + int(records.size()));
    int row = 1;
    for (const archive::Record &r : records) {
        SetGridText(0, row, QString::number(row));
        const QStringList texts = r.texts(params.selected, points);
        for (int i = 0; i < texts.size() && 1 + i < m_grid->columnCount(); ++i)
            SetGridText(1 + i, row, texts[i]);
        ++row;
    }
    FitGridColumns();
    SortArchiveByTime();
    return true;
}

void ArchDataWindow::SetGridText(int col, int row, const QString &text)
{
    if (col < 0 || row < 0 || col >= m_grid->columnCount() || row >= m_grid->rowCount()) {
        showMessage(QStringLiteral("Внутренняя ошибка SetGridText(): индекс выходит за пределы "
                                   "диапазона. col, row = %1, %2")
                        .arg(col)
                        .arg(row),
                    windowTitle(), MessageIcon::Information);
        return;
    }
    const int wanted = int(text.size()) * m_grid->font().pointSize() + 8;
    if (m_grid->columnWidth(col) < wanted)
        m_grid->setColumnWidth(col, wanted);
    auto *item = m_grid->item(row, col);
    if (!item) {
        item = new QTableWidgetItem;
        m_grid->setItem(row, col, item);
    }
    item->setText(text);
}

void ArchDataWindow::FitGridColumns()
{
    const int columns = m_grid->columnCount();
    int sum = 0;
    for (int c = 0; c < columns; ++c)
        sum += m_grid->columnWidth(c);
    if (sum < 30 || columns < 2)
        return;
    const int add = (m_grid->viewport()->width() - sum) / (columns - 1);
    for (int c = 1; c < columns; ++c)
        m_grid->setColumnWidth(c, qMax(1, m_grid->columnWidth(c) + add - 1));
}

void ArchDataWindow::SortArchiveByTime()
{
    const int rows = m_grid->rowCount() - 1;
    const int columns = m_grid->columnCount();
    if (rows < 2)
        return;
    QList<QStringList> cells;
    QStringList dates;
    for (int r = 1; r <= rows; ++r) {
        QStringList row;
        for (int c = 1; c < columns; ++c) {
            const auto *item = m_grid->item(r, c);
            row << (item ? item->text() : QString());
        }
        dates << (row.size() > 1 ? row[1] : QString());
        cells << row;
    }
    const std::vector<int> order = archive::sortOrder(dates);
    for (int r = 1; r <= rows; ++r) {
        SetGridText(0, r, QString::number(r));
        const QStringList &row = cells[order[std::size_t(r - 1)]];
        for (int c = 1; c < columns; ++c)
            SetGridText(c, r, row[c - 1]);
    }
}

// ---- Export

ExchangeOutcome ArchDataWindow::BtnExportExcelClick()
{
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kParamReadFailure);
    options.busy = {m_export};
    return runExchange(options, [this](ExchangeRun &run) { ExportExcel(run); });
}

void ArchDataWindow::ExportExcel(ExchangeRun &run)
{
    if (m_grid->columnCount() <= 2 && !FillArchiv(run))
        return;
    QList<QStringList> cells;
    for (int r = 0; r < m_grid->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < m_grid->columnCount(); ++c) {
            const auto *item = m_grid->item(r, c);
            row << (item ? item->text() : QString());
        }
        cells << row;
    }
    // A long archive takes a while: the panel shows how far the transfer is.
    m_busyText->setText(QStringLiteral("Передача в Excel..."));
    m_progress->setRange(0, int(cells.size()));
    m_progress->setValue(0);
    m_busyPanel->show();
    struct Hide
    {
        QWidget *panel;
        ~Hide() { panel->hide(); }
    } hide{m_busyPanel};

    // The spreadsheet program opens the workbook after we return, so it outlives this call. The
    // name is taken by an empty file, which the complete workbook then replaces.
    QTemporaryFile file(QDir::temp().filePath(QStringLiteral("LorvanArchiv-XXXXXX.xlsx")));
    file.setAutoRemove(false);
    QString error;
    bool ok = file.open();
    const QString path = file.fileName();
    if (!ok)
        error = FileWriteError{path, file.errorString()}.message();
    file.close();
    if (ok)
        ok = workbook::exportCells(cells, path, &error, [this](int rows) {
            m_progress->setValue(rows);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        });
    if (!ok) {
        QFile::remove(path);
        showMessage(QStringLiteral("Ошибка передачи в Excel!\r\n") + error,
                    QStringLiteral("Ошибка"), MessageIcon::Error);
    } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        keepWorkbook(path);
    }
}

void ArchDataWindow::keepWorkbook(const QString &path)
{
    // The workbook is whole; only no program took it. The user keeps it where he chooses, or
    // at least learns where it lies.
    FileDialogRequest request;
    request.kind = FileDialogRequest::Save;
    request.caption = QStringLiteral("Программа электронных таблиц не найдена: сохранить книгу");
    request.filter = QStringLiteral("Книга Excel (*.xlsx)");
    request.defaultSuffix = QStringLiteral("xlsx");
    request.fileName = QDir::home().filePath(QStringLiteral("Архив.xlsx"));
    const QString chosen = messages().askFileName(request);
    const QString caption = QStringLiteral("Экспорт в Excel");
    if (!chosen.isEmpty()) {
        QFile book(path);
        std::optional<FileWriteError> error;
        if (!book.open(QIODevice::ReadOnly))
            error = FileWriteError{path, book.errorString()};
        else
            error = writeFileAtomically(chosen, book.readAll());
        if (!error) {
            book.remove();
            showMessage(QStringLiteral("Книга сохранена в файл ") + chosen, caption,
                        MessageIcon::Information);
            return;
        }
        showMessage(error->message(), caption, MessageIcon::Error);
    }
    showMessage(QStringLiteral("Книга осталась в файле ") + path, caption,
                MessageIcon::Information);
}

void ArchDataWindow::closeEvent(QCloseEvent *event)
{
    // A walk nobody sees would hold the line for minutes.
    m_archiveAbort = false;
    EditorWindow::closeEvent(event);
}
