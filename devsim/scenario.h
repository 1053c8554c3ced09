#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <array>
#include <optional>

// A simulated device network: lines, the devices on them and how each behaves.
namespace devsim {

struct FaultSettings
{
    // Each fault strikes a reply with its probability (0 never, 1 always), drawn from a
    // generator seeded per device so that a run can be repeated exactly.
    quint32 seed = 1;
    double drop = 0;
    double corruptLrc = 0;
    double noise = 0;
    int noiseChars = 4;
    double noCrLf = 0;
    double late = 0;
    int lateMs = 0;
    double split = 0;
    int splitPieces = 3;
    int splitPauseMs = 20;
    double exception = 0;
    int exceptionCode = 0;
    // Holding registers whose writes always fail with a device failure (exception 4): pairs of
    // first and last register. Lets a test fail one block of a sequence of writes.
    QList<QPair<int, int>> refusedWrites;
    // Holding registers whose reads fail the same way.
    QList<QPair<int, int>> refusedReads;
    // Coils whose reads fail the same way.
    QList<QPair<int, int>> refusedCoilReads;

    bool any() const
    {
        return drop > 0 || corruptLrc > 0 || noise > 0 || noCrLf > 0 || late > 0 || split > 0 ||
               exception > 0 || !refusedWrites.isEmpty() || !refusedReads.isEmpty() ||
               !refusedCoilReads.isEmpty();
    }
};

struct InputWave
{
    double base = 20;
    double amplitude = 0;
    double periodS = 60;
};

struct ChannelSetup
{
    bool on = true;
    int sensorType = 1;
    int characteristic = 0;
    int pointPosition = 1;
    float rangeStart = -100;
    float rangeEnd = 600;
    QString name;
};

struct LoopSetup
{
    bool on = false;
    int input = 1;  // 1..4
    int output = 0; // output code 0..6; 0 drives no output
    int law = 0;
    double setpoint = 0;
    float kp = 1, ki = 0, kd = 0;
    QString name;
};

struct AlarmSetup
{
    bool on = false;
    int input = 1;  // 1..4
    int output = 0; // 0 none, 1..3 = Y3..Y5
    bool above = true;
    double threshold = 0;
    double hysteresis = 0;
};

struct SegmentSetup
{
    double start = 0, end = 0;
    int seconds = 0;
};

struct ProgramSetup
{
    bool present = false;
    QDateTime start;
    int pointPosition = 1;
    QList<SegmentSetup> segments;
};

struct ArchiveSetup
{
    bool recording = false;
    int cycleS = 10;
    quint8 parameters = 0x0F; // bits 0-5: X1..X4, Y1, Y2
    quint8 mark = 0;
    int prefill = 0; // records written before the start, one cycle apart
    // Ring byte offset of the oldest prefilled record; the other slots then hold older records
    // under the previous record mark. -1: the prefill starts at ring byte 0 on an empty ring.
    int prefillAt = -1;
};

struct DeviceSetup
{
    quint8 address = 1;
    quint8 speedCode = 0;
    quint8 type = 3;
    quint8 firmware = 105;
    std::array<quint8, 2> release{0x05, 0x03};
    quint16 serial = 0x1234;
    quint8 variant = 0;
    std::optional<bool> answersZero; // unset: on when alone on the line
    std::optional<QDateTime> clock;  // unset: the PC's local time
    std::array<InputWave, 4> inputs;
    std::array<ChannelSetup, 4> channels;
    std::array<LoopSetup, 2> loops;
    std::array<AlarmSetup, 8> alarms;
    std::array<ProgramSetup, 4> programs;
    ArchiveSetup archive;
    QList<QPair<int, QByteArray>> holdingBytes; // raw image bytes by byte position
    QList<QPair<int, bool>> coils;
    FaultSettings faults;
};

struct LineSetup
{
    int port = 1;
    int turnaroundMs = 5;
    bool pacing = true;
    // A second pseudo-terminal, COM<n>-monitor, that carries a copy of every byte on the line.
    bool monitor = false;
    QList<DeviceSetup> devices;
};

struct Scenario
{
    QList<LineSetup> lines;
};

struct ScenarioParse
{
    std::optional<Scenario> scenario;
    QString error; // "line N: ..." when the text is rejected
};

ScenarioParse parseScenario(const QString &text);
// The demo network that runs when no scenario file is given.
QString defaultScenarioText();
Scenario defaultScenario();

int speedForCode(int code); // 0 for an unknown code

} // namespace devsim
