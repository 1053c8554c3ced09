// The publisher as a process for the broker tests. Settings come from a file of "key = value"
// lines (url, user, password, cafile) so that no password is on the command line; each input
// line is a row, PORT ADDRESS DEVICE NUM ISO-TIME V1 V2 V3 V4 separated by tabs, or "flush MS",
// answered with "flushed 1|0 DROPPED" once all is acknowledged or the time is up. The end of
// the input stops the publisher cleanly; log lines go to standard error.

#include "mqtt/mqttpublisher.h"

#include <QFile>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    QFile file(argc == 2 ? QFile::decodeName(argv[1]) : QString());
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "usage: mqttdriver SETTINGS-FILE < ROWS\n");
        return 2;
    }
    MqttConfigValues values;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QByteArray key = line.left(line.indexOf('=')).trimmed();
        const QString value = QString::fromUtf8(line.mid(line.indexOf('=') + 1).trimmed());
        for (auto [name, field] : {std::pair{"url", &values.url},
                                   {"user", &values.user},
                                   {"password", &values.password},
                                   {"cafile", &values.caFile}})
            if (key == name)
                *field = value;
    }
    QString why;
    const std::optional<MqttSettings> settings = mqtt::parseSettings(values, &why);
    if (!settings) {
        std::fprintf(stderr, "%s\n", why.toUtf8().constData());
        return 2;
    }
    MqttPublisher publisher(*settings, [](const QString &line) {
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
        std::fflush(stderr);
    });
    for (std::string text; std::getline(std::cin, text);) {
        const QStringList f = QString::fromStdString(text).split(u'\t');
        if (f.size() == 1 && f[0].startsWith(u"flush ")) {
            const bool done = publisher.flush(std::chrono::milliseconds(f[0].mid(6).toInt()));
            std::printf("flushed %d %lld\n", done ? 1 : 0, qlonglong(publisher.droppedRows()));
            std::fflush(stdout);
            continue;
        }
        PolledRow row;
        bool ok = f.size() == 9;
        if (ok) {
            row = {f[0], f[1].toInt(&ok), f[2], f[3].toLongLong(),
                   QDateTime::fromString(f[4], Qt::ISODateWithMs)};
            for (int i = 0; i < 4 && ok; ++i)
                row.values[i] = f[5 + i].toDouble(&ok);
        }
        if (!ok || !row.time.isValid()) {
            std::fprintf(stderr, "mqttdriver: not a row: %s\n", text.c_str());
            return 2;
        }
        publisher.rowWritten(row);
    }
    publisher.stop();
    return 0;
}
