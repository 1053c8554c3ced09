#pragma once

#include <QString>

// The COM numbers the port assignment and the settings windows offer.
constexpr int kAssignablePorts = 8;

// Turns a COM port number (1-based, as the user and the device records know it) into the path
// that the serial port is opened by: the settings value "Ports/COM<n>" if set, else
// $LORVAN_PORT_DIR/COM<n> (where the device simulator publishes its lines), else the platform's
// own serial device.
QString portDevicePath(int portNumber);

// "COM<n>", as every text shown to the user names a port.
QString portDisplayName(int portNumber);

// The number n of a name "COM<n>" (any case), 0 for any other text.
int portNumberOfName(const QString &name);

// A name the user typed: "COM<n>" resolves as portDevicePath(n), anything else is a path.
QString resolvePortName(const QString &name);

// The device assigned to COM n in the settings ("" when none: the default rule applies).
QString assignedPort(int portNumber);
// Stores path as COM n's device; an empty path removes the assignment.
void setAssignedPort(int portNumber, const QString &path);
// The COM number whose assignment is path, 0 when none is.
int portAssignedTo(const QString &path);
