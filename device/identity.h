#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <span>

// The identity block of a device (holding registers 0..8) turned into the texts the user sees.
// Pure: the windows decide where each text goes.
struct IdentityTexts
{
    QString type;        // "Лорван", "Дулан" or "Неизвестный"
    QString address;     // three digits
    QString speed;       // "9600" ... "115200" or "Неизвестна"
    QString version;     // " 1.05"
    QString releaseDate; // " 05:03 "
    QString serial;      // " 1234 "
    QString variant;     // " 2211 212"
    QString clockDate;   // "dd.mm.yy"
    QString clockTime;   // "hh:mm:ss"

    // type/address/speed, the name a device gets in the tree.
    QString description() const;
};

namespace identity {

constexpr int kBytes = 18;
constexpr int kFirmware = 0;
constexpr int kType = 1;
constexpr int kRelease = 2; // two bytes
constexpr int kSerial = 4;  // 16-bit
constexpr int kAddress = 6;
constexpr int kSpeedCode = 7;
constexpr int kVariant = 11;
constexpr int kClockDate = 12; // day, month, year
constexpr int kClockTime = 15; // hours, minutes, seconds

// Variant bits that decide which optional settings windows a device offers.
constexpr std::uint8_t kHasArchive = 0x01;
constexpr std::uint8_t kHasPrograms = 0x04;

QString typeText(std::uint8_t type);
QString speedText(std::uint8_t code);
// The serial number from identity bytes 4 and 5 in the order they arrive: the device keeps it
// low byte first. Every program shows this one reading.
inline std::uint16_t serialNumber(std::uint8_t byte4, std::uint8_t byte5)
{
    return std::uint16_t(byte4 + 256 * byte5);
}

} // namespace identity

// The identity block's bytes as a value, with the fields the configurator changes; the other
// bytes travel as they are.
class IdentityBlock
{
public:
    using Bytes = std::array<std::uint8_t, identity::kBytes>;
    using Clock = std::array<std::uint8_t, 3>;

    IdentityBlock() = default;
    static IdentityBlock decode(std::span<const std::uint8_t, identity::kBytes> bytes);
    void encode(std::span<std::uint8_t, identity::kBytes> bytes) const;
    const Bytes &bytes() const { return m_bytes; }

    std::uint8_t address() const { return m_bytes[identity::kAddress]; }
    void setAddress(std::uint8_t address) { m_bytes[identity::kAddress] = address; }
    std::uint8_t speedCode() const { return m_bytes[identity::kSpeedCode]; }
    void setSpeedCode(std::uint8_t code) { m_bytes[identity::kSpeedCode] = code; }
    // Day, month, year; hours, minutes, seconds.
    Clock clockDate() const;
    Clock clockTime() const;
    void setClockDate(const Clock &date);
    void setClockTime(const Clock &time);

    friend bool operator==(const IdentityBlock &, const IdentityBlock &) = default;

private:
    Bytes m_bytes{};
};

// A block shorter than 18 bytes reads as if the missing bytes were zero.
IdentityTexts describeIdentity(std::span<const std::uint8_t> block);
