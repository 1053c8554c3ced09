#pragma once

#include "device/commonblock.h"
#include "device/devicenode.h"
#include "device/identity.h"
#include "device/registermap.h"
#include "link/linespeeds.h"
#include "link/modbuslink.h"
#include "session/blockorigins.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <span>

class DeviceNetwork;
struct IdentityTexts;
struct SerialLine;

// The device the settings windows work on, in the device's own vocabulary: its blocks of
// settings, its inputs, coils and discrete inputs, and moving it to another address or line
// speed. Every exchange goes to the selected device on its own port and line speed; the windows
// see neither the port nor the link. Reads and writes of settings leave a line in the message
// log; the quiet ones (live values, archive records, coils the archive owns) do not.
// It is also the selection itself: the selected entry of the network and its record's copy
// (CurrentDevice), which the windows learn of from its signals.
class SelectedDevice : public QObject
{
    Q_OBJECT
public:
    enum class Log { Lines, Quiet };

    SelectedDevice(SerialLine &line, DeviceNetwork &network, BlockOrigins &origins,
                   QObject *parent = nullptr);

    // The absolute index of the selected device entry.
    int index() const { return m_index; }
    // The one place the selection changes: the entry's absolute index and its record's copy.
    void select(int index, const DeviceNode &record);
    // Makes the device of an entry (or the device a settings entry belongs to) the selected
    // one. False when the entry has no device.
    bool selectDeviceOf(int index);
    // The network starts over: the next selection is at its start.
    void resetIndex() { m_index = 0; }
    const DeviceNode &CurrentDevice() const { return m_record; }
    DeviceNode &CurrentDevice() { return m_record; }
    const DeviceNode &record() const { return m_record; }
    // The selected device's entry text ("" without one).
    QString name() const;
    // Tells the windows the name to show for the selected device (nameShown).
    void showName(const QString &name) { emit nameShown(name); }
    // The identity texts of a device, told to every window that shows them; returns the
    // description (type/address/speed).
    QString DescribeDevice(std::span<const std::uint8_t> identity);
    // The selected device took a new identity (a write of its address, line speed or clock
    // succeeded): its copy and its tree entry's record take it, what the image and the windows
    // hold of it stays its under a new address, and the port follows a new line speed.
    void adoptIdentity(const IdentityBlock &identity);

    // Which device the image's registers and each window's blocks came from.
    BlockOrigins &origins() const { return m_origins; }
    std::uint8_t address() const { return m_record.address(); }
    // The device as the link reaches it.
    DeviceKey key() const { return {m_record.portNumber(), m_record.address()}; }

    // The one rule for reaching it: its port number (unless the port is open) and its line
    // speed when the code is a known one.
    void pointPort();
    // Its line speed alone: from its speed code, fallback for an unknown code.
    void pointSpeed(Baudrate fallback);

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
    ModbusLink::WriteTally writeTally() const;

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

signals:
    // Another device is selected: what was shown of the former one is no longer its.
    void selectionChanged();
    void identityDescribed(const IdentityTexts &texts);
    // The text of the selected device's entry, for the configuration window's name field.
    void nameShown(const QString &name);
    // The selected device now answers at this line speed (by its text).
    void speedChanged(const QString &text);

private:
    SerialLine &m_line;
    DeviceNetwork &m_network;
    BlockOrigins &m_origins;
    DeviceNode m_record;
    int m_index = 0;
};
