#pragma once

#include "link/commport.h"

#include <QObject>

#include <optional>

class Session;

// The scan of one line: for every address of a range it tries the line speeds from the chosen
// one upwards until the device answers, and builds the device network anew from what it finds.
class NetworkScan : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxDevices = 32;

    struct Range
    {
        int portNumber = 1;
        int firstSpeed = 3; // index into kLineSpeeds
        int firstAddress = 1;
        int lastAddress = 1;
    };

    explicit NetworkScan(Session &session);

    bool isRunning() const { return m_running; }
    // The running scan ends at its next probe and keeps what it has found.
    void requestStop() { m_running = false; }
    int lastResult() const { return m_lastResult; }
    // Why the last scan stopped early on its port ("" when it did not).
    QString portProblem() const { return m_portProblem; }

    // The line speed chosen for the scan: the port takes it and the windows show it
    // (speedChosen).
    void chooseSpeed(Baudrate rate, const QString &text);
    // The port chosen for the scan. Refused (the port keeps its number) with the port's own
    // text when it cannot be had; the number in force afterwards is returned with it.
    int choosePort(int number, QString *refusal);
    // Whether the port of a number can be opened now, tried and closed again after settleMs;
    // the port keeps its number. Nothing when it opened (or an exchange holds the line, which
    // must not be disturbed), else why not (empty when nothing more is known).
    std::optional<QString> tryPort(int number, int settleMs);

    // Runs the whole scan; returns the number of devices found. Port and link errors travel
    // on to the caller, which has then the devices found so far.
    int run(const Range &range);

signals:
    // The line speed chosen for the scan, by its text.
    void speedChosen(const QString &text);
    void started();
    // "Поиск: COMp/aaa/speed" for each probe.
    void probing(const QString &text);
    // Probes made so far out of the most the range can take (every speed at every address);
    // an address that answers early counts as all its speeds tried.
    void progressed(int done, int total);
    void deviceFound(int index);
    // The port cannot be used (missing, forbidden, busy): the scan stops, with the reason.
    void portUnusable(const QString &why);
    // The probes are over (before the found devices are set up): the result to show.
    void probesDone(int found);
    // The scan is over; with devices found, the last one found is selected and its identity
    // read again.
    void finished(int found);

private:
    void probeAddress(int address, int firstSpeed);
    void addFoundDevice(int address);

    Session &m_session;
    bool m_running = false;
    int m_done = 0;
    int m_total = 0;
    int m_lastResult = 999;
    QString m_portProblem;
};
