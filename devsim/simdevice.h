#pragma once

#include "devsim/archivering.h"
#include "devsim/scenario.h"

#include <QByteArray>
#include <QDateTime>

#include <array>
#include <optional>

namespace devsim {

// Register space of a regulator.
constexpr int kHoldingRegisters = 1680;
constexpr int kInputRegisters = kRingLastRegister + 1;
constexpr int kDiscreteInputs = 24;
constexpr int kCoils = 16;

// Image byte positions of the blocks that the device itself looks at.
namespace pos {
constexpr int kIdentity = 0x000;
constexpr int kAddress = 6;
constexpr int kSpeedCode = 7;
constexpr int kVariant = 11;
constexpr int kClock = 12; // day, month, year, hours, minutes, seconds
constexpr int kChannel1 = 0x078;
constexpr int kChannelStride = 18;
constexpr int kLoop1 = 0x0DC;
constexpr int kLoopStride = 34;
constexpr int kDisplay = 0x1A4;
constexpr int kLoopCoeff1 = 0x1B8;
constexpr int kLoopCoeffStride = 12;
constexpr int kAccessCodes = 0x20A;
constexpr int kChannelName1 = 0x216;
constexpr int kLoopName1 = 0x272;
constexpr int kNameStride = 16;
constexpr int kLinearization1 = 0x292;
constexpr int kLinearizationStride = 44;
constexpr int kAlarms = 0x2EA;
constexpr int kAlarmStride = 6;
constexpr int kCommon = 0x936;
constexpr int kCommonShadow = 0x99A;
constexpr int kCommonSize = 14;
constexpr int kProgram1 = 0x9FE;
constexpr int kProgramStride = 200;
} // namespace pos

// MODBUS exception codes the device sends itself.
constexpr int kIllegalFunction = 1;
constexpr int kIllegalAddress = 2;
constexpr int kIllegalValue = 3;
constexpr int kDeviceFailure = 4;

// The check value of the common block: CRC-16 of the serial line standard with its two bytes
// exchanged, as the configurator computes it.
quint16 commonBlockCrc(const QByteArray &bytes);

// One simulated regulator. It is passive: the line hands it requests together with the PC time
// at which they arrived, and it catches up its clock-driven state (live values, alarms, archive)
// to that moment. Not thread-safe; its line serialises access.
class SimDevice
{
public:
    SimDevice(const DeviceSetup &setup, const QDateTime &pcNow, bool aloneOnLine);

    quint8 address() const { return quint8(m_holding[pos::kAddress]); }
    int speedCode() const { return quint8(m_holding[pos::kSpeedCode]); }
    bool answersAddressZero() const { return m_answersZero; }
    const FaultSettings &faults() const { return m_faults; }
    // A fault that strikes from now on (a test's device going bad after a good read).
    void setFaults(const FaultSettings &faults) { m_faults = faults; }

    bool isAddressedBy(quint8 address) const
    {
        return address == this->address() || (address == 0 && m_answersZero);
    }

    // Serves one request (address, function, data). Returns the reply bytes with the device's
    // address, or an exception reply; forcedException replaces a good answer.
    QByteArray handle(const QByteArray &request, const QDateTime &pcNow, int forcedException = 0);
    // A written register 3 takes effect only once its reply is on the line.
    void applyPendingChanges();

    void advanceTo(const QDateTime &pcNow);
    // The device's wall-clock reading, carried as a UTC date-time so that arithmetic on it
    // knows no daylight-saving jumps.
    QDateTime deviceTime(const QDateTime &pcNow) const;

    const QByteArray &holding() const { return m_holding; }
    QByteArray liveRegisters(const QDateTime &pcNow); // input registers 0-51 as image bytes
    const ArchiveRing &archive() const { return m_ring; }
    quint8 recordMark() const { return quint8(m_holding[pos::kCommon + 6]) >> 6; }
    quint8 archiveParameters() const { return quint8(m_holding[pos::kCommon + 6]) & 0x3F; }
    int registrationCycle() const;
    bool coil(int n) const { return m_coils[n]; }
    bool discreteInput(int n) const { return m_discrete[n]; }
    double inputValue(int k, const QDateTime &deviceTime) const; // k = 1..4
    // Stored numbers of the selected archive parameters at a device time.
    QList<qint16> archiveValues(const QDateTime &deviceTime);

private:
    void buildMemory(const DeviceSetup &setup);
    void sealCommonBlock();
    void writeHolding(int firstRegister, const QByteArray &data, const QDateTime &pcNow);
    void writeCoils(int first, int count, const QByteArray &packed, const QDateTime &pcNow);
    void updateOutputs(const QDateTime &deviceTime);
    void updateAlarms(const QDateTime &deviceTime);
    void scheduleNextRecord(const QDateTime &deviceTime);
    void writeRecord(const QDateTime &at);
    int pointPosition(int input) const; // input 1..4
    QByteArray readInputRegisters(int first, int count, const QDateTime &pcNow);

    QByteArray m_holding;
    std::array<bool, kCoils> m_coils{};
    std::array<bool, kDiscreteInputs> m_discrete{};
    std::array<InputWave, 4> m_waves;
    std::array<double, 7> m_outputs{}; // Y0 unused, Y1..Y6 in percent
    std::array<bool, 8> m_alarmTripped{};
    qint64 m_clockOffsetMs = 0;
    QDateTime m_started;    // PC time of creation, for the loops' running counters
    QDateTime m_nextRecord; // device time of the next archive record; invalid when idle
    ArchiveRing m_ring;
    FaultSettings m_faults;
    bool m_answersZero = false;
    std::optional<std::pair<quint8, quint8>> m_pendingLine; // address, speed code
};

} // namespace devsim
