#pragma once

#include <QByteArray>
#include <QString>

// The one conversion between the devices' and files' 8-bit Cyrillic code page and Unicode.
// Characters that the code page cannot carry become '?', never a lost or shifted byte. Every byte
// decodes to a character of its own, so decoding and encoding again gives the same bytes.
namespace cp1251 {

QString decode(const QByteArray &bytes);
QString decode(const char *bytes, qsizetype length);
QByteArray encode(const QString &text);

// Decodes a fixed-width field: stops at the first NUL, reads no further than length.
QString decodeField(const unsigned char *bytes, qsizetype length);

} // namespace cp1251
