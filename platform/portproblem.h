#pragma once

#include <QString>

// Why a serial device could not be opened, in the terms the user can act on.
struct PortProblem
{
    enum Kind { None, Missing, Forbidden, Busy, NotSerial, Other };
    Kind kind = None;
    QString path;   // the device as the program tried to open it
    QString group;  // Forbidden: the group that owns the device file
    QString holder; // Busy: the program that holds it, when it could be told ("" otherwise)
    int osError = 0;

    bool operator==(const PortProblem &) const = default;
};

// Classifies the failure osError of opening path: reads the file's owner group for a refused
// open, and the holder of the device's lock (from the kernel's lock table) or of an open
// descriptor of it for a busy one.
PortProblem diagnosePortFailure(const QString &path, int osError);

// Where the configurator assigns devices to COM numbers, as a missing port's advice names it.
QString defaultAssignHint();

// The Russian explanation of problem for the port the user knows as portName ("COM2", or the
// path itself when the user typed one); assignHint says where ports are assigned. "" for None.
QString explainPortProblem(const QString &portName, const PortProblem &problem,
                           const QString &assignHint = defaultAssignHint());

// The process that holds a lock on the file with this device and inode number in a table laid
// out as /proc/locks, 0 when none does.
int lockHolderPid(const QByteArray &lockTable, quint64 fileDevice, quint64 inode);
