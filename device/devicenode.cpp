#include "device/devicenode.h"

#include "device/identity.h"
#include "device/imagefields.h"
#include "platform/cp1251.h"

#include <QList>

#include <algorithm>
#include <stdexcept>

namespace {

int channelOffset(int channel, int base, int width)
{
    if (channel < 1 || channel > 4)
        throw std::out_of_range("channel outside 1..4");
    return base + width * (channel - 1);
}

} // namespace

bool DeviceNode::fromBytes(std::span<const std::uint8_t> bytes, DeviceNode *node)
{
    if (bytes.size() < std::size_t(kSize))
        return false;
    std::copy_n(bytes.begin(), kSize, node->m_bytes.begin());
    return true;
}

DeviceNode DeviceNode::found(int deviceNumber, int portNumber,
                             std::span<const std::uint8_t> identity, const QString &tablePath)
{
    DeviceNode n;
    n.setDeviceNumber(deviceNumber);
    n.setPortNumber(portNumber);
    n.setPollPeriod(30);
    n.setTablePath(tablePath);
    n.setChannelColour(1, 0x0000FF);
    n.setChannelColour(2, 0xFFFF00);
    n.setChannelColour(3, 0x00FF00);
    n.setChannelColour(4, 0x00FFFF);
    n.setCyclicPoll(true);
    n.setGraphRefresh(true);
    std::copy_n(identity.begin(), std::min<std::size_t>(identity.size(), identity::kBytes),
                n.m_bytes.begin() + kIdentity);
    return n;
}

std::uint32_t DeviceNode::nextPollTime() const
{
    return field::u32(m_bytes, kNextPollTime);
}
void DeviceNode::setNextPollTime(std::uint32_t tick)
{
    field::setU32(m_bytes, kNextPollTime, tick);
}
std::int32_t DeviceNode::deviceNumber() const
{
    return field::i32(m_bytes, kDeviceNumber);
}
void DeviceNode::setDeviceNumber(std::int32_t n)
{
    field::setI32(m_bytes, kDeviceNumber, n);
}
std::int32_t DeviceNode::portNumber() const
{
    return field::i32(m_bytes, kPortNumber);
}
void DeviceNode::setPortNumber(std::int32_t n)
{
    field::setI32(m_bytes, kPortNumber, n);
}
std::int32_t DeviceNode::pollPeriod() const
{
    return field::i32(m_bytes, kPollPeriod);
}
void DeviceNode::setPollPeriod(std::int32_t seconds)
{
    field::setI32(m_bytes, kPollPeriod, seconds);
}

QString DeviceNode::tablePath() const
{
    const int length = m_bytes[kTablePath]; // at most 255: always inside the field
    return cp1251::decode(reinterpret_cast<const char *>(m_bytes.data() + kTablePath + 1), length);
}

void DeviceNode::setTablePath(const QString &path)
{
    const QByteArray encoded = cp1251::encode(path).left(kTablePathSize - 1);
    std::fill_n(m_bytes.begin() + kTablePath, kTablePathSize, 0);
    m_bytes[kTablePath] = std::uint8_t(encoded.size());
    std::copy(encoded.begin(), encoded.end(), m_bytes.begin() + kTablePath + 1);
}

std::uint32_t DeviceNode::channelColour(int channel) const
{
    return field::u32(m_bytes, channelOffset(channel, kChannelColour, 4));
}
void DeviceNode::setChannelColour(int channel, std::uint32_t colour)
{
    field::setU32(m_bytes, channelOffset(channel, kChannelColour, 4), colour);
}
bool DeviceNode::channelShown(int channel) const
{
    return m_bytes[channelOffset(channel, kChannelShown, 1)] != 0;
}
void DeviceNode::setChannelShown(int channel, bool shown)
{
    m_bytes[channelOffset(channel, kChannelShown, 1)] = shown ? 1 : 0;
}
bool DeviceNode::cyclicPoll() const
{
    return m_bytes[kCyclicPoll] != 0;
}
void DeviceNode::setCyclicPoll(bool on)
{
    m_bytes[kCyclicPoll] = on ? 1 : 0;
}
bool DeviceNode::graphRefresh() const
{
    return m_bytes[kGraphRefresh] != 0;
}
void DeviceNode::setGraphRefresh(bool on)
{
    m_bytes[kGraphRefresh] = on ? 1 : 0;
}

std::span<const std::uint8_t, 18> DeviceNode::identity() const
{
    return std::span<const std::uint8_t, 18>(m_bytes.data() + kIdentity, 18);
}
std::span<std::uint8_t, 18> DeviceNode::identity()
{
    return std::span<std::uint8_t, 18>(m_bytes.data() + kIdentity, 18);
}
std::uint8_t DeviceNode::address() const
{
    return m_bytes[kIdentity + identity::kAddress];
}
std::uint8_t DeviceNode::speedCode() const
{
    return m_bytes[kIdentity + identity::kSpeedCode];
}
std::uint8_t DeviceNode::variant() const
{
    return m_bytes[kIdentity + identity::kVariant];
}

QList<FeatureEntry> featureEntries(std::uint8_t variant)
{
    QList<FeatureEntry> entries{
        {QStringLiteral("Конфигурация"), FeatureCode::Config, 3},
        {QStringLiteral("Каналы"), FeatureCode::Channels, 4},
        {QStringLiteral("Контуры"), FeatureCode::Loops, 5},
        {QStringLiteral("Сигнализация"), FeatureCode::Alarms, 6},
    };
    if (variant & identity::kHasPrograms)
        entries.append({QStringLiteral("Программное управление"), FeatureCode::Programs, 7});
    if (variant & identity::kHasArchive)
        entries.append({QStringLiteral("Архив данных"), FeatureCode::Archive, 8});
    return entries;
}
