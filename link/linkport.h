#pragma once

#include <QByteArray>

// What an exchange needs of a serial port. CommPort is the real one; the exchange logic knows
// nothing more of it.
class LinkPort
{
public:
    virtual ~LinkPort() = default;
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual void Purge() = 0;
    virtual bool WriteText(const QByteArray &text) = 0;
    // Whatever has arrived, at most maxCount bytes; never waits for more.
    virtual int ReadAvailable(char *buffer, int maxCount) = 0;
    virtual QByteArray ReadAllWaiting() = 0;
    virtual void SetRts(bool on) = 0;
    // Returns once everything written has physically left the port, the last character
    // included, so that a direction-switched converter may be turned round.
    virtual void DrainOutput() = 0;
    // Time one character takes on the line at the current settings, in milliseconds.
    virtual double characterMs() const = 0;
};
