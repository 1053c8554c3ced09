// The publisher as a process for the broker tests: settings from a file (so that no password is
// on the command line), rows from standard input, log lines on standard error.
//
// Settings file: "key = value" lines with the keys url, user, password, cafile.
// Input lines: a row as
// PORT<TAB>ADDRESS<TAB>DEVICE<TAB>NUM<TAB>ISO-TIME<TAB>V1<TAB>V2<TAB>V3<TAB>V4
// ("nan" and "inf" allowed), or "flush MS", answered on standard output with "flushed 1" once
// everything handed over is acknowledged, "flushed 0" when the time ran out, and the number of
// rows dropped so far. The end of input stops the publisher cleanly.

#include "mqtt/mqttpublisher.h"

#include <QFile>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

std::optional<MqttSettings> readSettings(const char *path, QString *why)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return std::nullopt;
    }
    MqttConfigValues values;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QString value = QString::fromUtf8(line.mid(eq + 1).trimmed());
        if (key == "url")
            values.url = value;
        else if (key == "user")
            values.user = value;
        else if (key == "password")
            values.password = value;
        else if (key == "cafile")
            values.caFile = value;
    }
    return mqtt::parseSettings(values, why);
}

std::optional<PolledRow> parseRow(const QString &line)
{
    const QStringList f = line.split(u'\t');
    if (f.size() != 9)
        return std::nullopt;
    PolledRow row;
    bool ok = true;
    row.port = f[0];
    row.address = f[1].toInt(&ok);
    row.device = f[2];
    row.num = ok ? f[3].toLongLong(&ok) : 0;
    row.time = QDateTime::fromString(f[4], Qt::ISODateWithMs);
    for (int i = 0; i < 4 && ok; ++i)
        row.values[i] = f[5 + i].toDouble(&ok);
    if (!ok || !row.time.isValid())
        return std::nullopt;
    return row;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mqttdriver SETTINGS-FILE < ROWS\n");
        return 2;
    }
    QString why;
    const std::optional<MqttSettings> settings = readSettings(argv[1], &why);
    if (!settings) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 2;
    }
    MqttPublisher publisher(*settings, [](const QString &line) {
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
        std::fflush(stderr);
    });
    std::string text;
    while (std::getline(std::cin, text)) {
        const QString line = QString::fromStdString(text);
        if (line.startsWith(u"flush ")) {
            const bool done = publisher.flush(std::chrono::milliseconds(line.mid(6).toInt()));
            std::printf("flushed %d %lld\n", done ? 1 : 0, qlonglong(publisher.droppedRows()));
            std::fflush(stdout);
        } else if (const std::optional<PolledRow> row = parseRow(line)) {
            publisher.rowWritten(*row);
        } else {
            std::fprintf(stderr, "mqttdriver: not a row: %s\n", text.c_str());
            return 2;
        }
    }
    publisher.stop();
    return 0;
}
