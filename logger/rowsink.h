#pragma once

#include <QDateTime>
#include <QString>

#include <array>

// One measurement row as the logging service wrote it into a device's table.
struct PolledRow
{
    QString port; // the line's COM name, "COM1"
    int address = 0;
    QString device; // the device's entry text, "Лорван/001/115200"
    qint64 num = 0; // the row's number in its table (the rows before it)
    QDateTime time; // when the reply came, with the local offset
    std::array<double, 4> values{};
};

// Where written rows go besides their table (a broker, say). Called from the thread that serves
// the row's line, once the row is in the table; an implementation must be thread-safe and must
// never block the line for longer than it takes to queue the row.
class RowSink
{
public:
    virtual ~RowSink() = default;
    virtual void rowWritten(const PolledRow &row) = 0;
};
