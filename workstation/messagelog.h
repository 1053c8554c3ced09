#pragma once

#include "platform/atomicfile.h"

#include <QComboBox>
#include <QFile>
#include <QStringList>

class QAction;
class QMenu;

// The one-line log at the bottom of the main window: a line per exchange with the device, kept
// for the whole run, with a good or failed mark.
class MessageLog : public QComboBox
{
    Q_OBJECT
public:
    explicit MessageLog(QWidget *parent = nullptr);

    // The new line becomes the shown one unless the user has the list open.
    void appendLine(const QString &text, bool failed);
    QStringList lines() const;
    bool isFailedLine(int row) const;

    // Every line followed by CR LF, in the 8-bit code page. An older file is replaced only when
    // the new one is complete; nothing on success.
    std::optional<FileWriteError> writeTo(const QString &path) const;

    // Every line appended from now on also goes to this file at once, flushed to the disk, so a
    // crash or a power loss keeps the exchanges up to that moment. When the file would grow past
    // maxBytes it becomes "<name>.1" (replacing an older one) and a new file is started.
    void setJournal(const QString &path, qint64 maxBytes = kJournalBytes);
    QString journalPath() const { return m_journal.fileName(); }
    static constexpr qint64 kJournalBytes = 4 * 1024 * 1024;

    bool isDropDownOpen() const { return m_dropDownOpen; }
    QMenu *popupMenu() const { return m_popup; }

public slots:
    // "Сохранить отчет в файл...": asks for a name and writes the log there.
    void mnuSaveLogClick();

protected:
    void showPopup() override;
    void hidePopup() override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void journalLine(const QString &text);

    QMenu *m_popup;
    QFile m_journal;
    qint64 m_journalLimit = kJournalBytes;
    bool m_journalBroken = false;
    bool m_dropDownOpen = false;
};
