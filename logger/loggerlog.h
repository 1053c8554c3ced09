#pragma once

#include <QString>

// One line to standard error (the journal, under systemd), whole even when several lines'
// threads log at once.
void logLine(const QString &line);
