#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>

// The device's internal archive: a ring of 32750 bytes presented as input registers 52 and up,
// filled with records laid out as the archive reader expects them.
namespace devsim {

constexpr int kRingBytes = 32750;
constexpr int kRingFirstRegister = 52;
constexpr int kRingLastRegister = kRingFirstRegister + kRingBytes / 2 - 1; // 16426
// Input register 50 reports the next write offset plus this bias.
constexpr int kWriteBias = 10;

// Bits 0-5 of the archive setting select X1..X4, Y1, Y2; the record holds 4 header registers
// and one register per selected parameter.
int archiveRecordRegisters(quint8 parameterMask);

// One record in ring byte order: each register is stored low byte first.
// Values are the selected parameters' stored numbers in the order X1, X2, X3, X4, Y1, Y2.
QByteArray encodeArchiveRecord(quint8 mark, const QDateTime &time, const QList<qint16> &values);

class ArchiveRing
{
public:
    ArchiveRing();

    // Writes one record at the write position, wrapping to the start of the ring first when it
    // would not fit before the end.
    void append(const QByteArray &record);
    // Starts over at ring byte 0; older contents stay until overwritten.
    void restart() { m_next = 0; }
    // Fills every whole record slot with this record, counting none of them as written.
    void fillSlots(const QByteArray &record);
    // Moves the write position to the record slot that holds the ring byte offset.
    void startAt(int offset, int recordBytes);
    void clear();

    int nextOffset() const { return m_next; }
    quint16 writePosition() const { return quint16(kWriteBias + m_next); }
    const QByteArray &bytes() const { return m_bytes; }
    qint64 recordsWritten() const { return m_written; }

private:
    QByteArray m_bytes;
    int m_next = 0;
    qint64 m_written = 0;
};

} // namespace devsim
