#pragma once

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <span>

// What the workstation keeps about one device of the tree. The same 312 bytes are stored in the
// network file, so the record is kept as its bytes and every field is read and written in place:
// a record loaded from a file is written back byte for byte, insignificant bytes included.
class DeviceNode
{
public:
    static constexpr int kSize = 312;

    static constexpr int kNextPollTime = 0; // u32, tick count
    static constexpr int kDeviceNumber = 4; // i32
    static constexpr int kPortNumber = 8;   // i32
    static constexpr int kPollPeriod = 12;  // i32, seconds
    static constexpr int kTablePath = 16;   // length byte + up to 255 characters
    static constexpr int kTablePathSize = 256;
    static constexpr int kChannelColour = 272; // four u32 colours 0x00BBGGRR
    static constexpr int kChannelShown = 288;  // four 0/1 bytes
    static constexpr int kCyclicPoll = 292;
    static constexpr int kGraphRefresh = 293;
    static constexpr int kIdentity = 294; // 18 bytes, the device's registers 0..8

    using Bytes = std::array<std::uint8_t, kSize>;

    DeviceNode() = default; // zero-filled
    explicit DeviceNode(const Bytes &bytes) : m_bytes(bytes) {}
    // Nothing when fewer than 312 bytes are given.
    static bool fromBytes(std::span<const std::uint8_t> bytes, DeviceNode *node);

    // A device just found on a line: the defaults every new device starts with.
    static DeviceNode found(int deviceNumber, int portNumber,
                            std::span<const std::uint8_t> identity, const QString &tablePath);

    const Bytes &bytes() const { return m_bytes; }
    Bytes &bytes() { return m_bytes; }

    std::uint32_t nextPollTime() const;
    void setNextPollTime(std::uint32_t tick);
    std::int32_t deviceNumber() const;
    void setDeviceNumber(std::int32_t n);
    std::int32_t portNumber() const;
    void setPortNumber(std::int32_t n);
    std::int32_t pollPeriod() const;
    void setPollPeriod(std::int32_t seconds);

    // The stored length byte is trusted only up to the field's size.
    QString tablePath() const;
    // Cut to 255 characters of the 8-bit code page; the rest of the field is cleared.
    void setTablePath(const QString &path);

    // Channels are 1..4.
    std::uint32_t channelColour(int channel) const;
    void setChannelColour(int channel, std::uint32_t colour);
    bool channelShown(int channel) const;
    void setChannelShown(int channel, bool shown);
    bool cyclicPoll() const;
    void setCyclicPoll(bool on);
    bool graphRefresh() const;
    void setGraphRefresh(bool on);

    std::span<const std::uint8_t, 18> identity() const;
    std::span<std::uint8_t, 18> identity();
    std::uint8_t address() const;   // identity byte 6
    std::uint8_t speedCode() const; // identity byte 7
    std::uint8_t variant() const;   // identity byte 11

    friend bool operator==(const DeviceNode &, const DeviceNode &) = default;

private:
    Bytes m_bytes{};
};

// The record of a second-level tree entry: which settings window it opens and whether the user
// has opened it.
enum class FeatureCode : std::uint8_t {
    Config = 1,
    Channels = 2,
    Loops = 3,
    Alarms = 4,
    Archive = 5,
    Programs = 6,
};

struct FeatureNode
{
    static constexpr int kSize = 2;
    std::uint8_t code = 0;
    std::uint8_t opened = 0;

    friend bool operator==(const FeatureNode &, const FeatureNode &) = default;
};

struct FeatureEntry
{
    QString text;
    FeatureCode code;
    int image;
};

// The entries a device gets below its node, in tree order, decided by its variant byte.
QList<FeatureEntry> featureEntries(std::uint8_t variant);
