#include "device/generalconfig.h"

#include "device/imagefields.h"
#include "device/registermap.h"

#include <QDate>
#include <QTime>

#include <cmath>

namespace generalconfig {

int screenItemCount(int n)
{
    return n == 1 ? 11 : 10;
}

std::array<int, kScreens> screenIndexes(std::span<const std::uint8_t, kScreens> bytes)
{
    std::array<int, kScreens> indexes{};
    for (int n = 1; n <= kScreens; ++n) {
        const int index = bytes[n - 1] - 1;
        indexes[n - 1] = index >= 0 && index < screenItemCount(n) ? index : -1;
    }
    return indexes;
}

void setScreenIndexes(std::span<std::uint8_t, kScreens> bytes,
                      const std::array<int, kScreens> &indexes)
{
    for (int n = 1; n <= kScreens; ++n) {
        if (indexes[n - 1] >= 0)
            bytes[n - 1] = std::uint8_t(indexes[n - 1] + 1);
    }
}

std::array<float, kPasswords> passwords(std::span<const std::uint8_t, kPasswordBytes> bytes)
{
    std::array<float, kPasswords> values{};
    for (int i = 0; i < kPasswords; ++i)
        values[i] = field::f32(bytes, 4 * i);
    return values;
}

void setPasswords(std::span<std::uint8_t, kPasswordBytes> bytes,
                  const std::array<double, kPasswords> &values)
{
    for (int i = 0; i < kPasswords; ++i)
        field::setF32(bytes, 4 * i, float(std::trunc(values[i])));
}

int buttonItemIndex(int functionCode)
{
    return functionCode >= 0 && functionCode < kButtonFunctions ? functionCode : -1;
}

std::optional<int> responseWaitForSpeedCode(int code)
{
    if (code < 0 || code > 4)
        return std::nullopt;
    return 100 - 10 * code;
}

std::uint8_t addressByte(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return std::uint8_t((ok ? value : 1) & 0xFF);
}

QString addressRefusal(std::uint8_t address)
{
    if (address > 127)
        return QStringLiteral("Введите адрес устройства < 127");
    if (address == 0)
        return QStringLiteral("Адрес 0 не может быть адресом устройства.\r\n"
                              "Введите адрес от 1 до 127");
    return {};
}

namespace {

// Three two-digit numbers separated by one character each; nothing if a blank is left.
std::optional<std::array<int, 3>> threeNumbers(const QString &text)
{
    if (text.size() != 8)
        return std::nullopt;
    std::array<int, 3> numbers{};
    for (int i = 0; i < 3; ++i) {
        const QStringView part = QStringView(text).mid(3 * i, 2);
        if (!part[0].isDigit() || !part[1].isDigit())
            return std::nullopt;
        numbers[i] = part.toInt();
    }
    return numbers;
}

} // namespace

std::optional<std::array<std::uint8_t, 3>> clockDateBytes(const QString &text)
{
    const auto n = threeNumbers(text);
    if (!n || !QDate(2000 + (*n)[2], (*n)[1], (*n)[0]).isValid())
        return std::nullopt;
    return std::array<std::uint8_t, 3>{std::uint8_t((*n)[0] & 0x1F), std::uint8_t((*n)[1] & 0x0F),
                                       std::uint8_t((*n)[2] % 100)};
}

std::optional<std::array<std::uint8_t, 3>> clockTimeBytes(const QString &text)
{
    const auto n = threeNumbers(text);
    if (!n || !QTime((*n)[0], (*n)[1], (*n)[2]).isValid())
        return std::nullopt;
    return std::array<std::uint8_t, 3>{std::uint8_t((*n)[0]), std::uint8_t((*n)[1]),
                                       std::uint8_t((*n)[2])};
}

} // namespace generalconfig
