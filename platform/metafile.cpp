#include "platform/metafile.h"

#include "platform/atomicfile.h"

#include <QtEndian>

namespace {

constexpr quint32 kPlaceableKey = 0x9AC6CDD7;
constexpr quint16 kSetWindowOrg = 0x020B;
constexpr quint16 kSetWindowExt = 0x020C;
constexpr quint16 kStretchDib = 0x0F43;
constexpr quint16 kEndOfFile = 0x0000;
constexpr quint32 kSourceCopy = 0x00CC0020;
constexpr int kMaxCoordinate = 32767;

class Out
{
public:
    void u16(quint16 v)
    {
        char b[2];
        qToLittleEndian(v, b);
        m_bytes.append(b, 2);
    }
    void i16(qint16 v) { u16(quint16(v)); }
    void u32(quint32 v)
    {
        char b[4];
        qToLittleEndian(v, b);
        m_bytes.append(b, 4);
    }
    void i32(qint32 v) { u32(quint32(v)); }
    void bytes(const QByteArray &b) { m_bytes.append(b); }
    QByteArray &data() { return m_bytes; }

private:
    QByteArray m_bytes;
};

// A bottom-up 24-bit bitmap with its info header, rows padded to four bytes.
QByteArray deviceIndependentBitmap(const QImage &image, int dotsPerInch)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const int rowBytes = (rgb.width() * 3 + 3) & ~3;
    const int pixelsPerMetre = qRound(dotsPerInch / 0.0254);
    Out dib;
    dib.u32(40);
    dib.i32(rgb.width());
    dib.i32(rgb.height());
    dib.u16(1);  // planes
    dib.u16(24); // bits per pixel
    dib.u32(0);  // no compression
    dib.u32(quint32(rowBytes * rgb.height()));
    dib.i32(pixelsPerMetre);
    dib.i32(pixelsPerMetre);
    dib.u32(0);
    dib.u32(0);
    QByteArray row(rowBytes, '\0');
    for (int y = rgb.height() - 1; y >= 0; --y) {
        const uchar *line = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            row[3 * x] = char(line[3 * x + 2]);
            row[3 * x + 1] = char(line[3 * x + 1]);
            row[3 * x + 2] = char(line[3 * x]);
        }
        dib.bytes(row);
    }
    return dib.data();
}

} // namespace

namespace metafile {

QByteArray placeable(const QImage &image, int dotsPerInch)
{
    if (image.isNull() || image.width() > kMaxCoordinate || image.height() > kMaxCoordinate)
        return {};
    const qint16 w = qint16(image.width());
    const qint16 h = qint16(image.height());

    Out records;
    records.u32(5);
    records.u16(kSetWindowOrg);
    records.i16(0); // y, then x
    records.i16(0);
    records.u32(5);
    records.u16(kSetWindowExt);
    records.i16(h);
    records.i16(w);
    const QByteArray dib = deviceIndependentBitmap(image, dotsPerInch);
    const quint32 stretchWords = quint32((28 + dib.size()) / 2);
    records.u32(stretchWords);
    records.u16(kStretchDib);
    records.u32(kSourceCopy);
    records.u16(0); // colours are RGB values
    records.i16(h); // source height, width, y, x
    records.i16(w);
    records.i16(0);
    records.i16(0);
    records.i16(h); // destination height, width, y, x
    records.i16(w);
    records.i16(0);
    records.i16(0);
    records.bytes(dib);
    records.u32(3);
    records.u16(kEndOfFile);

    Out file;
    file.u32(kPlaceableKey);
    file.u16(0); // handle
    file.i16(0); // bounding box: left, top, right, bottom
    file.i16(0);
    file.i16(w);
    file.i16(h);
    file.u16(quint16(dotsPerInch));
    file.u32(0);
    quint16 checksum = 0;
    for (int i = 0; i < 20; i += 2)
        checksum ^= qFromLittleEndian<quint16>(file.data().constData() + i);
    file.u16(checksum);

    constexpr int kHeaderWords = 9;
    file.u16(1); // in memory, not on disk
    file.u16(kHeaderWords);
    file.u16(0x0300);
    file.u32(quint32(kHeaderWords + records.data().size() / 2));
    file.u16(0); // no objects
    file.u32(stretchWords);
    file.u16(0);
    file.bytes(records.data());
    return file.data();
}

bool save(const QString &path, const QImage &image, QString *error)
{
    const QByteArray bytes = placeable(image);
    if (bytes.isEmpty()) {
        *error = path + QStringLiteral(": изображение не помещается в метафайл");
        return false;
    }
    const auto failure = writeFileAtomically(path, bytes);
    if (failure)
        *error = failure->message();
    return !failure;
}

} // namespace metafile
