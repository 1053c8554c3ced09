#pragma once

#include "link/registerimages.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>

// The settings block that three editors share, protected by a check value and kept twice in the
// device.

// The block's fourteen bytes as a value. Each editor changes only its own fields; the others
// travel as they were decoded, so a write carries every owner's bytes unchanged.
class CommonBlock
{
public:
    static constexpr int kBytes = 14;
    using Bytes = std::array<std::uint8_t, kBytes>;

    CommonBlock() = default;
    explicit CommonBlock(const Bytes &bytes) : m_bytes(bytes) {}

    // From and into the block's bytes; encode leaves the check value to SealCommonBlock.
    static CommonBlock decode(std::span<const std::uint8_t, kBytes> bytes);
    void encode(std::span<std::uint8_t, kBytes> bytes) const;

    const Bytes &bytes() const { return m_bytes; }

    std::int8_t timeCorrection() const;
    void setTimeCorrection(std::int8_t value);

    // Configuration flags (byte 1).
    bool thermoCompensation() const; // bit 0
    bool overlaidControl() const;    // bit 6
    bool oneChannelOnly() const;     // bit 7
    // The byte is rebuilt from these three; its other bits become 0.
    void setConfigFlags(bool thermoCompensation, bool overlaidControl, bool oneChannelOnly);

    std::uint16_t registrationCycle() const;
    void setRegistrationCycle(std::uint16_t value);

    // The four external buttons, n = 1..4: a function code in the low four bits and the loop it
    // acts on in bit 4 (clear: loop 1, set: loop 2).
    int buttonFunction(int n) const;
    bool buttonOnSecondLoop(int n) const;
    void setButton(int n, int function, bool secondLoop);

    // Alarm settings (byte 3): the signal switched off after 10 s (else by key), the sound when a
    // comparator trips, and the initial states of outputs Y3..Y5 (y = 3..5).
    bool alarmOffAfterTenSeconds() const; // bit 7
    bool alarmSound() const;              // bit 6
    bool initialOutput(int y) const;      // bits 1..3
    // The byte is rebuilt from these; its other bits become 0.
    void setAlarmSettings(bool offAfterTenSeconds, bool sound, bool y3, bool y4, bool y5);

    // The parameter shown on output Y2 (low four bits of byte 7); the high bits are written as 0.
    int outputY2Parameter() const;
    void setOutputY2Parameter(int code);

    std::uint16_t checkValue() const;
    // Whether the stored check value is the one of the data bytes. Nothing refuses a block that
    // fails it; the answer is for the record.
    bool checkValueMatches() const;

    friend bool operator==(const CommonBlock &, const CommonBlock &) = default;

private:
    Bytes m_bytes{};
};

// Puts the check value over the block's twelve data bytes into bytes 12..13 (low byte first)
// and copies the sealed block to its shadow. Pure.
void SealCommonBlock(RegisterImages &images);

struct CommonBlockWrite
{
    int shadowResult = 0;
    int blockResult = 0;
    bool ok() const { return shadowResult == 0 && blockResult == 0; }
};

// Seals the block, then writes the shadow and the block, in that order, each whatever became of
// the other. writeSettings(bytePosition, byteLength) is the caller's logged holding write.
using SettingsWriter = std::function<int(std::uint16_t bytePosition, std::uint16_t byteLength)>;
CommonBlockWrite UpdateCommonBlock(RegisterImages &images, const SettingsWriter &writeSettings);
