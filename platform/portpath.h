#pragma once

#include <QString>

// Turns a COM port number (1-based, as the user and the device records know it) into the path
// that the serial port is opened by: the settings value "Ports/COM<n>" if set, else
// $LORVAN_PORT_DIR/COM<n> (where the device simulator publishes its lines), else the platform's
// own serial device.
QString portDevicePath(int portNumber);

// "COM<n>", as every text shown to the user names a port.
QString portDisplayName(int portNumber);
