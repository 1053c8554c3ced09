#pragma once

#include <QList>
#include <QString>

// One serial device present on this PC, as the port assignment offers it.
struct SerialDevice
{
    // What an assignment stores: the /dev/serial/by-id/ link of a USB converter (it keeps its
    // name when the converter comes back under another number), else the device node itself.
    QString stableName;
    // The device node the name leads to now.
    QString device;
    // Maker, product and serial number as the system knows them, or the kind of port.
    QString description;
};

// The folder that holds sys/class/tty and dev/serial/by-id: $LORVAN_SERIAL_ROOT when set (tests
// point it at a tree they make), else "/".
QString serialRoot();

// The serial devices under root: every entry of dev/serial/by-id whatever it points to, then
// the ttyS ports that have a UART, the ttyUSB, ttyACM, ttyAMA and rfcomm devices that
// sys/class/tty knows and no by-id link already names. Reads nothing else.
QList<SerialDevice> listSerialDevices(const QString &root);

// The folders whose contents change when a device comes or goes.
QStringList serialDeviceFolders(const QString &root);
