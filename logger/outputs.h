#pragma once

#include "logger/loggerconfig.h"
#include "logger/rowsink.h"

#include <memory>

// The sink that publishes every row to the broker the values name. Nothing, without an error,
// when they name none; nothing, with error saying why, when one is named but cannot be used.
// Its log lines go to the service's log.
std::unique_ptr<RowSink> makeBrokerSink(const MqttConfigValues &values, QString *error);
