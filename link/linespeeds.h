#pragma once

#include <array>
#include <cstddef>

enum class Baudrate { br1200, br2400, br4800, br9600, br19200, br38400, br57600, br115200 };

// Every line speed the programs know, slowest first: the port setting, bits per second, the
// text the windows list, how long a scan waits for a reply at that speed (ms), and the speed
// code a device keeps for it (-1: no device runs at that speed).
struct LineSpeed
{
    Baudrate rate;
    int bitsPerSecond;
    const char *text;
    int scanResponseWait;
    int deviceCode;
};

inline constexpr std::array<LineSpeed, 8> kLineSpeeds{{
    {Baudrate::br1200, 1200, "1200", 100, -1},
    {Baudrate::br2400, 2400, "2400", 70, -1},
    {Baudrate::br4800, 4800, "4800", 60, -1},
    {Baudrate::br9600, 9600, "9600", 50, 0},
    {Baudrate::br19200, 19200, "19200", 40, 1},
    {Baudrate::br38400, 38400, "38400", 30, 2},
    {Baudrate::br57600, 57600, "57600", 20, 3},
    {Baudrate::br115200, 115200, "115200", 10, 4},
}};

constexpr const LineSpeed &lineSpeed(Baudrate rate)
{
    return kLineSpeeds[std::size_t(rate)];
}

// The speed of a device's speed code, 0 (9600) … 4 (115200); nullptr for any other code.
constexpr const LineSpeed *lineSpeedForCode(int code)
{
    for (const LineSpeed &s : kLineSpeeds) {
        if (code >= 0 && s.deviceCode == code)
            return &s;
    }
    return nullptr;
}
