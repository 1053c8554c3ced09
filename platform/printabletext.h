#pragma once

#include <QByteArray>
#include <QString>

// Line bytes as a person can read them in a log: CR and LF by name, other control and
// non-ASCII bytes as <XX>.
inline QString printableText(const QByteArray &text)
{
    QString out;
    for (char c : text) {
        const auto u = quint8(c);
        if (c == '\r')
            out += QStringLiteral("<CR>");
        else if (c == '\n')
            out += QStringLiteral("<LF>");
        else if (u < 0x20 || u >= 0x7F)
            out += QStringLiteral("<%1>").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        else
            out += QLatin1Char(c);
    }
    return out;
}
