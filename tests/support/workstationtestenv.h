#pragma once

#include "platform/messageservice.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <functional>

// Points settings, data, the runtime folder and the serial lines of a test process at a
// temporary folder, so that no test touches the user's own files.
inline void isolateWorkstationTest(const QTemporaryDir &dir)
{
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", dir.filePath("share").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", dir.filePath("cache").toLocal8Bit());
    qputenv("LORVAN_HOME", dir.filePath("data").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dir.filePath("run").toLocal8Bit());
    qputenv("TMPDIR", dir.filePath("tmp").toLocal8Bit());
    qputenv("LORVAN_PORT_DIR", dir.filePath("ports").toLocal8Bit());
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const char *sub : {"config", "share", "data", "run", "tmp", "ports"})
        QDir(dir.path()).mkpath(QLatin1String(sub));
    QFile::setPermissions(dir.filePath("run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

// Records every message and also lets a test look at the program's state at that moment.
class WatchingMessages : public ScopedRecordingMessages
{
public:
    std::function<void(const MessageRequest &)> onShow;
    MessageButton showMessage(const MessageRequest &request) override
    {
        if (onShow)
            onShow(request);
        return ScopedRecordingMessages::showMessage(request);
    }
};
