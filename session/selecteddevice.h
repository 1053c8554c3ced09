#pragma once

#include "device/commonblock.h"
#include "device/devicenode.h"
#include "device/identity.h"
#include "device/registermap.h"
#include "link/modbuslink.h"
#include "session/blockorigins.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <span>

class CommPort;
class DeviceAccess;

// The device the settings windows work on, in the device's own vocabulary: its blocks of
// settings, its inputs, coils and discrete inputs, and moving it to another address or line
// speed. Every exchange goes to the selected device on its own port and line speed; the windows
// see neither the port nor the link. Reads and writes of settings leave a line in the message
// log; the quiet ones (live values, archive records, coils the archive owns) do not.
class SelectedDevice
{
public:
    enum class Log { Lines, Quiet };
    // The device took a new identity (a write of its address or line speed succeeded).
    using Adopt = std::function<void(const IdentityBlock &)>;

    SelectedDevice(CommPort &port, ModbusLink &link, RegisterImages &images, DeviceAccess &access,
                   BlockOrigins &origins, DeviceNode &record, Adopt adopt);

    const DeviceNode &record() const { return m_record; }
    std::uint8_t address() const { return m_record.address(); }
    // The device as the link reaches it.
    DeviceKey key() const { return {m_record.portNumber(), m_record.address()}; }

    // The one rule for reaching it: its port number (unless the port is open) and its line
    // speed when the code is a known one.
    void pointPort();

    int readHolding(HoldingBlock block);
    int writeHolding(HoldingBlock block);
    // Makes the block of the holding image the device's own: nothing to do when it already is,
    // else a logged read. The result code of that read (0 when none was needed).
    int ensureOwn(HoldingBlock block);
    // Writes fields of the shared common block: its other bytes must be the device's own (read
    // first when they are not; nothing is written when that read fails), then edit changes the
    // fields, and the block is sealed and written with its shadow. The first failed result code.
    int writeCommonBlock(const std::function<void(CommonBlock &)> &edit);

    // Input registers by byte position and length in the input image.
    int readInputs(std::uint16_t bytePosition, std::uint16_t byteLength, Log log = Log::Lines);
    // Whole input registers into words, for records longer than the image holds.
    int readInputRegisters(std::uint16_t firstRegister, std::span<std::uint16_t> words);
    int readCoils(std::uint16_t first, std::uint16_t count, Log log = Log::Lines);
    // Coils from first on as the coil image holds them.
    int writeCoils(std::uint16_t first, std::uint16_t count, Log log = Log::Lines);
    int readDiscreteInputs(std::uint16_t first, std::uint16_t count);

    // The link's count of write requests (how much of a write of several reached the device).
    ModbusLink::WriteTally writeTally() const { return m_link.writeTally(); }

    // The images as the last exchanges left them.
    std::span<std::uint8_t> holding() const;
    std::span<const std::uint8_t> inputs() const;
    bool coil(int n) const;
    void setCoil(int n, bool on);
    bool discreteInput(int n) const;

    // Moves the device to another address or line speed code: the identity's byte is written
    // alone, and on success the device is followed there (Adopt). On failure the image keeps
    // the former byte. The result code of the write.
    int moveToAddress(std::uint8_t address);
    int moveToSpeedCode(std::uint8_t code);

private:
    CommPort &m_port;
    ModbusLink &m_link;
    RegisterImages &m_images;
    DeviceAccess &m_access;
    BlockOrigins &m_origins;
    DeviceNode &m_record;
    Adopt m_adopt;
};
