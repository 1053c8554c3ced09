#include "support/commalocale.h"

#include <QDir>
#include <QLocale>
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

// The C library's compiled LC_NUMERIC as the glibc loader reads it, in the machine's byte order:
// magic word, item count, the items' offsets, the items (decimal point, thousands separator,
// grouping, the two separators as wide characters on word boundaries, codeset).
QByteArray russianNumericCategory()
{
    const auto word = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    const QByteArray items[] = {
        QByteArray(",", 2), QByteArray("\xC2\xA0", 3), QByteArray("\x03\x03", 3), word(u','),
        word(0xA0),         QByteArray("UTF-8", 6)};
    const int start = 8 + 4 * int(std::size(items));
    QByteArray head = word(0x20031115u ^ unsigned(LC_NUMERIC)) + word(quint32(std::size(items)));
    QByteArray data;
    for (const QByteArray &item : items) {
        while (item.size() == 4 && (start + data.size()) % 4 != 0)
            data.append('\0');
        head += word(quint32(start + data.size()));
        data += item;
    }
    return head + data;
}

bool loadBuiltLocale(QString *why)
{
    static QTemporaryDir folder;
    QFile file(folder.filePath(QString::fromLatin1(kName) + QStringLiteral("/LC_NUMERIC")));
    const QByteArray category = russianNumericCategory();
    if (!QDir(folder.path()).mkdir(QString::fromLatin1(kName)) ||
        !file.open(QIODevice::WriteOnly) || file.write(category) != category.size()) {
        *why = QStringLiteral("cannot write a locale into ") + folder.path();
        return false;
    }
    file.close();
    qputenv("LOCPATH", QFile::encodeName(folder.path()));
    const bool loaded = std::setlocale(LC_NUMERIC, kName) != nullptr;
    qunsetenv("LOCPATH"); // the category stays loaded; nothing else is to come from there
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
