#include "logger/lineworker.h"

#include "device/livevalues.h"
#include "link/commport.h"
#include "link/frame.h"
#include "link/porterror.h"
#include "logger/loggerlog.h"
#include "platform/measurementtable.h"
#include "platform/portpath.h"

#include <QEventLoop>
#include <QLocale>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <limits>

void HeldPort::Open()
{
    if (!m_port.IsOpen())
        m_port.Open();
}
bool HeldPort::IsOpen() const
{
    return m_port.IsOpen();
}
void HeldPort::Purge()
{
    m_port.Purge();
}
bool HeldPort::WriteText(const QByteArray &text)
{
    // A line that refuses a request is opened afresh for the next one: it may have gone away
    // and come back (a converter unplugged and plugged in again).
    const bool ok = m_port.WriteText(text);
    if (!ok)
        m_port.Close();
    return ok;
}
int HeldPort::ReadAvailable(char *buffer, int maxCount)
{
    return m_port.ReadAvailable(buffer, maxCount);
}
QByteArray HeldPort::ReadAllWaiting()
{
    return m_port.ReadAllWaiting();
}
void HeldPort::SetRts(bool on)
{
    m_port.SetRts(on);
}
void HeldPort::DrainOutput()
{
    m_port.DrainOutput();
}
double HeldPort::characterMs() const
{
    return m_port.characterMs();
}
QString HeldPort::lineName() const
{
    return m_port.lineName();
}
qint64 HeldPort::clockNs() const
{
    return m_port.clockNs();
}
qint64 HeldPort::sentOutAtNs() const
{
    return m_port.sentOutAtNs();
}
qint64 HeldPort::receivedAtNs(qsizetype index) const
{
    return m_port.receivedAtNs(index);
}
void HeldPort::release()
{
    if (m_port.IsOpen())
        m_port.Close();
}

namespace {

QList<qint64> periodsOf(const QList<LoggedDevice> &devices)
{
    QList<qint64> periods;
    for (const LoggedDevice &d : devices)
        periods.append(d.periodMs);
    return periods;
}

} // namespace

LineWorker::LineWorker(const LineSetup &setup, const QList<RowSink *> &sinks)
    : m_setup(setup), m_sinks(sinks), m_port(new CommPort(this)), m_held(*m_port), m_link(m_images),
      m_schedule(periodsOf(setup.devices), 0), m_timer(new QTimer(this)),
      m_tableFailed(setup.devices.size(), false)
{
    m_link.Setup(*m_port);
    m_port->setDeviceName(setup.devicePath);
    m_link.setPort(&m_held);
    const int pause = setup.pauseMs;
    m_link.exchange().settle = [pause](int) {
        if (pause > 0)
            QThread::msleep(unsigned(pause));
    };
    // The wait between the exchange's reading passes ends as soon as bytes arrive: on a fast line
    // the passes' grid alone would add half a pass to every poll.
    m_link.exchange().between = [this](int ms) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(m_port, &CommPort::received, &loop, &QEventLoop::quit);
        timer.start(ms);
        loop.exec();
    };
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &LineWorker::pollDue);
}

LineWorker::~LineWorker() = default;

QString LineWorker::portName() const
{
    return portDisplayName(m_setup.portNumber);
}

void LineWorker::log(const QString &text) const
{
    logLine(portName() + QStringLiteral(": ") + text);
}

void LineWorker::start()
{
    QMetaObject::invokeMethod(this, [this] {
        m_clock.start();
        scheduleNext();
    });
}

void LineWorker::requestStop()
{
    m_stopping = true;
    // Delivered inside a poll's wait too: the poll then ends first, and its end stops the line.
    QMetaObject::invokeMethod(this, [this] {
        if (!m_polling)
            finish();
    });
}

void LineWorker::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_timer->stop();
    m_held.release();
    emit finished();
    // The thread's loop ends here, whether or not its owner's loop still runs.
    thread()->quit();
}

void LineWorker::scheduleNext()
{
    if (m_stopping) {
        finish();
        return;
    }
    if (m_schedule.size() == 0)
        return;
    const qint64 wait = std::max<qint64>(0, m_schedule.nextDueAt() - m_clock.elapsed());
    m_timer->start(int(std::min<qint64>(wait, std::numeric_limits<int>::max())));
}

void LineWorker::pollDue()
{
    const int index = m_schedule.due(m_clock.elapsed());
    if (index >= 0)
        pollDevice(index);
    scheduleNext();
}

void LineWorker::notePortProblem()
{
    const PortProblem &problem = m_port->lastOpenProblem();
    if (problem == m_toldProblem)
        return;
    if (problem.kind == PortProblem::None)
        log(QStringLiteral("порт %1 открыт").arg(m_setup.devicePath));
    else
        logLine(explainPortProblem(portName(), problem,
                                   QStringLiteral("раздел [ports] настройки lorvan-logger")));
    m_toldProblem = problem;
}

void LineWorker::pollDevice(int index)
{
    m_polling = true;
    const LoggedDevice &device = m_setup.devices[index];
    if (const auto rate = baudrateForSpeedCode(device.speedCode);
        rate && *rate != m_port->baudrate())
        m_port->setBaudrate(*rate);
    std::array<double, 4> values{};
    int result = kNoReply;
    try {
        result = livevalues::read(m_link, device.address, values);
    } catch (const PortError &e) {
        // The line failed under the exchange; the next poll opens it afresh.
        log(QStringLiteral("ошибка порта: %1").arg(e.message()));
        m_held.release();
    } catch (const std::exception &e) {
        log(QStringLiteral("ошибка порта: %1").arg(QString::fromLocal8Bit(e.what())));
        m_held.release();
    }
    ++m_polls;
    notePortProblem();
    const QString who = QStringLiteral("адрес %1 (%2)").arg(device.address).arg(device.text);
    if (result == kReplyOk) {
        const QDateTime when = QDateTime::currentDateTime();
        try {
            PolledRow row;
            MeasurementRow stored;
            row.num = AppendMeasurementRow(device.tablePath, when, values, QLocale(), &stored);
            row.port = portName();
            row.address = device.address;
            row.device = device.text;
            row.time = when;
            // What the table holds, so that a row published is the row written; a blank field
            // (a value the table cannot hold) goes as no value.
            for (std::size_t c = 0; c < row.values.size(); ++c)
                row.values[c] =
                    stored.channels[c].value_or(std::numeric_limits<double>::quiet_NaN());
            ++m_rows;
            if (m_tableFailed[index]) {
                m_tableFailed[index] = false;
                log(QStringLiteral("%1: таблица %2 снова пишется").arg(who, device.tablePath));
            }
            for (RowSink *sink : std::as_const(m_sinks))
                sink->rowWritten(row);
        } catch (const TableError &e) {
            // Told once, not at every period: the journal would fill with the same line.
            if (!m_tableFailed[index])
                log(QStringLiteral("%1: %2").arg(who, e.message()));
            m_tableFailed[index] = true;
        }
    }
    const qint64 now = m_clock.elapsed();
    switch (m_schedule.record(index, now, result == kReplyOk)) {
    case PollSchedule::Change::BackedOff:
        log(QStringLiteral("%1 не отвечает %2 раза подряд (последний результат %3); опрос раз в "
                           "%4 периодов")
                .arg(who)
                .arg(PollSchedule::kFailuresToBackOff)
                .arg(result)
                .arg(PollSchedule::kBackOffPeriods));
        break;
    case PollSchedule::Change::Answers:
        log(QStringLiteral("%1 снова отвечает; опрос с его периодом").arg(who));
        break;
    case PollSchedule::Change::None:
        break;
    }
    m_polling = false;
}
