#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// The general settings outside the common block: the indicator screens, the access passwords,
// and the identity fields the configuration window edits (address, line speed, clock).
namespace generalconfig {

constexpr int kScreens = 10;
constexpr int kPasswords = 3;
constexpr int kButtonFunctions = 8; // "Отключение" … "Ввод поправки"

// Items of the screen box n = 1..10: "01" … "10", and an empty eleventh on the first.
int screenItemCount(int n);

// The screen block: one byte per screen. Item index of each screen box (byte − 1), or −1 when
// the byte names no item of that box.
std::array<int, kScreens> screenIndexes(std::span<const std::uint8_t, kScreens> bytes);
// Byte = item index + 1. A box without a selection keeps the byte the block holds, so a value
// the window cannot show is written back as it was read.
void setScreenIndexes(std::span<std::uint8_t, kScreens> bytes,
                      const std::array<int, kScreens> &indexes);

// The password block: three floats.
constexpr std::size_t kPasswordBytes = 4 * kPasswords;
std::array<float, kPasswords> passwords(std::span<const std::uint8_t, kPasswordBytes> bytes);
// Each cut to a whole number and stored as a float.
void setPasswords(std::span<std::uint8_t, kPasswordBytes> bytes,
                  const std::array<double, kPasswords> &values);

// Item index of a button's function box for the four function bits, −1 for codes 8..15.
int buttonItemIndex(int functionCode);

// The line-speed code's reply window in ms; nothing for a code outside 0..4.
std::optional<int> responseWaitForSpeedCode(int code);

// An address text the way the window reads it: the text as an integer (1 when it is not one),
// reduced to its low byte.
std::uint8_t addressByte(const QString &text);
// Why an address byte cannot be a device's address, or an empty text when it can. 0 is the
// broadcast address that no device answers at; 127 is accepted.
QString addressRefusal(std::uint8_t address);

// Clock bytes of a clock field's text ("dd.mm.yy" and "hh:mm:ss"): day & 0x1F, month & 0x0F,
// year mod 100; hours, minutes, seconds. Nothing for a text with blanks or a date or time that
// does not exist.
std::optional<std::array<std::uint8_t, 3>> clockDateBytes(const QString &text);
std::optional<std::array<std::uint8_t, 3>> clockTimeBytes(const QString &text);

} // namespace generalconfig
