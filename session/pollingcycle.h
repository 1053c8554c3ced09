#pragma once

#include <QEvent>
#include <QHash>
#include <QObject>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>

class Clock;
class ClockTimer;
class DeviceNetwork;
class SelectedDevice;
struct SerialLine;

// What the polling cycle works on: the line and its clock, the network and the selection; and
// where it tells what it does (the editors' command panels, the message log).
struct PollingContext
{
    SerialLine &line;
    Clock &clock;
    DeviceNetwork &network;
    SelectedDevice &selected;
    std::function<void(bool on)> setEditorPanelsEnabled;
    std::function<void(const QString &line, bool failed)> log;
};

// The polling cycle: while switched on, a tick every 500 ms after the previous one has ended
// reads the live values of the next device in absolute order that is due, appends them to its
// measurement table and marks its entry; and a redraw timer every 6000 ms asks for the chart
// to be drawn again when a poll of the selected device wanted it. Times come from the context's
// clock.
class PollingCycle : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTickGapMs = 500;
    static constexpr int kChartUpdateMs = 6000;
    // Posted at the end of every tick: the first user message plus 8.
    static constexpr QEvent::Type kPollNoticeEvent = QEvent::Type(QEvent::User + 8);

    PollingCycle(PollingContext context, QObject *parent);

    // A poll time is due up to one second early; 0 is due at once. Compared by distance, so
    // that the counter's wrap after 49 days neither stops polling nor makes it run every tick.
    static bool isPollDue(std::uint32_t now, std::uint32_t nextPollTime);
    // When a device polled at now is due again. A period longer than isPollDue can tell from the
    // past (about 24 days) waits that long instead of coming round at once.
    static std::uint32_t nextPollTime(std::uint32_t now, std::int32_t periodSeconds);

    // Switched on (the toolbar button's state) or a tick still to come.
    bool isPolling() const;
    bool switchedOn() const { return m_on; }
    // The button's action: on sets every device's next poll time one period ahead and starts
    // both timers; off stops them after the running tick.
    void switchPolling(bool on);
    // Off without the button's action (the editor commands stay as they are), then waits for a
    // running tick.
    void stopQuietly();
    // Back on without the button's action: next poll times stay as they are (a loaded network's
    // devices, at 0, are due at once) and the editor commands are left alone.
    void resumeQuietly();
    // The close sequence: no tick starts any more.
    void setClosing() { m_closing = true; }

    ClockTimer *VrTimer1() const { return m_pollTimer; }
    ClockTimer *TimerUpdateData() const { return m_updateTimer; }

    // Whether a poll of the selected device asks for a chart redraw (the network settings
    // window's "update the chart with every measurement").
    bool chartUpdateOnPoll() const { return m_chartUpdateOnPoll; }
    void setChartUpdateOnPoll(bool on) { m_chartUpdateOnPoll = on; }
    bool chartRefreshDue() const { return m_chartRefreshDue; }
    // The chart's series titles are read from the selected device at its next poll.
    bool titlesRefreshDue() const { return m_titlesRefreshDue; }
    void setTitlesRefreshDue(bool due) { m_titlesRefreshDue = due; }
    int lastPolledIndex() const { return m_lastPolledIndex; }
    void resetTurn() { m_lastPolledIndex = 0; }

    // One tick.
    void VrThread1Execute();
    void ReadValues();
    int PollOneDevice(int index);
    void RefreshSelectedView();
    void TimerUpdateDataTimer();

protected:
    bool event(QEvent *event) override;

signals:
    void switchedChanged(bool on);
    void tickStarted();
    void tickEnded();
    // A poll of the entry at index answered with these four values.
    void valuesPolled(int index, const std::array<double, 4> &values, bool selected);
    // The selected device was polled: its grid goes to the newest row.
    void selectedDevicePolled();
    void seriesTitlesRead(const QStringList &titles);
    void chartRedrawDue();
    // A polled device's port cannot be used: said once per device and port, until the device
    // answers again or its port changes.
    void portUnusable(int index, const QString &why);

private:
    // True when no tick runs any more; gives a running tick at most
    // PollIdleEvent::kLongestWaitMs.
    bool waitForIdle();

    PollingContext m_context;
    ClockTimer *m_pollTimer;
    ClockTimer *m_updateTimer;
    bool m_on = false;
    bool m_closing = false;
    bool m_chartUpdateOnPoll = true;
    bool m_chartRefreshDue = false;
    bool m_titlesRefreshDue = true;
    int m_lastPolledIndex = 0;
    // The port each device's unusable port was last told for.
    QHash<int, int> m_toldPortProblems;
    quint64 m_toldGeneration = 0;
};
