#pragma once

#include <QList>
#include <QString>

#include <sys/resource.h>

// Makes writes into one folder fail as on a full disk. Tmpfs: a small tmpfs mounted on the folder
// and filled up, so that writes fail with ENOSPC. SizeLimit needs no privileges and runs
// everywhere: RLIMIT_FSIZE with SIGXFSZ ignored, so that a write past the limit fails with EFBIG;
// it holds for every file of the process, so fill only around the write under test.
class FullDisk
{
public:
    enum Kind { SizeLimit, Tmpfs };
    // SizeLimit always; Tmpfs where this process may mount one (it says so once where not).
    static QList<Kind> kinds();
    static QString name(Kind kind) { return kind == Tmpfs ? "full tmpfs" : "size limit"; }

    FullDisk(Kind kind, const QString &folder); // makes the folder, mounts the tmpfs on it
    ~FullDisk();
    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

    // SizeLimit: writes from this file offset on fail.
    void fill(qint64 limit = 1);
    void release();
    // The system's text for the failure the writes meet.
    QString reason() const;

private:
    Kind m_kind;
    QString m_folder;
    bool m_mounted = false;
    bool m_filled = false;
    rlimit m_limit{};
};
