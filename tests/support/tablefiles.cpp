#include "support/tablefiles.h"

#include <QFile>
#include <QProcess>

bool repeatFirstRow(const QString &path, int copies)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray head = file.read(12);
    if (head.size() < 12)
        return false;
    const int headerLength = quint8(head[8]) | quint8(head[9]) << 8;
    const int recordLength = quint8(head[10]) | quint8(head[11]) << 8;
    file.seek(headerLength);
    const QByteArray record = file.read(recordLength);
    if (record.size() != recordLength)
        return false;
    QByteArray body;
    body.reserve(qsizetype(copies) * recordLength);
    for (int i = 0; i < copies; ++i)
        body += record;
    file.seek(headerLength + recordLength);
    return file.write(body) == body.size() &&
           file.resize(headerLength + recordLength + body.size());
}

QStringList readWithDbfread(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral(LORVAN_PYTHON),
                 {QStringLiteral("-c"),
                  QStringLiteral(
                      "import sys, dbfread\n"
                      "t = dbfread.DBF(sys.argv[1], encoding='cp1251')\n"
                      "print(';'.join('%s,%s,%d,%d' % (f.name, f.type, f.length, f.decimal_count)"
                      " for f in t.fields))\n"
                      "for r in t:\n"
                      "    print(';'.join('' if v is None else ('%.4f' % v if isinstance(v, float)"
                      " else str(v).strip()) for v in r.values()))\n"),
                  path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        return {QStringLiteral("dbfread failed: ") +
                QString::fromLocal8Bit(python.readAllStandardError())};
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}
