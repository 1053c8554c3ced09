#include "support/commalocale.h"

#include <QDir>
#include <QLocale>
#include <QSaveFile>
#include <QTemporaryDir>

#include <clocale>
#include <cstdio>
#include <iterator>

namespace {

const char *const kName = "ru_RU.UTF-8";

bool printsDecimalComma()
{
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    return QByteArray(text) == "1,5";
}

// The C library's compiled LC_NUMERIC: magic word, item count, the items' offsets, the items
// (decimal point, thousands separator, grouping, the two separators as wide characters on word
// boundaries, codeset), as the glibc loader reads it.
QByteArray russianNumericCategory()
{
    const auto word = [](quint32 v) {
        return QByteArray(reinterpret_cast<const char *>(&v), 4); // the machine's byte order
    };
    const struct
    {
        QByteArray bytes;
        bool wordAligned;
    } items[] = {{QByteArray(",", 2), false},
                 {QByteArray("\xC2\xA0", 3), false},
                 {QByteArray("\x03\x03", 3), false},
                 {word(u','), true},
                 {word(0xA0), true},
                 {QByteArray("UTF-8", 6), false}};
    const int count = int(std::size(items));
    const int start = 8 + 4 * count;
    QByteArray head = word(0x20031115u ^ unsigned(LC_NUMERIC)) + word(quint32(count));
    QByteArray data;
    for (const auto &item : items) {
        while (item.wordAligned && (start + data.size()) % 4 != 0)
            data.append('\0');
        head += word(quint32(start + data.size()));
        data += item.bytes;
    }
    return head + data;
}

bool loadBuiltLocale(QString *why)
{
    static QTemporaryDir folder;
    const QString dir = folder.filePath(QString::fromLatin1(kName));
    QSaveFile file(dir + QStringLiteral("/LC_NUMERIC"));
    if (!folder.isValid() || !QDir().mkpath(dir) || !file.open(QIODevice::WriteOnly) ||
        file.write(russianNumericCategory()) < 0 || !file.commit()) {
        *why = QStringLiteral("cannot write the locale into ") + folder.path();
        return false;
    }
    const QByteArray before = qgetenv("LOCPATH");
    qputenv("LOCPATH", QFile::encodeName(folder.path()));
    const bool loaded = std::setlocale(LC_NUMERIC, kName) != nullptr;
    if (before.isNull())
        qunsetenv("LOCPATH");
    else
        qputenv("LOCPATH", before);
    if (!loaded)
        *why = QStringLiteral("the C library refuses the locale built in ") + folder.path();
    return loaded;
}

} // namespace

QString useCommaDecimalLocale(QString *why)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    if (!(std::setlocale(LC_NUMERIC, kName) && printsDecimalComma()) && !loadBuiltLocale(why))
        return {};
    if (!printsDecimalComma()) {
        *why = QStringLiteral("printf writes no decimal comma under ") + QString::fromLatin1(kName);
        return {};
    }
    return QString::fromLatin1(std::setlocale(LC_NUMERIC, nullptr));
}
