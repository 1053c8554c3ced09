#pragma once

#include "logger/rowsink.h"

#include <QByteArray>
#include <QString>

// A written row as an MQTT message: its topic and its JSON text.
namespace mqtt {

// PREFIX/<port>/<address>/values; characters of the port name that MQTT reserves in topic
// levels ('/', '+', '#') become '_'.
QByteArray rowTopic(const QString &prefix, const PolledRow &row);

// {"time": "2026-12-10T10:15:32.120+03:00", "device": "...", "num": 17, "chan1": 250.1, ...}
// in that key order, UTF-8; numbers in the shortest form that reads back to the same double,
// plain decimals from 1e-6 up to 1e21 and exponents beyond, whatever the locale; a value that is
// not finite, and a time that is not valid, as null.
QByteArray rowPayload(const PolledRow &row);

// The row's time as ISO 8601 with milliseconds and the time's own offset ("+03:00", never "Z").
QByteArray isoTime(const QDateTime &time);

} // namespace mqtt
