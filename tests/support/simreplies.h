#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <array>
#include <cstring>

// What the simulated plant put on the line, from its log: the requests it received and the
// live values it answered with, so that tests can hold the configurator's tables against them.
class SimTraffic
{
public:
    struct Reply
    {
        QDateTime when;
        std::array<float, 4> values;
    };

    void append(const QString &line)
    {
        QMutexLocker lock(&m_lock);
        m_lines.append(line);
    }
    void clear()
    {
        QMutexLocker lock(&m_lock);
        m_lines.clear();
    }

    // Times of the requests with this function, for one address or (-1) for all.
    QList<QDateTime> requests(int function, int address = -1)
    {
        QList<QDateTime> times;
        for (const auto &[when, bytes] : frames(QStringLiteral(" <- :"))) {
            if (bytes.size() >= 2 && bytes[1] == function && (address < 0 || bytes[0] == address))
                times.append(when);
        }
        return times;
    }

    // Well-formed replies to a live-value read (function 4, eight registers) of one address.
    QList<Reply> liveReplies(int address)
    {
        QList<Reply> replies;
        for (const auto &[when, bytes] : frames(QStringLiteral(" -> :"))) {
            if (bytes.size() != 3 + 16 + 1 || bytes[0] != address || bytes[1] != 4 ||
                bytes[2] != 16)
                continue;
            quint8 sum = 0;
            for (int i = 0; i < bytes.size(); ++i)
                sum = quint8(sum + quint8(bytes[i]));
            if (sum != 0) // the LRC makes the sum of all bytes zero
                continue;
            Reply r{when, {}};
            for (int c = 0; c < 4; ++c) {
                // Register n's first wire byte is the image's low byte: the floats read in wire
                // order as little-endian numbers.
                const quint32 bits = quint32(quint8(bytes[3 + 4 * c])) |
                                     quint32(quint8(bytes[4 + 4 * c])) << 8 |
                                     quint32(quint8(bytes[5 + 4 * c])) << 16 |
                                     quint32(quint8(bytes[6 + 4 * c])) << 24;
                std::memcpy(&r.values[c], &bits, 4);
            }
            replies.append(r);
        }
        return replies;
    }

private:
    QList<QPair<QDateTime, QByteArray>> frames(const QString &marker)
    {
        QMutexLocker lock(&m_lock);
        QList<QPair<QDateTime, QByteArray>> out;
        for (const QString &line : std::as_const(m_lines)) {
            const int at = line.indexOf(marker);
            if (at < 0)
                continue;
            QString hex = line.mid(at + marker.size());
            const int end = hex.indexOf(QLatin1Char('<'));
            if (end < 0 || hex.mid(end, 8) != QLatin1String("<CR><LF>"))
                continue; // a reply cut short never counts
            hex.truncate(end);
            const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
            if (bytes.size() * 2 != hex.size())
                continue;
            out.append(
                {QDateTime::fromString(line.section(QLatin1Char(' '), 0, 0), Qt::ISODateWithMs),
                 bytes});
        }
        return out;
    }

    QMutex m_lock;
    QStringList m_lines;
};
