#pragma once

#include "link/linkport.h"
#include "link/modbuslink.h"
#include "link/registerimages.h"
#include "logger/pollschedule.h"
#include "logger/rowsink.h"
#include "platform/portproblem.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

class CommPort;
class QTimer;

// One device the service polls, as its network file entry has it.
struct LoggedDevice
{
    QString text; // the entry's text, "Лорван/001/115200"
    std::uint8_t address = 0;
    std::uint8_t speedCode = 0;
    qint64 periodMs = 0;
    QString tablePath;
};

// One COM port and the devices on it.
struct LineSetup
{
    int portNumber = 0;
    QString devicePath;
    int pauseMs = 50;
    QList<LoggedDevice> devices;
};

// Keeps the port open between exchanges: the configurator's exchange opens and closes the port
// each time, and a port the service let go of between two polls could be taken by another
// program in the gap. Everything else goes to the real port.
class HeldPort : public LinkPort
{
public:
    explicit HeldPort(CommPort &port) : m_port(port) {}
    void Open() override;
    void Close() override {}
    bool IsOpen() const override;
    void Purge() override;
    bool WriteText(const QByteArray &text) override;
    int ReadAvailable(char *buffer, int maxCount) override;
    QByteArray ReadAllWaiting() override;
    void SetRts(bool on) override;
    void DrainOutput() override;
    double characterMs() const override;
    QString lineName() const override;
    qint64 clockNs() const override;
    qint64 sentOutAtNs() const override;
    qint64 receivedAtNs(qsizetype index) const override;

    // Closes the port for real.
    void release();

private:
    CommPort &m_port;
};

// Serves one line in its own thread: polls each device when the schedule says, back to back
// with only the settling pause, appends each reply to the device's table and hands the row to
// the sinks. Lives in the thread it is moved to; start() and requestStop() may be called from
// any thread.
class LineWorker : public QObject
{
    Q_OBJECT
public:
    LineWorker(const LineSetup &setup, const QList<RowSink *> &sinks);
    ~LineWorker() override;

    const LineSetup &setup() const { return m_setup; }
    QString portName() const;

    void start();
    // Finishes the poll under way, its row included, closes the port and emits finished().
    void requestStop();

    // For the summary at the end: polls made, rows written.
    qint64 polls() const { return m_polls; }
    qint64 rows() const { return m_rows; }

signals:
    void finished();

private:
    void pollDue();
    void pollDevice(int index);
    void scheduleNext();
    void finish();
    void notePortProblem();
    void log(const QString &text) const;

    LineSetup m_setup;
    QList<RowSink *> m_sinks;
    CommPort *m_port = nullptr;
    HeldPort m_held;
    RegisterImages m_images;
    ModbusLink m_link;
    PollSchedule m_schedule;
    QElapsedTimer m_clock;
    QTimer *m_timer = nullptr;
    std::atomic<bool> m_stopping{false};
    bool m_polling = false;
    bool m_finished = false;
    PortProblem m_toldProblem;
    QList<bool> m_tableFailed;
    std::atomic<qint64> m_polls{0};
    std::atomic<qint64> m_rows{0};
};
