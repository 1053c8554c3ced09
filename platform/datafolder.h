#pragma once

#include <QString>

// Where tables and logs live: $LORVAN_HOME if set, else the user's application data folder.
// An installed program's own folder is not writable, so nothing is written next to the binary.
QString dataFolder();

// Creates the data folder if needed and proves it writable; on failure errorText says why.
bool ensureDataFolder(QString *errorText = nullptr);

QString dataFilePath(const QString &fileName);
