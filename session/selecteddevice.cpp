#include "session/selecteddevice.h"

#include "device/deviceaccess.h"
#include "device/generalconfig.h"
#include "device/imagefields.h"
#include "link/commport.h"
#include "link/modbuslink.h"
#include "link/registerimages.h"
#include "session/devicenetwork.h"
#include "session/serialline.h"

SelectedDevice::SelectedDevice(SerialLine &line, DeviceNetwork &network, BlockOrigins &origins,
                               QObject *parent)
    : QObject(parent), m_line(line), m_network(network), m_origins(origins)
{
}

void SelectedDevice::select(int index, const DeviceNode &record)
{
    const DeviceKey before = key();
    const int indexBefore = m_index;
    m_index = index;
    m_record = record;
    if (index != indexBefore || key() != before)
        emit selectionChanged();
}

bool SelectedDevice::selectDeviceOf(int index)
{
    const int device = m_network.deviceOf(index);
    if (device < 0)
        return false;
    const DeviceNode *record = m_network.device(device);
    select(device, record ? *record : m_record);
    return true;
}

QString SelectedDevice::name() const
{
    return m_network.isDevice(m_index) ? m_network.entry(m_index).text : QString();
}

QString SelectedDevice::DescribeDevice(std::span<const std::uint8_t> identity)
{
    const IdentityTexts t = describeIdentity(identity);
    emit identityDescribed(t);
    return t.description();
}

void SelectedDevice::adoptIdentity(const IdentityBlock &identity)
{
    const DeviceKey before = key();
    const std::uint8_t oldSpeed = m_record.speedCode();
    identity.encode(m_record.identity());
    if (DeviceNode *record = m_network.isDevice(m_index) ? m_network.device(m_index) : nullptr)
        identity.encode(record->identity());
    m_origins.rekey(before, key());
    if (identity.speedCode() != oldSpeed) {
        pointSpeed(m_line.port.baudrate());
        emit speedChanged(identity::speedText(identity.speedCode()));
    }
}

void SelectedDevice::pointPort()
{
    // An open port belongs to an exchange that waits for its reply: the link refuses the new
    // one, and the line must not change under the one that waits.
    if (!m_line.port.IsOpen())
        m_line.port.pointAt(m_record.portNumber(), m_record.speedCode());
}

void SelectedDevice::pointSpeed(Baudrate fallback)
{
    m_line.port.setBaudrate(baudrateForSpeedCode(m_record.speedCode()).value_or(fallback));
}

int SelectedDevice::readHolding(HoldingBlock block)
{
    return m_line.access.ReadSettings(block.position, block.length);
}

int SelectedDevice::writeHolding(HoldingBlock block)
{
    return m_line.access.WriteSettings(block.position, block.length);
}

int SelectedDevice::ensureOwn(HoldingBlock block)
{
    if (m_origins.isFrom(key(), block.position, block.length))
        return 0;
    return readHolding(block);
}

int SelectedDevice::writeCommonBlock(const std::function<void(CommonBlock &)> &edit)
{
    if (const int result = ensureOwn({regmap::kCommonBlock, regmap::kCommonBlockBytes}))
        return result;
    const auto bytes =
        field::block<CommonBlock::kBytes>(m_line.images.holding, regmap::kCommonBlock);
    CommonBlock block = CommonBlock::decode(bytes);
    edit(block);
    block.encode(bytes);
    const CommonBlockWrite written =
        UpdateCommonBlock(m_line.images, [this](std::uint16_t position, std::uint16_t length) {
            return m_line.access.WriteSettings(position, length);
        });
    return written.shadowResult != 0 ? written.shadowResult : written.blockResult;
}

int SelectedDevice::readInputs(std::uint16_t bytePosition, std::uint16_t byteLength, Log log)
{
    if (log == Log::Lines)
        return m_line.access.ReadData(bytePosition, byteLength);
    pointPort();
    return m_line.link.ReadInputRegisters(address(), bytePosition, byteLength);
}

int SelectedDevice::readInputRegisters(std::uint16_t firstRegister, std::span<std::uint16_t> words)
{
    pointPort();
    return m_line.link.ReadInputRegisterBlock(address(), firstRegister, std::uint16_t(words.size()),
                                              words);
}

int SelectedDevice::readCoils(std::uint16_t first, std::uint16_t count, Log log)
{
    if (log == Log::Lines)
        return m_line.access.ReadFlags(first, count);
    pointPort();
    return m_line.link.ReadCoils(address(), first, count);
}

int SelectedDevice::writeCoils(std::uint16_t first, std::uint16_t count, Log log)
{
    if (log == Log::Lines)
        return m_line.access.WriteFlags(first, count);
    pointPort();
    return m_line.link.WriteCoils(address(), first, count);
}

int SelectedDevice::readDiscreteInputs(std::uint16_t first, std::uint16_t count)
{
    pointPort();
    return m_line.link.ReadDiscreteInputs(address(), first, count);
}

std::span<std::uint8_t> SelectedDevice::holding() const
{
    return m_line.images.holding;
}

std::span<const std::uint8_t> SelectedDevice::inputs() const
{
    return m_line.images.input;
}

bool SelectedDevice::coil(int n) const
{
    return m_line.images.coils[std::size_t(n)] != 0;
}

void SelectedDevice::setCoil(int n, bool on)
{
    m_line.images.coils[std::size_t(n)] = on ? 1 : 0;
}

bool SelectedDevice::discreteInput(int n) const
{
    return m_line.images.discrete[std::size_t(n)] != 0;
}

int SelectedDevice::moveToAddress(std::uint8_t newAddress)
{
    const std::uint8_t former = address();
    IdentityBlock changed = IdentityBlock::decode(m_record.identity());
    changed.setAddress(newAddress);
    changed.encode(field::block<identity::kBytes>(m_line.images.holding, regmap::kIdentity));
    pointPort();
    // The request goes to the address the device still answers at.
    const int result = m_line.link.WriteHoldingRegisters(former, identity::kAddress, 1);
    if (result != 0) {
        m_line.images.holding[identity::kAddress] = former;
        return result;
    }
    adoptIdentity(changed);
    return 0;
}

int SelectedDevice::moveToSpeedCode(std::uint8_t code)
{
    const std::uint8_t former = std::uint8_t(m_record.speedCode());
    IdentityBlock changed = IdentityBlock::decode(m_record.identity());
    changed.setSpeedCode(code);
    changed.encode(field::block<identity::kBytes>(m_line.images.holding, regmap::kIdentity));
    // The reply still comes at the former speed, and a slow line needs longer for it.
    if (const auto wait = generalconfig::responseWaitForSpeedCode(former))
        m_line.link.setResponseWait(*wait);
    pointPort();
    const int result = m_line.link.WriteHoldingRegisters(address(), identity::kSpeedCode, 1);
    if (result != 0) {
        m_line.images.holding[identity::kSpeedCode] = former;
        return result;
    }
    adoptIdentity(changed);
    return 0;
}

ModbusLink::WriteTally SelectedDevice::writeTally() const
{
    return m_line.link.writeTally();
}
