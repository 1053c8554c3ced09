#pragma once

#include <QString>

#include <stdexcept>

// A failure of the serial port, carrying the text the user is shown.
class PortError : public std::runtime_error
{
public:
    explicit PortError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};

// The one exception of the link's own: a run-time error inside a holding-register read.
class ESendThreadError : public std::runtime_error
{
public:
    explicit ESendThreadError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
