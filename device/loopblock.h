#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

struct ChannelBlock;

// The settings block of one control loop (17 holding registers). Scaled numbers are kept as the
// device stores them; the window converts them with loop::shown and loop::stored.
struct LoopBlock
{
    int input = 0;  // 0..3 = X1..X4, bits 4–5 of byte 0
    int output = 0; // output code 0..6, bits 0–2 of byte 0
    int law = 0;    // bits 0–2 of byte 1
    bool on = false;
    bool percentSetpoint = false;
    bool linearization = false;
    bool forecast = false;
    bool byProgram = false;
    int program = 0;        // 0..7 = "01".."08"
    std::uint16_t to = 0;   // × 10
    std::uint16_t ko = 0;   // × 10000
    std::uint16_t tz = 0;   // × 10
    std::uint16_t tiu = 0;  // × 10
    std::uint16_t timp = 0; // × 100
    std::uint8_t dxLow = 0;
    std::uint8_t dxHigh = 0;
    std::uint8_t v5 = 0;
    std::uint8_t byte17 = 0;                // not edited, carried as read
    std::int16_t setpoint = 0;              // × 10^p of the loop's input
    std::uint16_t vzd = 0;                  // whole seconds × 100
    std::array<std::int16_t, 6> mismatch{}; // A1..A6, whole numbers × 100

    static constexpr std::size_t kBytes = 34;

    static LoopBlock decode(std::span<const std::uint8_t, kBytes> bytes);
    // Codes are masked to their bits; the unused bits are written as 0.
    void encode(std::span<std::uint8_t, kBytes> bytes) const;

    friend bool operator==(const LoopBlock &, const LoopBlock &) = default;
};

// Kp, Ki, Kd (6 holding registers).
struct LoopCoefficients
{
    float kp = 0, ki = 0, kd = 0;

    static constexpr std::size_t kBytes = 12;
    static LoopCoefficients decode(std::span<const std::uint8_t, kBytes> bytes);
    void encode(std::span<std::uint8_t, kBytes> bytes) const;
};

// The linearization points (22 holding registers): Yi0..Yi9, one register not edited,
// Yo0..Yo9, one register not edited; each point a whole number × 100.
struct LoopLinearization
{
    std::array<std::uint16_t, 10> yi{};
    std::array<std::uint16_t, 10> yo{};
    std::uint16_t afterYi = 0; // carried as read
    std::uint16_t afterYo = 0;

    static constexpr std::size_t kBytes = 44;
    static LoopLinearization decode(std::span<const std::uint8_t, kBytes> bytes);
    void encode(std::span<std::uint8_t, kBytes> bytes) const;
};

// The live values of one loop in input registers 0–43, for the loop view.
struct LoopLiveValues
{
    std::array<float, 4> measured{};
    float outputValue = 0; // of the loop's output code
    float coldJunction = 0;
    std::uint8_t measuringPeriod = 0; // units of 5 ms
    std::uint32_t periodCounter = 0;  // T
    std::uint16_t cu = 0;
    std::int8_t u = 0;
    std::int32_t remaining = 0; // tt
    float zs = 0;
    std::int32_t threshold = 0; // tt_Porog

    static constexpr std::size_t kBytes = 88; // input registers 0..43
    // loop 1 or 2; output code 0..6 as the loop block holds it.
    static LoopLiveValues decode(std::span<const std::uint8_t, kBytes> bytes, int loop, int output);
};

namespace loop {

constexpr int kLoops = 2;
constexpr int kPoints = 10;
constexpr int kMismatch = 6;

QStringList lawItems();
QStringList outputItems();
QStringList inputItems();
QStringList programItems();

enum Law { PidC = 0, PidS = 1, PidNC = 2, UswoC = 3, UswoS = 4, UswoNC = 5, OnOff = 6 };
enum Output { NoOutput = 0, Y3 = 3, Y4Y5 = 4, Y5 = 5 };

// The stored number of a field's value times factor, the fraction cut toward zero; nothing when
// it does not fit the field (refused rather than wrapped).
std::optional<std::uint16_t> storedU16(double value, double factor);
std::optional<std::int16_t> storedI16(double value, double factor);
std::optional<std::uint8_t> storedByte(double value);

// A whole-number × 100 field: shown as the stored number / 100 cut to a whole number. A field
// that still shows that keeps the stored number, so the hundredths are not lost on a write; an
// edited one stores its whole part × 100. Nothing when that does not fit.
double shownWhole(std::int32_t stored);
std::optional<std::uint16_t> keptWholeU16(double shown, std::uint16_t stored);
std::optional<std::int16_t> keptWholeI16(double shown, std::int16_t stored);

// The loop block's numbers as a person reads them: times in seconds, Ko as a fraction, the
// setpoint at its input's point position, the whole-number fields as whole numbers.
struct Figures
{
    double to = 0, ko = 0, tz = 0, tiu = 0, timp = 0;
    double dxLow = 0, dxHigh = 0, v5 = 0;
    std::optional<double> setpoint; // nothing when the input's point position is not known
    double vzd = 0;
    std::array<double, kMismatch> mismatch{};

    static Figures shown(const LoopBlock &block, std::optional<int> pointPosition);
    // The figures into the block, the setpoint at the point position; a whole-number field
    // that still shows what the block holds keeps its hundredths. False, with the block
    // untouched, when a number does not fit its field (or the setpoint is missing).
    bool storeInto(LoopBlock &block, int pointPosition) const;
};

// Two loops that are both on must not drive one output: the same code, or a law that drives
// Y4 with Y5 beside a loop on Y5.
bool outputsConflict(const LoopBlock &loop1, const LoopBlock &loop2);

// The loop view's lines as (description, value): each format split at its first "=".
// parameterError: a figure could not be computed from the loop's settings (a zero Ko or an
// empty input range); the lines before it are kept, no further ones follow.
struct ViewLines
{
    QList<QPair<QString, QString>> lines;
    bool parameterError = false;
};
ViewLines viewLines(const LoopBlock &block, const LoopCoefficients &k, const ChannelBlock &input,
                    const LoopLiveValues &live, QChar decimalPoint = QLatin1Char('.'));

} // namespace loop
