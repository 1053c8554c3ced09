#include "mqtt/rowmessage.h"

#include <charconv>
#include <cmath>

namespace {

void appendNumber(QByteArray &out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[32];
    // to_chars never consults the locale, and its shortest form reads back exactly; plain
    // decimals where a person expects them (as JavaScript writes numbers), exponents beyond.
    const double magnitude = std::abs(value);
    const auto format = value == 0 || (magnitude >= 1e-6 && magnitude < 1e21)
                            ? std::chars_format::fixed
                            : std::chars_format::scientific;
    // A device's value is a 32-bit float: its shortest form as one (250.1), not the digits
    // its widening to a double happens to carry (250.10000610351562).
    const auto single = static_cast<float>(value);
    const auto result = double(single) == value
                            ? std::to_chars(text, text + sizeof text, single, format)
                            : std::to_chars(text, text + sizeof text, value, format);
    out.append(text, result.ptr - text);
}

void appendString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += "0123456789abcdef"[(c >> 4) & 0xF];
                out += "0123456789abcdef"[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

} // namespace

QByteArray mqtt::isoTime(const QDateTime &time)
{
    const int offset = time.offsetFromUtc() / 60;
    const int magnitude = std::abs(offset);
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")).toLatin1() +
           (offset < 0 ? '-' : '+') + QByteArray::number(magnitude / 60).rightJustified(2, '0') +
           ':' + QByteArray::number(magnitude % 60).rightJustified(2, '0');
}

QByteArray mqtt::rowTopic(const QString &prefix, const PolledRow &row)
{
    QString port = row.port;
    for (QChar &c : port) {
        if (c == u'/' || c == u'+' || c == u'#')
            c = u'_';
    }
    return (prefix + u'/' + port + u'/' + QString::number(row.address) + QStringLiteral("/values"))
        .toUtf8();
}

QByteArray mqtt::rowPayload(const PolledRow &row)
{
    QByteArray out = "{\"time\": ";
    if (row.time.isValid())
        out += '"' + isoTime(row.time) + '"';
    else
        out += "null";
    out += ", \"device\": ";
    appendString(out, row.device);
    out += ", \"num\": " + QByteArray::number(row.num);
    for (size_t i = 0; i < row.values.size(); ++i) {
        out += ", \"chan" + QByteArray::number(qulonglong(i + 1)) + "\": ";
        appendNumber(out, row.values[i]);
    }
    out += '}';
    return out;
}
