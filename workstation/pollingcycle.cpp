// The polling cycle of the main window and the display of the selected device's table.

#include "device/imagefields.h"
#include "platform/cp1251.h"
#include "platform/measurementtable.h"
#include "platform/messageservice.h"
#include "workstation/application.h"
#include "workstation/dataview.h"
#include "workstation/devicetree.h"
#include "workstation/images.h"
#include "workstation/mainwindow.h"
#include "workstation/statefulwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QTableView>
#include <QTimer>

#include <exception>

namespace {

// Input registers 0..7: the four measured values as 32-bit floats.
constexpr std::uint16_t kLiveValueBytes = 16;
// Holding registers 267..298: the four channel descriptions of 16 bytes.
constexpr std::uint16_t kDescriptionPosition = 267 * 2;
constexpr std::uint16_t kDescriptionBytes = 64;

QStringList defaultSeriesTitles()
{
    return {QStringLiteral("Канал-1"), QStringLiteral("Канал-2"), QStringLiteral("Канал-3"),
            QStringLiteral("Канал-4")};
}

QString errorText(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TableError &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

} // namespace

std::uint32_t MainWindow::tickCount()
{
    return std::uint32_t(QDeadlineTimer::current(Qt::PreciseTimer).deadline());
}

bool MainWindow::isPollDue(std::uint32_t now, std::uint32_t nextPollTime)
{
    return nextPollTime == 0 || std::int32_t(now + 1000u - nextPollTime) > 0;
}

bool MainWindow::event(QEvent *event)
{
    // The end-of-tick notice only wakes WaitForPollIdle, which the poll-idle mark already does.
    if (event->type() == kPollNoticeEvent)
        return true;
    return QMainWindow::event(event);
}

void MainWindow::ShowDeviceTable()
{
    if (m_deviceCount == 0)
        return;
    const QString path = m_current.tablePath();
    EnsureMeasurementTable(path);
    m_dataView->open(path);
    std::array<QColor, 4> colours;
    for (int c = 0; c < 4; ++c)
        colours[c] = colourFromDeviceValue(m_current.channelColour(c + 1));
    m_chartView->setSeriesColours(colours);
    const QTreeWidgetItem *node = m_tree->itemAtAbsoluteIndex(m_selectedIndex);
    m_chartTitle = node ? node->text(0) : QString();
    m_chartView->setChartTitle(m_chartTitle);
    m_dataView->model()->setTitles(MeasurementTableModel::defaultTitles());
    m_chartFullPage = false;
    m_dataView->refreshChart(false);
}

void MainWindow::butEnableCycleReqDevClick(bool down)
{
    QAction *button = command(QStringLiteral("butEnableCycleReqDev"));
    button->setEnabled(false);
    struct Reenable
    {
        QAction *button;
        ~Reenable() { button->setEnabled(true); }
    } reenable{button};

    if (down) {
        setEditorButtonsEnabled(false);
        SetEditorPanelsEnabled(false);
        const std::uint32_t now = tickCount();
        for (DeviceTreeItem *item : m_tree->deviceItems()) {
            if (item->device)
                item->device->setNextPollTime(now +
                                              std::uint32_t(item->device->pollPeriod()) * 1000u);
        }
        m_updateTimer->start();
        m_pollTimer->start();
        return;
    }
    setEditorButtonsEnabled(true);
    m_pollTimer->stop();
    WaitForPollIdle();
    SetEditorPanelsEnabled(true);
    m_updateTimer->stop();
}

int MainWindow::ConfirmStopPolling()
{
    QAction *button = command(QStringLiteral("butEnableCycleReqDev"));
    if (!button->isChecked() && !m_pollTimer->isActive())
        return 1;
    const MessageButton answer = showMessage(
        QStringLiteral("Активен режим сбора данных архива\r\n     Прервать чтение данных ?"),
        QStringLiteral("Останов опроса"), MessageIcon::Information,
        int(MessageButton::Yes) | int(MessageButton::No));
    if (answer != MessageButton::Yes)
        return 0;
    stopPollingQuietly();
    return 2;
}

void MainWindow::stopPollingQuietly()
{
    QAction *button = command(QStringLiteral("butEnableCycleReqDev"));
    {
        const QSignalBlocker quiet(button);
        button->setChecked(false);
    }
    m_pollTimer->stop();
    WaitForPollIdle();
}

void MainWindow::SetEditorPanelsEnabled(bool on)
{
    // The panels live in the editor windows; a window that has not built one yet is skipped.
    const struct
    {
        QWidget *window;
        const char *controls[4];
    } sets[] = {
        {m_windows.alarm, {"Panel1"}},
        {m_windows.archData, {"PanelArchiv"}},
        {m_windows.channelConfig, {"Panel1"}},
        {m_windows.config, {"Panel1", "ComboBaudrate1"}},
        {m_windows.contursConfig, {"Panel1", "Panel2", "GroupBoxViewKont1", "GroupBoxViewKont2"}},
        {m_windows.networkConfig, {"GroupBox1", "GroupBox2"}},
        {m_windows.programControl, {"Panel1"}},
    };
    for (const auto &set : sets) {
        if (!set.window)
            continue;
        for (const char *name : set.controls) {
            if (!name)
                break;
            if (QWidget *w = set.window->findChild<QWidget *>(QString::fromLatin1(name)))
                w->setEnabled(on);
        }
    }
}

bool MainWindow::WaitForPollIdle()
{
    // Ticks run on this thread: while one is unfinished, the caller was delivered from inside
    // its wait for a reply, and that tick can only end once the caller has returned. Waiting
    // here would only hold the window still for the whole time-out.
    if (!m_pollIdle.isSet())
        return false;
    return m_pollIdle.wait(kPollIdleWaitMs);
}

void MainWindow::VrThread1Execute()
{
    m_pollIdle.reset();
    m_pollTimer->stop();
    if (m_windows.networkConfig) {
        if (QWidget *group =
                m_windows.networkConfig->findChild<QWidget *>(QStringLiteral("GroupBox1")))
            group->setEnabled(false);
    }
    std::exception_ptr error;
    try {
        ReadValues();
        RefreshSelectedView();
    } catch (...) {
        error = std::current_exception();
    }
    m_pollIdle.set();
    QCoreApplication::postEvent(this, new QEvent(kPollNoticeEvent));
    // No tick runs while the error is on screen: every tick could raise the same error again
    // and stack one box on another. The cycle goes on once the box is closed.
    if (error)
        showGlobalError(errorText(error));
    if (command(QStringLiteral("butEnableCycleReqDev"))->isChecked() && !m_closing)
        m_pollTimer->start();
}

DeviceTreeItem *MainWindow::NextDeviceNode(int index) const
{
    const int count = m_tree->nodeCount();
    for (int i = index + 1; i < count; ++i) {
        DeviceTreeItem *item = m_tree->itemAtAbsoluteIndex(i);
        if (item && DeviceTree::isDeviceNode(item))
            return item;
    }
    return m_tree->itemAtAbsoluteIndex(0);
}

void MainWindow::ReadValues()
{
    if (m_tree->nodeCount() == 0) {
        m_lastPolledIndex = 0;
        return;
    }
    DeviceTreeItem *node = NextDeviceNode(m_lastPolledIndex);
    if (!node)
        return;
    const int index = m_tree->absoluteIndex(node);
    // The turn passes on also when the poll's table write fails.
    m_lastPolledIndex = index;
    if (!node->device || !node->device->cyclicPoll() || node->device->pollPeriod() <= 0)
        return;
    const std::uint32_t now = tickCount();
    if (!isPollDue(now, node->device->nextPollTime()))
        return;
    node->device->setNextPollTime(now + std::uint32_t(node->device->pollPeriod()) * 1000u);
    PollOneDevice(node, index);
}

int MainWindow::PollOneDevice(DeviceTreeItem *node, int index)
{
    const DeviceNode record = *node->device;
    const quint64 generation = m_treeGeneration;
    m_port.setPortNum(record.portNumber());
    if (const auto rate = baudrateForSpeedCode(record.speedCode()))
        m_port.setBaudrate(*rate);
    const int result = m_link.ReadInputRegisters(record.address(), 0, kLiveValueBytes);
    // The wait for the reply delivers other events: a scan or a file load may have replaced the
    // tree meanwhile, and then the entry is gone.
    const bool nodeAlive = generation == m_treeGeneration;
    if (result != 0) {
        if (nodeAlive)
            m_tree->setNodeImage(node, images::kDeviceFailed);
        return result;
    }
    std::array<double, 4> values;
    for (int c = 0; c < 4; ++c)
        values[c] = double(field::f32(m_images.input, std::size_t(4 * c)));
    AppendMeasurementRow(record.tablePath(), QDateTime::currentDateTime(), values, QLocale());
    if (!nodeAlive)
        return 0;
    m_tree->setNodeImage(node, images::kDeviceAnswers);
    if (index == m_selectedIndex) {
        if (m_windows.channelConfig && m_windows.channelConfig->isVisible()) {
            for (int c = 0; c < 4; ++c) {
                if (QWidget *field = m_windows.channelConfig->findChild<QWidget *>(
                        QStringLiteral("EditValX%1").arg(c + 1)))
                    field->setProperty("value", values[c]);
            }
        }
        auto *check = m_windows.networkConfig
                          ? m_windows.networkConfig->findChild<QAbstractButton *>(
                                QStringLiteral("CheckUpdateGraph"))
                          : nullptr;
        m_chartRefreshDue = check && check->isChecked();
    }
    return 0;
}

void MainWindow::RefreshSelectedView()
{
    if (m_deviceCount == 0 || m_lastPolledIndex != m_selectedIndex)
        return;
    m_dataView->follow(m_current.tablePath());
    m_dataView->showNewestRow();
    MeasurementTableModel *model = m_dataView->model();
    if (model->titles().value(0) != QLatin1String("Номер "))
        model->setTitles(MeasurementTableModel::defaultTitles());
    if (!m_titlesRefreshDue)
        return;
    m_titlesRefreshDue = false;
    QTreeWidgetItem *node = m_tree->itemAtAbsoluteIndex(m_selectedIndex);
    const quint64 generation = m_treeGeneration;
    const int result = m_access.ReadSettings(kDescriptionPosition, kDescriptionBytes);
    const bool nodeAlive = node && generation == m_treeGeneration;
    QStringList titles;
    if (result == 0) {
        for (int c = 0; c < 4; ++c) {
            const auto *text = m_images.holding.data() + kDescriptionPosition + 16 * c;
            int length = 0;
            while (length < 16 && text[length] != 0)
                ++length;
            const QString title = cp1251::decode(reinterpret_cast<const char *>(text), length);
            // A channel the device leaves unnamed keeps its number, or its line would have no
            // name in the legend.
            titles.append(title.trimmed().isEmpty() ? defaultSeriesTitles()[c] : title);
        }
    } else {
        titles = defaultSeriesTitles();
    }
    m_chartView->setSeriesTitles(titles);
    if (nodeAlive)
        m_tree->setNodeImage(node, result == 0 ? images::kDeviceAnswers : images::kDeviceFailed);
}

void MainWindow::TimerUpdateDataTimer()
{
    if (!m_chartRefreshDue)
        return;
    m_chartFullPage = true;
    m_dataView->refreshChart(true);
    m_chartRefreshDue = false;
}

void MainWindow::clearDeviceTree()
{
    FreeNodeRecords();
    m_tree->clear();
    m_deviceCount = 0;
    m_selectedIndex = 0;
    m_lastPolledIndex = 0;
}
