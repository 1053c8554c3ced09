#include "platform/dbflayout.h"

namespace {

constexpr int kPrefix = 32;
constexpr int kDescriptor = 32;
constexpr char kTerminator = 0x0D;

quint32 le32(const QByteArray &b, int pos)
{
    return quint32(quint8(b[pos])) | quint32(quint8(b[pos + 1])) << 8 |
           quint32(quint8(b[pos + 2])) << 16 | quint32(quint8(b[pos + 3])) << 24;
}

int le16(const QByteArray &b, int pos)
{
    return quint8(b[pos]) | quint8(b[pos + 1]) << 8;
}

bool fail(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

} // namespace

qint64 DbfLayout::rowsByLength(qint64 fileSize) const
{
    if (recordLength <= 0 || fileSize <= headerLength)
        return 0;
    return (fileSize - headerLength) / recordLength;
}

std::optional<DbfLayout> parseDbfHeader(const QByteArray &head, qint64 fileSize, QString *why)
{
    if (head.size() < kPrefix + 1) {
        fail(why, QStringLiteral("shorter than a table header"));
        return std::nullopt;
    }
    if ((quint8(head[0]) & 0x07) != 0x03) {
        fail(why, QStringLiteral("not a dBase III table"));
        return std::nullopt;
    }
    DbfLayout layout;
    layout.headerCount = le32(head, 4);
    layout.headerLength = le16(head, 8);
    layout.recordLength = le16(head, 10);
    if (layout.headerLength < kPrefix + 1 || layout.headerLength > fileSize ||
        layout.headerLength > head.size()) {
        fail(why,
             QStringLiteral("header length %1 does not fit the file").arg(layout.headerLength));
        return std::nullopt;
    }
    if (layout.recordLength < 2) {
        fail(why, QStringLiteral("record length %1").arg(layout.recordLength));
        return std::nullopt;
    }
    int offset = 1;
    for (int pos = kPrefix; pos + kDescriptor <= layout.headerLength && head[pos] != kTerminator;
         pos += kDescriptor) {
        DbfField f;
        const QByteArray rawName = head.mid(pos, 11);
        const qsizetype nul = rawName.indexOf('\0');
        f.name = nul < 0 ? rawName : rawName.left(nul);
        f.type = head[pos + 11];
        f.width = quint8(head[pos + 16]);
        f.decimals = quint8(head[pos + 17]);
        f.offset = offset;
        if (f.width == 0) {
            fail(why, QStringLiteral("field %1 has no width").arg(QString::fromLatin1(f.name)));
            return std::nullopt;
        }
        offset += f.width;
        layout.fields.append(f);
    }
    if (layout.fields.isEmpty() || offset != layout.recordLength) {
        fail(why, QStringLiteral("fields do not add up to the record length"));
        return std::nullopt;
    }
    return layout;
}
