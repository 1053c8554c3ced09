#pragma once

#include "devsim/asciiframing.h"
#include "devsim/faultinjector.h"
#include "devsim/scenario.h"
#include "devsim/simdevice.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace devsim {

// One RS-485 line: a pseudo-terminal whose master side the devices listen on.
class SimLine
{
public:
    SimLine(const LineSetup &setup, std::function<void(const QString &)> logger);
    ~SimLine();

    // Opens the pseudo-terminal, links it as linkPath and starts serving.
    bool open(const QString &linkPath, QString *error);
    void close();

    int port() const { return m_setup.port; }
    QString linkPath() const { return m_linkPath; }
    QString ptyPath() const { return m_ptyPath; }
    // The tap's link and pseudo-terminal; empty when the line has none.
    QString monitorLinkPath() const { return m_tap.linkPath; }
    QString monitorPtyPath() const { return m_tap.ptyPath; }

    bool withDevice(quint8 address, const std::function<void(SimDevice &)> &fn);

private:
    struct Member
    {
        std::unique_ptr<SimDevice> device;
        std::unique_ptr<FaultInjector> faults;
    };

    void run();
    void serve(const ReceivedFrame &frame);
    int lineSpeed() const;
    void transmit(const QByteArray &bytes, int speed);
    void log(const QString &direction, const QByteArray &text, const QString &note = {});
    // Copies bytes that crossed the line onto the tap, if there is one; a tap nobody reads
    // loses them, as a line does.
    void tap(const char *bytes, qsizetype count);

    // One published pseudo-terminal: the master we use, the slave held open so the line stays
    // up without a client, and the link that names it.
    struct Pty
    {
        int master = -1;
        int slaveKeeper = -1;
        QString ptyPath;
        QString linkPath;
        bool open(const QString &link, QString *why);
        void close();
    };

    LineSetup m_setup;
    std::function<void(const QString &)> m_logger;
    std::vector<Member> m_members;
    std::mutex m_mutex; // guards the devices
    FrameAssembler m_assembler;
    int m_master = -1;
    int m_slaveKeeper = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    QString m_linkPath;
    QString m_ptyPath;
    Pty m_tap;
};

} // namespace devsim
