#pragma once

#include "device/deviceaccess.h"
#include "link/commport.h"
#include "link/exchangestats.h"
#include "link/modbuslink.h"
#include "link/registerimages.h"
#include "session/namedobjects.h"

#include <QString>

// The configurator's one serial line: the port, the register images with the link over them,
// the logged device access, the port lock and the poll-idle mark, and the record of every
// exchange for the line statistics. The session owns it and hands it to what works on the line
// (the polling cycle, the scan, the selected device and the editor base's exchange sequence);
// the windows never see it.
struct SerialLine
{
    SerialLine(DeviceAccess::CurrentDevice current, DeviceAccess::LogSink log)
        : access(link, port, std::move(current), std::move(log))
    {
    }
    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    // Why the port's last open failed, in Russian, naming the COM number and its device; ""
    // when the last open succeeded.
    QString portProblemText() const
    {
        return explainPortProblem(port.displayName(), port.lastOpenProblem());
    }

    RegisterImages images;
    CommPort port;
    ModbusLink link{images};
    DeviceAccess access;
    ExchangeStats stats;
    PortMutex portMutex;
    PollIdleEvent pollIdle;
};
