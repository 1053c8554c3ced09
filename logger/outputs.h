#pragma once

#include "logger/loggerconfig.h"
#include "logger/rowsink.h"

#include <memory>

// The sink that publishes every row to the broker the settings name. Nothing, without an error,
// when they name none; nothing, with error saying why, when one is named but cannot be used.
std::unique_ptr<RowSink> makeBrokerSink(const MqttSettings &settings, QString *error);
