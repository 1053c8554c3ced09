#include "device/loopblock.h"

#include "device/channelblock.h"
#include "device/imagefields.h"
#include "device/pointposition.h"

#include <cmath>
#include <limits>

LoopBlock LoopBlock::decode(std::span<const std::uint8_t, kBytes> bytes)
{
    LoopBlock b;
    b.input = (bytes[0] >> 4) & 0x03;
    b.output = bytes[0] & 0x07;
    b.law = bytes[1] & 0x07;
    b.on = bytes[2] & 0x80;
    b.percentSetpoint = bytes[2] & 0x40;
    b.linearization = bytes[2] & 0x04;
    b.forecast = bytes[2] & 0x02;
    b.byProgram = bytes[2] & 0x01;
    b.program = bytes[3] & 0x07;
    b.to = field::u16(bytes, 4);
    b.ko = field::u16(bytes, 6);
    b.tz = field::u16(bytes, 8);
    b.tiu = field::u16(bytes, 10);
    b.timp = field::u16(bytes, 12);
    b.dxLow = bytes[14];
    b.dxHigh = bytes[15];
    b.v5 = bytes[16];
    b.byte17 = bytes[17];
    b.setpoint = field::i16(bytes, 18);
    b.vzd = field::u16(bytes, 20);
    for (int k = 0; k < loop::kMismatch; ++k)
        b.mismatch[k] = field::i16(bytes, 22 + 2 * k);
    return b;
}

void LoopBlock::encode(std::span<std::uint8_t, kBytes> bytes) const
{
    bytes[0] = std::uint8_t(((input * 16) & 0x30) + (output & 0x07));
    bytes[1] = std::uint8_t(law & 0x07);
    bytes[2] =
        std::uint8_t((on ? 0x80 : 0) + (percentSetpoint ? 0x40 : 0) + (linearization ? 0x04 : 0) +
                     (forecast ? 0x02 : 0) + (byProgram ? 0x01 : 0));
    bytes[3] = std::uint8_t(program & 0x07);
    field::setU16(bytes, 4, to);
    field::setU16(bytes, 6, ko);
    field::setU16(bytes, 8, tz);
    field::setU16(bytes, 10, tiu);
    field::setU16(bytes, 12, timp);
    bytes[14] = dxLow;
    bytes[15] = dxHigh;
    bytes[16] = v5;
    bytes[17] = byte17;
    field::setI16(bytes, 18, setpoint);
    field::setU16(bytes, 20, vzd);
    for (int k = 0; k < loop::kMismatch; ++k)
        field::setI16(bytes, 22 + 2 * k, mismatch[k]);
}

LoopCoefficients LoopCoefficients::decode(std::span<const std::uint8_t, kBytes> bytes)
{
    return {field::f32(bytes, 0), field::f32(bytes, 4), field::f32(bytes, 8)};
}

void LoopCoefficients::encode(std::span<std::uint8_t, kBytes> bytes) const
{
    field::setF32(bytes, 0, kp);
    field::setF32(bytes, 4, ki);
    field::setF32(bytes, 8, kd);
}

LoopLinearization LoopLinearization::decode(std::span<const std::uint8_t, kBytes> bytes)
{
    LoopLinearization l;
    for (int k = 0; k < loop::kPoints; ++k) {
        l.yi[k] = field::u16(bytes, 2 * k);
        l.yo[k] = field::u16(bytes, 22 + 2 * k);
    }
    l.afterYi = field::u16(bytes, 20);
    l.afterYo = field::u16(bytes, 42);
    return l;
}

void LoopLinearization::encode(std::span<std::uint8_t, kBytes> bytes) const
{
    for (int k = 0; k < loop::kPoints; ++k) {
        field::setU16(bytes, 2 * k, yi[k]);
        field::setU16(bytes, 22 + 2 * k, yo[k]);
    }
    field::setU16(bytes, 20, afterYi);
    field::setU16(bytes, 42, afterYo);
}

LoopLiveValues LoopLiveValues::decode(std::span<const std::uint8_t, kBytes> bytes, int loop,
                                      int output)
{
    const int second = loop == 2 ? 1 : 0;
    LoopLiveValues v;
    for (int k = 0; k < 4; ++k)
        v.measured[k] = field::f32(bytes, 4 * k);
    v.outputValue = field::f32(bytes, 2 * (6 + 2 * (output & 0x07)));
    v.coldJunction = field::f32(bytes, 2 * 17);
    v.measuringPeriod = bytes[2 * 21];
    v.periodCounter = field::u32(bytes, 2 * (22 + 2 * second));
    v.cu = field::u16(bytes, 2 * (26 + second));
    v.u = field::i8(bytes, 2 * 28 + second);
    v.remaining = field::i32(bytes, 2 * (29 + 2 * second));
    v.zs = field::f32(bytes, 2 * (33 + 2 * second));
    v.threshold = field::i32(bytes, 2 * (37 + 2 * second));
    return v;
}

namespace loop {

QStringList lawItems()
{
    return {QStringLiteral("ПИД-С"),  QStringLiteral("ПИД-S"),  QStringLiteral("ПИД-Н/C"),
            QStringLiteral("USWO-C"), QStringLiteral("USWO-S"), QStringLiteral("USWO-Н/C"),
            QStringLiteral("ON/OFF")};
}

QStringList outputItems()
{
    return {QStringLiteral("  "), QStringLiteral("Y1"),      QStringLiteral("Y2"),
            QStringLiteral("Y3"), QStringLiteral("Y4(+Y5)"), QStringLiteral("Y5"),
            QStringLiteral("Y6")};
}

QStringList inputItems()
{
    return {QStringLiteral("X1"), QStringLiteral("X2"), QStringLiteral("X3"), QStringLiteral("X4")};
}

QStringList programItems()
{
    QStringList items;
    for (int k = 1; k <= 8; ++k)
        items.append(QStringLiteral("%1").arg(k, 2, 10, QLatin1Char('0')));
    return items;
}

namespace {

template <typename T> std::optional<T> fitted(std::optional<std::int64_t> n)
{
    if (!n || *n < std::numeric_limits<T>::min() || *n > std::numeric_limits<T>::max())
        return std::nullopt;
    return T(*n);
}

} // namespace

std::optional<std::uint16_t> storedU16(double value, double factor)
{
    return fitted<std::uint16_t>(pointpos::cut(value, factor));
}

std::optional<std::int16_t> storedI16(double value, double factor)
{
    return fitted<std::int16_t>(pointpos::cut(value, factor));
}

std::optional<std::uint8_t> storedByte(double value)
{
    return fitted<std::uint8_t>(pointpos::cut(value, 1));
}

double shownWhole(std::int32_t stored)
{
    return double(stored / 100); // integer division cuts toward zero
}

namespace {

template <typename T> std::optional<T> keptWhole(double shown, T stored)
{
    if (shown == shownWhole(stored))
        return stored;
    if (!std::isfinite(shown))
        return std::nullopt;
    return fitted<T>(pointpos::cut(std::trunc(shown), 100));
}

} // namespace

std::optional<std::uint16_t> keptWholeU16(double shown, std::uint16_t stored)
{
    return keptWhole<std::uint16_t>(shown, stored);
}

Figures Figures::shown(const LoopBlock &b, std::optional<int> pointPosition)
{
    Figures f;
    f.to = b.to / 10.0;
    f.ko = b.ko / 10000.0;
    f.tz = b.tz / 10.0;
    f.tiu = b.tiu / 10.0;
    f.timp = b.timp / 100.0;
    f.dxLow = b.dxLow;
    f.dxHigh = b.dxHigh;
    f.v5 = b.v5;
    if (pointPosition)
        f.setpoint = pointpos::fromStored(b.setpoint, *pointPosition);
    f.vzd = shownWhole(b.vzd);
    for (int k = 0; k < kMismatch; ++k)
        f.mismatch[k] = shownWhole(b.mismatch[k]);
    return f;
}

bool Figures::storeInto(LoopBlock &b, int pointPosition) const
{
    const auto to = storedU16(this->to, 10);
    const auto ko = storedU16(this->ko, 10000);
    const auto tz = storedU16(this->tz, 10);
    const auto tiu = storedU16(this->tiu, 10);
    const auto timp = storedU16(this->timp, 100);
    const auto dxLow = storedByte(this->dxLow);
    const auto dxHigh = storedByte(this->dxHigh);
    const auto v5 = storedByte(this->v5);
    const auto setpoint =
        this->setpoint ? storedI16(*this->setpoint, pointpos::scale(pointPosition)) : std::nullopt;
    const auto vzd = keptWholeU16(this->vzd, b.vzd);
    std::array<std::optional<std::int16_t>, kMismatch> mismatch;
    for (int k = 0; k < kMismatch; ++k)
        mismatch[k] = keptWholeI16(this->mismatch[k], b.mismatch[k]);
    const bool fit = to && ko && tz && tiu && timp && dxLow && dxHigh && v5 && setpoint && vzd &&
                     std::all_of(mismatch.cbegin(), mismatch.cend(),
                                 [](const auto &m) { return m.has_value(); });
    if (!fit)
        return false;
    b.to = *to, b.ko = *ko, b.tz = *tz, b.tiu = *tiu, b.timp = *timp;
    b.dxLow = *dxLow, b.dxHigh = *dxHigh, b.v5 = *v5;
    b.setpoint = *setpoint;
    b.vzd = *vzd;
    for (int k = 0; k < kMismatch; ++k)
        b.mismatch[k] = *mismatch[k];
    return true;
}

std::optional<std::int16_t> keptWholeI16(double shown, std::int16_t stored)
{
    return keptWhole<std::int16_t>(shown, stored);
}

bool outputsConflict(const LoopBlock &loop1, const LoopBlock &loop2)
{
    if (!loop1.on || !loop2.on)
        return false;
    auto drivesY4WithY5 = [](const LoopBlock &b) { return b.law == PidS || b.law == UswoS; };
    return loop1.output == loop2.output || (drivesY4WithY5(loop1) && loop2.output == Y5) ||
           (drivesY4WithY5(loop2) && loop1.output == Y5);
}

ViewLines viewLines(const LoopBlock &block, const LoopCoefficients &k, const ChannelBlock &input,
                    const LoopLiveValues &live, QChar decimalPoint)
{
    ViewLines view;
    auto add = [&](const QString &line) {
        const qsizetype at = line.indexOf(QLatin1Char('='));
        QString value = line.mid(at + 1);
        value.replace(QLatin1Char('.'), decimalPoint);
        view.lines.append({line.left(at), value});
    };
    const int x = block.input + 1;
    add(QString::asprintf("Выходное значение Y%d:=%.2f", block.output, double(live.outputValue)));
    add(QString::asprintf("Входное значение X%d:=%.1f", x, double(live.measured[block.input])));
    add(QString::asprintf("Коэфф. пропорц. Kп=%.2f", double(k.kp)));
    add(QString::asprintf("Коэфф. интегр. Kи=%.4f", double(k.ki)));
    add(QString::asprintf("Коэфф. диф. Kд=%.1f", double(k.kd)));
    add(QString::asprintf("Коэфф. V5=%d", int(block.v5)));
    if (block.ko == 0) {
        view.parameterError = true;
        return view;
    }
    add(QString::asprintf("Коэфф. Mt=%0.2f", 0.1 * std::sqrt(1000.0 * block.to / block.ko)));
    const double vy = block.vzd > 0 ? double(live.periodCounter) * 50.0 / block.vzd : 0.0;
    add(QString::asprintf("Коэфф. Vy=%0.1f %%", vy));
    add(QString::asprintf("Время фильтрации Тф(%d)=%0.1f сек", x, input.filterTenths / 10.0));
    add(QString::asprintf("Ts=%.2f", live.periodCounter / 200.0));

    switch (block.law) {
    case PidC:
        add(QString::asprintf("ZS=%0.2f", double(live.zs)));
        break;
    case PidS:
        add(QString::asprintf("Cu=%.2d", int(live.cu)));
        add(QString::asprintf("ZS=%.2f", double(live.zs)));
        add(QString::asprintf("_U=%d", int(live.u)));
        add(QString::asprintf("Остаток периода регул. tt=%d", int(live.remaining)));
        break;
    case PidNC:
        add(QString::asprintf("ZS=%.2f", double(live.zs)));
        add(QString::asprintf("_U=%d", int(live.u)));
        add(QString::asprintf("Остаток периода регул.< Ts tt=%d", int(live.remaining)));
        add(QString::asprintf("tt_Porog=%d", int(live.threshold)));
        break;
    case OnOff: {
        const double range = double(input.rangeEnd) - double(input.rangeStart);
        if (range == 0 || !std::isfinite(range)) {
            view.parameterError = true;
            return view;
        }
        add(QString::asprintf("Delta=%5.1f %%", 100.0 * k.kp / range));
        break;
    }
    default:
        break;
    }
    return view;
}

} // namespace loop
