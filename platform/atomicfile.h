#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Every file the programs save is replaced whole: written to a temporary file beside it, each
// write checked, synced, renamed over the old file and the folder synced. On any failure the
// temporary file goes and the old file stays as it was.

// Why a file could not be written: its path and the system's reason.
struct FileWriteError
{
    QString path;
    QString reason;
    // "Не удалось записать файл <path>: <reason>"
    QString message() const;
};

// The system's text for an errno value.
QString systemReason(int errorNumber);

class AtomicFile
{
public:
    explicit AtomicFile(const QString &path);
    ~AtomicFile(); // a temporary file not committed is removed
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Makes the temporary file, with the permissions of the file it replaces (or those of a
    // new file). A writer that makes files itself writes into temporaryPath() and closes it
    // before commit().
    bool open();
    QString temporaryPath() const { return m_temporary; }
    bool write(const QByteArray &bytes);
    // Renames the temporary file over the target; with keepExisting, a file that appeared at
    // the path meanwhile is kept instead and the temporary file dropped.
    bool commit(bool keepExisting = false);
    const FileWriteError &error() const { return m_error; }

private:
    bool fail(int errorNumber);
    void discard();

    QString m_path; // the file finally written: the target of a symbolic link
    QString m_temporary;
    int m_fd = -1;
    FileWriteError m_error;
};

// The whole file in one call; nothing on success.
std::optional<FileWriteError> writeFileAtomically(const QString &path, const QByteArray &bytes);
