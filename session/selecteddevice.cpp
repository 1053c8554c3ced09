#include "session/selecteddevice.h"

#include "device/deviceaccess.h"
#include "device/generalconfig.h"
#include "device/imagefields.h"
#include "link/commport.h"
#include "link/modbuslink.h"
#include "link/registerimages.h"

SelectedDevice::SelectedDevice(CommPort &port, ModbusLink &link, RegisterImages &images,
                               DeviceAccess &access, BlockOrigins &origins, DeviceNode &record,
                               Adopt adopt)
    : m_port(port), m_link(link), m_images(images), m_access(access), m_origins(origins),
      m_record(record), m_adopt(std::move(adopt))
{
}

void SelectedDevice::pointPort()
{
    if (!m_port.IsOpen())
        m_port.setPortNum(m_record.portNumber());
    if (const auto rate = baudrateForSpeedCode(m_record.speedCode()))
        m_port.setBaudrate(*rate);
}

int SelectedDevice::readHolding(HoldingBlock block)
{
    return m_access.ReadSettings(block.position, block.length);
}

int SelectedDevice::writeHolding(HoldingBlock block)
{
    return m_access.WriteSettings(block.position, block.length);
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
    const auto bytes = field::block<CommonBlock::kBytes>(m_images.holding, regmap::kCommonBlock);
    CommonBlock block = CommonBlock::decode(bytes);
    edit(block);
    block.encode(bytes);
    const CommonBlockWrite written =
        UpdateCommonBlock(m_images, [this](std::uint16_t position, std::uint16_t length) {
            return m_access.WriteSettings(position, length);
        });
    return written.shadowResult != 0 ? written.shadowResult : written.blockResult;
}

int SelectedDevice::readInputs(std::uint16_t bytePosition, std::uint16_t byteLength, Log log)
{
    if (log == Log::Lines)
        return m_access.ReadData(bytePosition, byteLength);
    pointPort();
    return m_link.ReadInputRegisters(address(), bytePosition, byteLength);
}

int SelectedDevice::readInputRegisters(std::uint16_t firstRegister, std::span<std::uint16_t> words)
{
    pointPort();
    return m_link.ReadInputRegisterBlock(address(), firstRegister, std::uint16_t(words.size()),
                                         words);
}

int SelectedDevice::readCoils(std::uint16_t first, std::uint16_t count, Log log)
{
    if (log == Log::Lines)
        return m_access.ReadFlags(first, count);
    pointPort();
    return m_link.ReadCoils(address(), first, count);
}

int SelectedDevice::writeCoils(std::uint16_t first, std::uint16_t count, Log log)
{
    if (log == Log::Lines)
        return m_access.WriteFlags(first, count);
    pointPort();
    return m_link.WriteCoils(address(), first, count);
}

int SelectedDevice::readDiscreteInputs(std::uint16_t first, std::uint16_t count)
{
    pointPort();
    return m_link.ReadDiscreteInputs(address(), first, count);
}

std::span<std::uint8_t> SelectedDevice::holding() const
{
    return m_images.holding;
}

std::span<const std::uint8_t> SelectedDevice::inputs() const
{
    return m_images.input;
}

bool SelectedDevice::coil(int n) const
{
    return m_images.coils[std::size_t(n)] != 0;
}

void SelectedDevice::setCoil(int n, bool on)
{
    m_images.coils[std::size_t(n)] = on ? 1 : 0;
}

bool SelectedDevice::discreteInput(int n) const
{
    return m_images.discrete[std::size_t(n)] != 0;
}

int SelectedDevice::moveToAddress(std::uint8_t newAddress)
{
    const std::uint8_t former = address();
    IdentityBlock changed = IdentityBlock::decode(m_record.identity());
    changed.setAddress(newAddress);
    changed.encode(field::block<identity::kBytes>(m_images.holding, regmap::kIdentity));
    pointPort();
    // The request goes to the address the device still answers at.
    const int result = m_link.WriteHoldingRegisters(former, identity::kAddress, 1);
    if (result != 0) {
        m_images.holding[identity::kAddress] = former;
        return result;
    }
    m_adopt(changed);
    return 0;
}

int SelectedDevice::moveToSpeedCode(std::uint8_t code)
{
    const std::uint8_t former = std::uint8_t(m_record.speedCode());
    IdentityBlock changed = IdentityBlock::decode(m_record.identity());
    changed.setSpeedCode(code);
    changed.encode(field::block<identity::kBytes>(m_images.holding, regmap::kIdentity));
    // The reply still comes at the former speed, and a slow line needs longer for it.
    if (const auto wait = generalconfig::responseWaitForSpeedCode(former))
        m_link.setResponseWait(*wait);
    pointPort();
    const int result = m_link.WriteHoldingRegisters(address(), identity::kSpeedCode, 1);
    if (result != 0) {
        m_images.holding[identity::kSpeedCode] = former;
        return result;
    }
    m_adopt(changed);
    return 0;
}
