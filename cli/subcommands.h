#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// The sub-commands of lorvan-cli. Each takes its arguments after its name, writes its result to
// standard output, returns the exit status and throws CliFailure for what stops it.
int runScan(const QStringList &arguments);
int runIdentity(const QStringList &arguments);
int runPoll(const QStringList &arguments);
int runTable(const QStringList &arguments);
int runNetfile(const QStringList &arguments);
int runPrograms(const QStringList &arguments);
int runSnapshot(const QStringList &arguments);
int runCompare(const QStringList &arguments);
int runRestore(const QStringList &arguments);
int runMonitor(const QStringList &arguments);
int runPorts(const QStringList &arguments);

// One measurement row as a CSV line under the header "Num,Date,Chan1,Chan2,Chan3,Chan4": a full
// stop for the decimal separator whatever the locale, a blank channel left empty, and text
// fields quoted when they hold a comma or a quote.
QString measurementCsvHeader();
QString measurementCsvLine(const QString &num, const QString &date,
                           const std::array<std::optional<double>, 4> &channels, int decimals);
