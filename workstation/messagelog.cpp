#include "workstation/messagelog.h"

#include "platform/cp1251.h"
#include "platform/messageservice.h"
#include "workstation/images.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QSaveFile>

namespace {
constexpr int kFailedRole = Qt::UserRole + 1;
}

MessageLog::MessageLog(QWidget *parent) : QComboBox(parent), m_popup(new QMenu(this))
{
    setObjectName(QStringLiteral("ComboLog"));
    setToolTip(QStringLiteral("Строка сообщений программы"));
    setMaxVisibleItems(8);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(20);
    QAction *save = m_popup->addAction(QStringLiteral("Сохранить отчет в файл..."));
    save->setObjectName(QStringLiteral("mnuSaveLog"));
    connect(save, &QAction::triggered, this, &MessageLog::mnuSaveLogClick);
}

void MessageLog::appendLine(const QString &text, bool failed)
{
    addItem(logIcon(failed), text);
    setItemData(count() - 1, failed, kFailedRole);
    if (!m_dropDownOpen)
        setCurrentIndex(count() - 1);
    update();
}

QStringList MessageLog::lines() const
{
    QStringList result;
    result.reserve(count());
    for (int i = 0; i < count(); ++i)
        result.append(itemText(i));
    return result;
}

bool MessageLog::isFailedLine(int row) const
{
    return itemData(row, kFailedRole).toBool();
}

bool MessageLog::writeTo(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    for (int i = 0; i < count(); ++i) {
        file.write(cp1251::encode(itemText(i)));
        file.write("\r\n", 2);
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

void MessageLog::mnuSaveLogClick()
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Save;
    request.filter = QStringLiteral("Файлы отчета(*.log);;All files (*.*)");
    const QString path = messages().askFileName(request);
    if (path.isEmpty())
        return;
    if (!writeTo(path)) {
        showMessage(QStringLiteral("Ошибка записи файла"), QStringLiteral("Сохранение лог-файла"),
                    MessageIcon::Error);
    }
}

void MessageLog::showPopup()
{
    m_dropDownOpen = true;
    QComboBox::showPopup();
}

void MessageLog::hidePopup()
{
    QComboBox::hidePopup();
    m_dropDownOpen = false;
}

void MessageLog::contextMenuEvent(QContextMenuEvent *event)
{
    m_popup->popup(event->globalPos());
    event->accept();
}
