#include "cli/subcommands.h"

namespace {

QString csvText(QString text)
{
    text = text.trimmed();
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')))
        return text;
    return QLatin1Char('"') + text.replace(QLatin1String("\""), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

} // namespace

QString measurementCsvHeader()
{
    return QStringLiteral("Num,Date,Chan1,Chan2,Chan3,Chan4\n");
}

QString measurementCsvLine(const QString &num, const QString &date,
                           const std::array<std::optional<double>, 4> &channels, int decimals)
{
    QString line = csvText(num) + QLatin1Char(',') + csvText(date);
    for (const std::optional<double> &value : channels) {
        line += QLatin1Char(',');
        // QString::number ignores the locale: a full stop always.
        if (value)
            line += QString::number(*value, 'f', decimals);
    }
    return line + QLatin1Char('\n');
}
