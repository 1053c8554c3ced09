#include "support/exportfiles.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

QImage renderWithLibwmf(const QString &path, QString *why)
{
    const QString converter = QStandardPaths::findExecutable(QStringLiteral("wmf2gd"));
    if (converter.isEmpty()) {
        *why = QStringLiteral("wmf2gd missing (package libwmf-bin)");
        return {};
    }
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("out.png"));
    QProcess run;
    run.start(converter,
              {QStringLiteral("-t"), QStringLiteral("png"), QStringLiteral("-o"), png, path});
    if (!run.waitForFinished(60000) || run.exitCode() != 0) {
        *why =
            QStringLiteral("wmf2gd failed: ") + QString::fromLocal8Bit(run.readAllStandardError());
        return {};
    }
    QImage image(png);
    if (image.isNull())
        *why = QStringLiteral("wmf2gd wrote no picture");
    return image;
}

QStringList readWithOpenpyxl(const QString &path)
{
    QProcess python;
    python.start(
        QStringLiteral(LORVAN_PYTHON),
        {QStringLiteral("-c"),
         QStringLiteral("import sys, openpyxl\n"
                        // A file object: by name openpyxl judges the content by the extension.
                        "b = openpyxl.load_workbook(open(sys.argv[1], 'rb'))\n"
                        "print(';'.join(b.sheetnames))\n"
                        "s = b.worksheets[0]\n"
                        "print('%d x %d' % (s.max_row, s.max_column))\n"
                        "for r in s.iter_rows(values_only=True):\n"
                        "    print(';'.join('' if v is None else str(v) for v in r))\n"),
         path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        return {QStringLiteral("openpyxl failed: ") +
                QString::fromLocal8Bit(python.readAllStandardError())};
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}
