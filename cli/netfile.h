#pragma once

#include <QList>
#include <QString>

// A network file for devices known to be on a line, as a scan would have found them: each
// device's identity is read over the line at its own speed, so the file holds what the devices
// report. For demonstrations and tests that want a tree without scanning.
struct DeviceOnLine
{
    int address = 0;
    int baud = 0;    // bit/s
    int periodS = 0; // the cyclic poll's period; 0 keeps a scan's default
};

// Empty on success, else why the file was not written (a device that does not answer, a file
// that cannot be written). Tables are named as a scan names them, in tableFolder. With append,
// the devices are added after those the file already holds (another line's, say).
QString writeFoundNetwork(const QString &portPath, int portNumber,
                          const QList<DeviceOnLine> &devices, const QString &tableFolder,
                          const QString &fileName, bool append = false);
