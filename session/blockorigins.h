#pragma once

#include "link/modbuslink.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <utility>

// A device as the link reaches it: its port number and address.
struct DeviceKey
{
    int port = 0;
    int address = 0;
    bool isValid() const { return port > 0; }
    friend bool operator==(const DeviceKey &, const DeviceKey &) = default;
};

// Where the bytes of the holding image came from. The image is one for all devices and all
// windows, so a block composed for a write carries whatever the image holds beside the fields a
// window edits; those bytes must be the selected device's own. Two records:
// - per register, the device whose registers the image now holds (a read or a write that
//   succeeded); a transfer that failed part way leaves no device behind;
// - per settings window, which device each block it read into its controls came from, so that a
//   window never writes controls it has not read from the device it writes to.
class BlockOrigins
{
public:
    static constexpr int kRegisters = RegisterImages::kHoldingBytes / 2;

    void deviceHolds(DeviceKey device, RegisterSpan span);
    void forget(RegisterSpan span);
    // Every register of the byte range holds what device has.
    bool isFrom(DeviceKey device, std::uint16_t bytePosition, std::uint16_t byteLength) const;

    void windowRead(const QString &window, std::uint16_t bytePosition, std::uint16_t byteLength,
                    DeviceKey device);
    bool windowHasRead(const QString &window, std::uint16_t bytePosition, std::uint16_t byteLength,
                       DeviceKey device) const;
    // The window's controls of the block no longer hold what any device has (a read of them
    // failed part way). A device with no block left has not been read by the window.
    void windowForget(const QString &window, std::uint16_t bytePosition, std::uint16_t byteLength);

    // A read sequence of the window ended well at that time; when the window last did so from
    // the device (invalid when never).
    void windowReadDone(const QString &window, DeviceKey device, const QDateTime &at);
    QDateTime windowReadTime(const QString &window, DeviceKey device) const;

    // A device now answers under another key (its address was changed): what was its stays its.
    void rekey(DeviceKey from, DeviceKey to);
    void clear();

private:
    std::array<DeviceKey, kRegisters> m_registers{};
    QHash<QString, std::map<std::pair<std::uint16_t, std::uint16_t>, DeviceKey>> m_windows;
    QHash<QString, std::map<std::pair<int, int>, QDateTime>> m_readTimes;
};
