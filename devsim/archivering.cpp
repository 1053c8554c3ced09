#include "devsim/archivering.h"

#include <bit>

namespace devsim {

int archiveRecordRegisters(quint8 parameterMask)
{
    return 4 + std::popcount(unsigned(parameterMask & 0x3F));
}

QByteArray encodeArchiveRecord(quint8 mark, const QDateTime &time, const QList<qint16> &values)
{
    const QDate d = time.date();
    const QTime t = time.time();
    QByteArray r;
    r.reserve(8 + 2 * values.size());
    // Register 0: the record mark in bits 14-15.
    r.append(char(0));
    r.append(char((mark & 3) << 6));
    // Register 1: day, month; register 2: year, hour; register 3: minute, second.
    r.append(char(d.day()));
    r.append(char(d.month()));
    r.append(char(d.year() % 100));
    r.append(char(t.hour()));
    r.append(char(t.minute()));
    r.append(char(t.second()));
    for (qint16 v : values) {
        const quint16 u = quint16(v);
        r.append(char(u & 0xFF));
        r.append(char(u >> 8));
    }
    return r;
}

ArchiveRing::ArchiveRing() : m_bytes(kRingBytes, '\0') {}

void ArchiveRing::append(const QByteArray &record)
{
    if (record.isEmpty() || record.size() > kRingBytes)
        return;
    if (m_next + record.size() > kRingBytes)
        m_next = 0;
    m_bytes.replace(m_next, record.size(), record);
    m_next += int(record.size());
    // The write position always names where the next record goes, so it wraps as soon as a
    // record of this length no longer fits.
    if (m_next + record.size() > kRingBytes)
        m_next = 0;
    ++m_written;
}

void ArchiveRing::fillSlots(const QByteArray &record)
{
    if (record.isEmpty() || record.size() > kRingBytes)
        return;
    for (int at = 0; at + record.size() <= kRingBytes; at += int(record.size()))
        m_bytes.replace(at, record.size(), record);
    m_next = 0;
}

void ArchiveRing::startAt(int offset, int recordBytes)
{
    if (recordBytes <= 0 || recordBytes > kRingBytes)
        return;
    const int slotCount = kRingBytes / recordBytes;
    m_next = (qBound(0, offset, kRingBytes - 1) / recordBytes % slotCount) * recordBytes;
}

void ArchiveRing::clear()
{
    m_bytes.fill('\0');
    m_next = 0;
    m_written = 0;
}

} // namespace devsim
