#include "workstation/messagelog.h"

#include "platform/cp1251.h"
#include "platform/messageservice.h"
#include "windowkit/images.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

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
    journalLine(text);
}

void MessageLog::setJournal(const QString &path, qint64 maxBytes)
{
    m_journal.close();
    m_journal.setFileName(path);
    m_journalLimit = maxBytes;
    m_journalBroken = false;
}

void MessageLog::journalLine(const QString &text)
{
    if (m_journal.fileName().isEmpty() || m_journalBroken)
        return;
    // Not one of the program's specified files: UTF-8 and LF, so that less and grep read it.
    QByteArray line = text.toUtf8();
    line.append('\n');
    // A journal that cannot be written is given up quietly: the log itself and the report at
    // close still work, and a box per exchange would stop the polling.
    const auto open = [this] {
        QDir().mkpath(QFileInfo(m_journal.fileName()).absolutePath());
        m_journalBroken = !m_journal.open(QIODevice::WriteOnly | QIODevice::Append);
        return !m_journalBroken;
    };
    if (!m_journal.isOpen() && !open())
        return;
    // Also a full journal left by an earlier run is rotated before the first line.
    if (m_journal.size() > 0 && m_journal.size() + line.size() > m_journalLimit) {
        m_journal.close();
        const QString older = m_journal.fileName() + QStringLiteral(".1");
        QFile::remove(older);
        QFile::rename(m_journal.fileName(), older);
        if (!open())
            return;
    }
    if (m_journal.write(line) != line.size() || !m_journal.flush()) {
        m_journal.close();
        m_journalBroken = true;
        return;
    }
#ifdef Q_OS_UNIX
    ::fdatasync(m_journal.handle());
#endif
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

std::optional<FileWriteError> MessageLog::writeTo(const QString &path) const
{
    QByteArray bytes;
    for (int i = 0; i < count(); ++i) {
        bytes += cp1251::encode(itemText(i));
        bytes.append("\r\n", 2);
    }
    return writeFileAtomically(path, bytes);
}

void MessageLog::mnuSaveLogClick()
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Save;
    request.filter = QStringLiteral("Файлы отчета(*.log);;All files (*.*)");
    const QString path = messages().askFileName(request);
    if (path.isEmpty())
        return;
    if (const auto failure = writeTo(path)) {
        showMessage(QStringLiteral("Ошибка записи файла ") + QDir::toNativeSeparators(path) +
                        QStringLiteral("\r\n") + failure->reason,
                    QStringLiteral("Сохранение лог-файла"), MessageIcon::Error);
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
