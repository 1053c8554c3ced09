#pragma once

#include <QStringList>

// The controls each settings window remembers per device, as "Control.Property".
namespace stored {

QStringList configProperties();
QStringList alarmProperties();
QStringList channelProperties();
QStringList loopProperties();

} // namespace stored
