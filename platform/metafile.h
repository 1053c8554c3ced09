#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// A picture as a Windows metafile with the placeable header (not the enhanced format), for
// programs that take only that kind: the image travels as one stretched device-independent
// bitmap, so the file shows exactly what the screen showed.
namespace metafile {

// Nothing for a null image or one wider or higher than the format's 16-bit coordinates.
QByteArray placeable(const QImage &image, int dotsPerInch = 96);
// False with the path and the reason in error when the file cannot be written; an older file
// stays as it was then.
bool save(const QString &path, const QImage &image, QString *error);

} // namespace metafile
