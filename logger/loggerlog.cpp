#include "logger/loggerlog.h"

#include <QMutex>

#include <cstdio>

void logLine(const QString &line)
{
    static QMutex mutex;
    const QByteArray text = line.toUtf8() + '\n';
    QMutexLocker lock(&mutex);
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}
