#include "workstation/exportcommands.h"

#include "platform/atomicfile.h"
#include "platform/measurementtable.h"
#include "platform/messageservice.h"
#include "platform/metafile.h"
#include "platform/workbookexport.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QWidget>

#include <stdexcept>

namespace {

// Asked before an existing file is replaced; true when the user agrees or there is none.
bool mayReplace(const QString &name, const QString &caption)
{
    if (!QFileInfo::exists(name))
        return true;
    return showMessage(QStringLiteral("Файл ") + name + QStringLiteral(" существует") +
                           QStringLiteral("\r\nПерезаписать его? "),
                       caption, MessageIcon::Information,
                       int(MessageButton::Yes) | int(MessageButton::No)) == MessageButton::Yes;
}

QString askSaveName(const QString &filter)
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Save;
    request.filter = filter;
    return messages().askFileName(request);
}

[[noreturn]] void raise(const QString &text)
{
    throw std::runtime_error(text.toStdString());
}

} // namespace

ChartFileFormat chartFileFormat(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix();
    if (suffix == QLatin1StringView("bmp"))
        return ChartFileFormat::Bitmap;
    if (suffix == QLatin1StringView("wmf"))
        return ChartFileFormat::Metafile;
    return ChartFileFormat::None;
}

void ExportChartClick(QWidget *chart)
{
    const QString name =
        askSaveName(QStringLiteral("Графические файлы (*.wmf);;Графические файлы (*.bmp)"));
    if (name.isEmpty() || !mayReplace(name, QStringLiteral("Сохранение графика")))
        return;
    const ChartFileFormat format = chartFileFormat(name);
    if (format == ChartFileFormat::None)
        return;
    const QImage picture = chart->grab().toImage();
    QString error;
    if (format == ChartFileFormat::Metafile) {
        if (!metafile::save(name, picture, &error))
            raise(error);
        return;
    }
    // Encoded in memory first: the image writer cannot tell why a file write failed.
    QBuffer bitmap;
    bitmap.open(QIODevice::WriteOnly);
    QImageWriter writer(&bitmap, "bmp");
    if (!writer.write(picture))
        raise(FileWriteError{name, writer.errorString()}.message());
    if (const auto failure = writeFileAtomically(name, bitmap.data()))
        raise(failure->message());
}

bool Excel1Click(MeasurementTable &table)
{
    const QString caption = QStringLiteral("Экспорт таблицы");
    if (!table.isOpen()) {
        showMessage(QStringLiteral("Нет доступа к таблице."), caption, MessageIcon::Exclamation);
        return false;
    }
    const QString name = askSaveName(QStringLiteral("Файлы таблиц (*.xls);;Файлы Word (*.doc)"));
    if (name.isEmpty() || !mayReplace(name, caption))
        return false;
    // The table may have grown (or been closed) while the dialogs were open.
    if (!table.isOpen() || table.refresh() == 0) {
        showMessage(QStringLiteral("Архив данных пуст."), QString(), MessageIcon::None);
        return false;
    }
    QString error;
    if (!workbook::exportTable(table, name, &error))
        raise(error);
    return true;
}
