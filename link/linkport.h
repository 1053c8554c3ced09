#pragma once

#include <QByteArray>
#include <QString>

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

    // For the line statistics, which must not change an exchange: the line's name as the user
    // knows it, and times on the port's own monotonic clock in nanoseconds (-1 where the port
    // cannot tell): now, when the last character written has left the line, and when the byte
    // received at index (counted from the last Open or Purge) arrived.
    virtual QString lineName() const { return {}; }
    virtual qint64 clockNs() const { return -1; }
    virtual qint64 sentOutAtNs() const { return -1; }
    virtual qint64 receivedAtNs(qsizetype index) const
    {
        Q_UNUSED(index);
        return -1;
    }
};
