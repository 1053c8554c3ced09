#include "cli/snapshot.h"

#include "device/alarmblock.h"
#include "device/archive.h"
#include "device/channelblock.h"
#include "device/clocktext.h"
#include "device/commonblock.h"
#include "device/generalconfig.h"
#include "device/identity.h"
#include "device/imagefields.h"
#include "device/loopblock.h"
#include "device/programblock.h"
#include "device/registermap.h"
#include "platform/cp1251.h"

#include <QRegularExpression>

#include <cmath>
#include <span>

namespace {

const QString kHeader = QStringLiteral("Lorvan settings snapshot 1");

using Bytes = std::span<const std::uint8_t>;

Bytes bytesOf(const SnapshotBlock &block)
{
    return {reinterpret_cast<const std::uint8_t *>(block.bytes.constData()),
            std::size_t(block.bytes.size())};
}

template <std::size_t N> std::span<const std::uint8_t, N> fixed(const SnapshotBlock &block)
{
    return field::block<N>(bytesOf(block), 0);
}

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString real(float value)
{
    return QString::number(double(value), 'g', 7);
}

QString onOff(bool on)
{
    return on ? QStringLiteral("да") : QStringLiteral("нет");
}

QString item(const QStringList &items, int index)
{
    return index >= 0 && index < items.size() ? items.at(index) : QString::number(index);
}

// The point position of input X1..X4 (0-based) as the snapshot's channel block holds it.
int inputPoint(const Snapshot &snapshot, int input)
{
    const SnapshotBlock *channel = snapshot.block(QStringLiteral("channel %1").arg(input + 1));
    if (!channel || channel->bytes.size() != regmap::kChannelBytes)
        return 0;
    return ChannelBlock::decode(fixed<ChannelBlock::kBytes>(*channel)).pointPosition;
}

class FieldList
{
public:
    void add(const QString &name, const QString &shown, int offset, int length = 1)
    {
        m_fields.append({name, shown, offset, length});
    }
    QList<SnapshotField> take() { return std::move(m_fields); }

private:
    QList<SnapshotField> m_fields;
};

void identityFields(FieldList &f, Bytes b)
{
    const IdentityTexts t = describeIdentity(b);
    f.add(QStringLiteral("firmware"), t.version.trimmed(), identity::kFirmware);
    f.add(QStringLiteral("type"), t.type, identity::kType);
    f.add(QStringLiteral("release"), t.releaseDate.trimmed(), identity::kRelease, 2);
    f.add(QStringLiteral("serial"), t.serial.trimmed(), identity::kSerial, 2);
    f.add(QStringLiteral("address"), t.address, identity::kAddress);
    f.add(QStringLiteral("speed"), t.speed, identity::kSpeedCode);
    f.add(QStringLiteral("variant"), t.variant.trimmed(), identity::kVariant);
    f.add(QStringLiteral("date"), t.clockDate, identity::kClockDate, 3);
    f.add(QStringLiteral("time"), t.clockTime, identity::kClockTime, 3);
}

void channelFields(FieldList &f, const SnapshotBlock &block)
{
    const ChannelBlock c = ChannelBlock::decode(fixed<ChannelBlock::kBytes>(block));
    f.add(QStringLiteral("on"), onOff(c.on), 0);
    f.add(QStringLiteral("sensor type"), item(channel::sensorTypeItems(), c.sensorType), 0);
    f.add(QStringLiteral("characteristic"), QString::number(c.characteristic), 0);
    f.add(QStringLiteral("square root"), onOff(c.squareRoot), 1);
    f.add(QStringLiteral("point position"), item(channel::pointPositionItems(), c.pointPosition),
          1);
    f.add(QStringLiteral("unit"), c.percent ? QStringLiteral("%") : QStringLiteral("°C"), 2);
    f.add(QStringLiteral("scheme"), QString::number(c.scheme), 2);
    f.add(QStringLiteral("byte 3"), QString::number(c.byte3), 3);
    f.add(QStringLiteral("range start"), real(c.rangeStart), 4, 4);
    f.add(QStringLiteral("range end"), real(c.rangeEnd), 8, 4);
    f.add(QStringLiteral("correction"), real(c.correction), 12, 4);
    f.add(QStringLiteral("filter, s"), number(c.filterTenths / 10.0, 1), 16, 2);
}

void loopFields(FieldList &f, const Snapshot &snapshot, const SnapshotBlock &block)
{
    const LoopBlock l = LoopBlock::decode(fixed<LoopBlock::kBytes>(block));
    f.add(QStringLiteral("input"), item(loop::inputItems(), l.input), 0);
    f.add(QStringLiteral("output"), item(loop::outputItems(), l.output), 0);
    f.add(QStringLiteral("law"), item(loop::lawItems(), l.law), 1);
    f.add(QStringLiteral("on"), onOff(l.on), 2);
    f.add(QStringLiteral("setpoint in %"), onOff(l.percentSetpoint), 2);
    f.add(QStringLiteral("linearization"), onOff(l.linearization), 2);
    f.add(QStringLiteral("forecast"), onOff(l.forecast), 2);
    f.add(QStringLiteral("by program"), onOff(l.byProgram), 2);
    f.add(QStringLiteral("program"), item(loop::programItems(), l.program), 3);
    f.add(QStringLiteral("To"), number(l.to / 10.0, 1), 4, 2);
    f.add(QStringLiteral("Ko"), number(l.ko / 10000.0, 4), 6, 2);
    f.add(QStringLiteral("Tz"), number(l.tz / 10.0, 1), 8, 2);
    f.add(QStringLiteral("Tiu"), number(l.tiu / 10.0, 1), 10, 2);
    f.add(QStringLiteral("Timp"), number(l.timp / 100.0, 2), 12, 2);
    f.add(QStringLiteral("dX low"), QString::number(l.dxLow), 14);
    f.add(QStringLiteral("dX high"), QString::number(l.dxHigh), 15);
    f.add(QStringLiteral("V5"), QString::number(l.v5), 16);
    f.add(QStringLiteral("byte 17"), QString::number(l.byte17), 17);
    const int p = inputPoint(snapshot, l.input);
    f.add(QStringLiteral("setpoint"), number(l.setpoint / std::pow(10.0, p), p), 18, 2);
    f.add(QStringLiteral("Vzd"), number(loop::shownWhole(l.vzd), 0), 20, 2);
    for (int k = 0; k < loop::kMismatch; ++k)
        f.add(QStringLiteral("A%1").arg(k + 1), number(loop::shownWhole(l.mismatch[k]), 0),
              22 + 2 * k, 2);
}

void coefficientFields(FieldList &f, const SnapshotBlock &block)
{
    const LoopCoefficients k = LoopCoefficients::decode(fixed<LoopCoefficients::kBytes>(block));
    f.add(QStringLiteral("Kp"), real(k.kp), 0, 4);
    f.add(QStringLiteral("Ki"), real(k.ki), 4, 4);
    f.add(QStringLiteral("Kd"), real(k.kd), 8, 4);
}

void linearizationFields(FieldList &f, const SnapshotBlock &block)
{
    const LoopLinearization l = LoopLinearization::decode(fixed<LoopLinearization::kBytes>(block));
    for (int i = 0; i < loop::kPoints; ++i)
        f.add(QStringLiteral("Yi%1").arg(i), number(loop::shownWhole(l.yi[i]), 0), 2 * i, 2);
    f.add(QStringLiteral("after Yi"), QString::number(l.afterYi), 20, 2);
    for (int i = 0; i < loop::kPoints; ++i)
        f.add(QStringLiteral("Yo%1").arg(i), number(loop::shownWhole(l.yo[i]), 0), 22 + 2 * i, 2);
    f.add(QStringLiteral("after Yo"), QString::number(l.afterYo), 42, 2);
}

void alarmFields(FieldList &f, const Snapshot &snapshot, const SnapshotBlock &block)
{
    const AlarmBlock a = AlarmBlock::decode(fixed<AlarmBlock::kBytes>(block));
    for (int k = 0; k < AlarmBlock::kComparators; ++k) {
        const Comparator &c = a.comparators[std::size_t(k)];
        const int at = k * int(Comparator::kBytes);
        const QString n = QStringLiteral("comparator %1 ").arg(k + 1);
        const int p = inputPoint(snapshot, c.input);
        f.add(n + QStringLiteral("on"), onOff(c.on), at);
        f.add(n + QStringLiteral("input"), item(alarms::inputItems(), c.input), at);
        f.add(n + QStringLiteral("output"), item(alarms::outputItems(), c.output), at);
        f.add(n + QStringLiteral("function"), item(alarms::functionItems(), c.above ? 1 : 0), at);
        f.add(n + QStringLiteral("byte 1"), QString::number(c.byte1), at + 1);
        f.add(n + QStringLiteral("threshold"), number(alarms::threshold(c, p), p), at + 2, 2);
        f.add(n + QStringLiteral("hysteresis"), number(alarms::hysteresis(c, p), p), at + 4, 2);
    }
}

void commonFields(FieldList &f, std::uint8_t variant, const SnapshotBlock &block)
{
    const auto bytes = fixed<CommonBlock::kBytes>(block);
    const CommonBlock c = CommonBlock::decode(bytes);
    f.add(QStringLiteral("time correction"), QString::number(c.timeCorrection()),
          regmap::kCommonTimeCorrection);
    f.add(QStringLiteral("thermocompensation"), onOff(c.thermoCompensation()),
          regmap::kCommonConfigFlags);
    f.add(QStringLiteral("overlaid control"), onOff(c.overlaidControl()),
          regmap::kCommonConfigFlags);
    f.add(QStringLiteral("one channel only"), onOff(c.oneChannelOnly()),
          regmap::kCommonConfigFlags);
    f.add(QStringLiteral("alarm off after 10 s"), onOff(c.alarmOffAfterTenSeconds()),
          regmap::kCommonAlarmSettingA);
    f.add(QStringLiteral("alarm sound"), onOff(c.alarmSound()), regmap::kCommonAlarmSettingA);
    for (int y = 3; y <= 5; ++y)
        f.add(QStringLiteral("initial Y%1").arg(y), onOff(c.initialOutput(y)),
              regmap::kCommonAlarmSettingA);
    f.add(QStringLiteral("registration cycle"), QString::number(c.registrationCycle()),
          regmap::kCommonRegistrationCycle, 2);
    if (variant & identity::kHasArchive) {
        const archive::Parameters a = archive::Parameters::decode(bytes);
        const QStringList names = archive::parameterHeaders(a.selected);
        f.add(QStringLiteral("archive parameters"), names.join(QStringLiteral(", ")),
              regmap::kCommonArchiveSetting);
        f.add(QStringLiteral("archive mark"), QString::number(a.mark),
              regmap::kCommonArchiveSetting);
    } else {
        f.add(QStringLiteral("archive setting"),
              QString::number(bytes[regmap::kCommonArchiveSetting]), regmap::kCommonArchiveSetting);
    }
    f.add(QStringLiteral("output Y2"), item(alarms::outputY2Items(), c.outputY2Parameter()),
          regmap::kCommonAlarmSettingB);
    for (int n = 1; n <= 4; ++n)
        f.add(QStringLiteral("button %1").arg(n),
              QStringLiteral("%1 loop %2")
                  .arg(c.buttonFunction(n))
                  .arg(c.buttonOnSecondLoop(n) ? 2 : 1),
              regmap::kCommonLoopFunctions + n - 1);
    f.add(QStringLiteral("check value"),
          QStringLiteral("%1%2")
              .arg(c.checkValue(), 4, 16, QLatin1Char('0'))
              .arg(c.checkValueMatches() ? QString() : QStringLiteral(" (does not match)")),
          regmap::kCommonCheckValue, 2);
}

void programFields(FieldList &f, const SnapshotBlock &block)
{
    const ProgramBlock p = ProgramBlock::decode(fixed<ProgramBlock::kBytes>(block));
    f.add(QStringLiteral("start"), startText(p.day, p.month, p.year, p.hours, p.minutes), 0, 5);
    f.add(QStringLiteral("point position"), QString::number(p.point), 5);
    f.add(QStringLiteral("segments"), QString::number(p.count), 6);
    f.add(QStringLiteral("byte 7"), QString::number(p.byte7), 7);
    for (int s = 0; s < p.segments(); ++s) {
        const QString n = QStringLiteral("segment %1 ").arg(s + 1);
        f.add(n + QStringLiteral("start"), number(programs::shown(p.start[s], p.point), p.point),
              8 + 2 * s, 2);
        f.add(n + QStringLiteral("end"), number(programs::shown(p.end[s], p.point), p.point),
              72 + 2 * s, 2);
        f.add(n + QStringLiteral("seconds"), QString::number(p.duration[s]), 136 + 2 * s, 2);
    }
}

QString hex(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ')).toUpper();
}

// For a field whose bytes are equal but whose scale comes from another block: numbers are equal
// whatever their decimals (a zero threshold under another point position is still zero).
bool sameShown(const QString &a, const QString &b)
{
    bool aNumber = false;
    bool bNumber = false;
    const double x = a.toDouble(&aNumber);
    const double y = b.toDouble(&bNumber);
    return aNumber && bNumber ? x == y : a == b;
}

} // namespace

const SnapshotBlock *Snapshot::block(const QString &name) const
{
    for (const SnapshotBlock &b : blocks)
        if (b.name == name)
            return &b;
    return nullptr;
}

std::uint8_t Snapshot::type() const
{
    const SnapshotBlock *id = block(QStringLiteral("identity"));
    return id && id->bytes.size() > identity::kType ? std::uint8_t(id->bytes[identity::kType]) : 0;
}

std::uint8_t Snapshot::variant() const
{
    const SnapshotBlock *id = block(QStringLiteral("identity"));
    return id && id->bytes.size() > identity::kVariant ? std::uint8_t(id->bytes[identity::kVariant])
                                                       : 0;
}

QList<SnapshotBlock> snapshotLayout(std::uint8_t variant)
{
    QList<SnapshotBlock> l;
    const auto add = [&l](const QString &name, std::uint16_t position, int length) {
        l.append({name, position, QByteArray(length, '\0')});
    };
    add(QStringLiteral("identity"), regmap::kIdentity, regmap::kIdentityBytes);
    for (int n = 1; n <= channel::kChannels; ++n) {
        add(QStringLiteral("channel %1 name").arg(n), regmap::channelName(n), regmap::kNameBytes);
        add(QStringLiteral("channel %1").arg(n), regmap::channel(n), regmap::kChannelBytes);
    }
    for (int n = 1; n <= loop::kLoops; ++n) {
        add(QStringLiteral("loop %1 name").arg(n), regmap::loopName(n), regmap::kNameBytes);
        add(QStringLiteral("loop %1").arg(n), regmap::loopMain(n), regmap::kLoopMainBytes);
        add(QStringLiteral("loop %1 coefficients").arg(n), regmap::loopExtra(n),
            regmap::kLoopExtraBytes);
        add(QStringLiteral("loop %1 linearization").arg(n), regmap::loopTuning(n),
            regmap::kLoopTuningBytes);
    }
    add(QStringLiteral("screens"), regmap::kDisplaySelection, regmap::kDisplaySelectionBytes);
    add(QStringLiteral("passwords"), regmap::kAccessCodes, regmap::kAccessCodesBytes);
    add(QStringLiteral("alarms"), regmap::kAlarms, regmap::kAlarmsBytes);
    add(QStringLiteral("common"), regmap::kCommonBlock, regmap::kCommonBlockBytes);
    if (variant & identity::kHasPrograms) {
        for (int k = 1; k <= programs::kPrograms; ++k)
            add(QStringLiteral("program %1").arg(k), regmap::program(k), regmap::kProgramBytes);
    }
    return l;
}

QList<SnapshotField> snapshotFields(const Snapshot &snapshot, const SnapshotBlock &block)
{
    FieldList f;
    const QString &name = block.name;
    const QList<SnapshotBlock> layout = snapshotLayout(snapshot.variant());
    const bool known = std::any_of(layout.begin(), layout.end(), [&](const SnapshotBlock &l) {
        return l.name == name && l.bytes.size() == block.bytes.size();
    });
    if (!known)
        return {};
    if (name == QLatin1String("identity"))
        identityFields(f, bytesOf(block));
    else if (name.endsWith(QLatin1String(" name")))
        f.add(QStringLiteral("text"),
              cp1251::decodeField(reinterpret_cast<const unsigned char *>(block.bytes.constData()),
                                  block.bytes.size()),
              0, int(block.bytes.size()));
    else if (name.startsWith(QLatin1String("channel ")))
        channelFields(f, block);
    else if (name.endsWith(QLatin1String(" coefficients")))
        coefficientFields(f, block);
    else if (name.endsWith(QLatin1String(" linearization")))
        linearizationFields(f, block);
    else if (name.startsWith(QLatin1String("loop ")))
        loopFields(f, snapshot, block);
    else if (name == QLatin1String("screens"))
        for (int s = 0; s < generalconfig::kScreens; ++s)
            f.add(QStringLiteral("screen %1").arg(s + 1), QString::number(quint8(block.bytes[s])),
                  s);
    else if (name == QLatin1String("passwords")) {
        const auto values = generalconfig::passwords(fixed<generalconfig::kPasswordBytes>(block));
        for (int k = 0; k < generalconfig::kPasswords; ++k)
            f.add(QStringLiteral("password %1").arg(k + 1), real(values[std::size_t(k)]), 4 * k, 4);
    } else if (name == QLatin1String("alarms"))
        alarmFields(f, snapshot, block);
    else if (name == QLatin1String("common"))
        commonFields(f, snapshot.variant(), block);
    else if (name.startsWith(QLatin1String("program ")))
        programFields(f, block);
    return f.take();
}

QString encodeSnapshot(const Snapshot &snapshot)
{
    QString out = kHeader + QLatin1Char('\n');
    if (const SnapshotBlock *id = snapshot.block(QStringLiteral("identity"))) {
        const IdentityTexts t = describeIdentity(bytesOf(*id));
        out += QStringLiteral("# %1, variant %2, serial %3\n")
                   .arg(t.description(), t.variant.trimmed(), t.serial.trimmed());
    }
    out += QStringLiteral("# Only the \"bytes\" lines are read back; each field line gives a "
                          "field's name, its value as the editors show it and its bytes.\n");
    for (const SnapshotBlock &b : snapshot.blocks) {
        out += QStringLiteral("\n[%1] 0x%2 %3\n")
                   .arg(b.name)
                   .arg(b.position, 4, 16, QLatin1Char('0'))
                   .arg(b.bytes.size());
        out += QStringLiteral("bytes\t") + hex(b.bytes) + QLatin1Char('\n');
        for (const SnapshotField &f : snapshotFields(snapshot, b))
            out += f.name + QLatin1Char('\t') + f.shown + QLatin1Char('\t') +
                   hex(QByteArrayView(b.bytes).sliced(f.offset, f.length)) + QLatin1Char('\n');
    }
    return out;
}

std::optional<Snapshot> parseSnapshot(const QString &text, QString *why)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.isEmpty() || lines.first().trimmed() != kHeader) {
        *why =
            QStringLiteral("not a settings snapshot (the first line is not \"%1\")").arg(kHeader);
        return std::nullopt;
    }
    static const QRegularExpression blockLine(
        QStringLiteral("^\\[(.+)\\] 0x([0-9a-fA-F]{1,4}) (\\d{1,4})$"));
    Snapshot s;
    QList<bool> hasBytes;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        const auto fail = [&](const QString &reason) {
            *why = QStringLiteral("line %1: %2").arg(i + 1).arg(reason);
            return std::nullopt;
        };
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const QRegularExpressionMatch m = blockLine.match(line);
            if (!m.hasMatch())
                return fail(QStringLiteral("a block line is [name] 0xPOSITION LENGTH"));
            if (s.block(m.captured(1)))
                return fail(QStringLiteral("block %1 twice").arg(m.captured(1)));
            s.blocks.append({m.captured(1), std::uint16_t(m.captured(2).toUInt(nullptr, 16)),
                             QByteArray(m.captured(3).toInt(), '\0')});
            hasBytes.append(false);
            continue;
        }
        if (!line.startsWith(QLatin1String("bytes\t")))
            continue; // a field line, shown for the reader only
        if (s.blocks.isEmpty())
            return fail(QStringLiteral("bytes before the first block"));
        if (hasBytes.last())
            return fail(
                QStringLiteral("a second bytes line in block %1").arg(s.blocks.last().name));
        const QString digits = line.mid(6).remove(QLatin1Char(' '));
        static const QRegularExpression hexOnly(QStringLiteral("^[0-9a-fA-F]*$"));
        const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
        if (!hexOnly.match(digits).hasMatch() || digits.size() % 2 != 0 ||
            bytes.size() != s.blocks.last().bytes.size())
            return fail(QStringLiteral("block %1 needs %2 bytes in hexadecimal")
                            .arg(s.blocks.last().name)
                            .arg(s.blocks.last().bytes.size()));
        s.blocks.last().bytes = bytes;
        hasBytes.last() = true;
    }
    const QList<SnapshotBlock> layout = snapshotLayout(s.variant());
    for (const SnapshotBlock &want : layout) {
        const SnapshotBlock *have = s.block(want.name);
        if (!have || have->position != want.position || have->bytes.size() != want.bytes.size()) {
            *why = QStringLiteral("block %1 missing or not at 0x%2 with %3 bytes")
                       .arg(want.name)
                       .arg(want.position, 4, 16, QLatin1Char('0'))
                       .arg(want.bytes.size());
            return std::nullopt;
        }
    }
    if (s.blocks.size() != layout.size()) {
        *why = QStringLiteral("blocks that a device of this variant does not have");
        return std::nullopt;
    }
    if (!hasBytes.isEmpty() && hasBytes.contains(false)) {
        *why = QStringLiteral("block %1 has no bytes line")
                   .arg(s.blocks.at(hasBytes.indexOf(false)).name);
        return std::nullopt;
    }
    return s;
}

QString snapshotRefusal(const Snapshot &snapshot, std::uint8_t type, std::uint8_t variant)
{
    if (snapshot.type() != type)
        return QStringLiteral("the snapshot is of a device of type %1 (%2), this device is of "
                              "type %3 (%4)")
            .arg(snapshot.type())
            .arg(identity::typeText(snapshot.type()))
            .arg(type)
            .arg(identity::typeText(type));
    if (snapshot.variant() != variant)
        return QStringLiteral("the snapshot is of variant 0x%1, this device is variant 0x%2")
            .arg(snapshot.variant(), 2, 16, QLatin1Char('0'))
            .arg(variant, 2, 16, QLatin1Char('0'));
    return {};
}

QStringList compareSnapshots(const Snapshot &wanted, const Snapshot &found, bool withIdentity)
{
    QStringList out;
    for (const SnapshotBlock &w : wanted.blocks) {
        const SnapshotBlock *f = found.block(w.name);
        if (!withIdentity && w.name == QLatin1String("identity"))
            continue;
        if (!f || f->bytes.size() != w.bytes.size()) {
            out << w.name + QStringLiteral("\t(block)\tpresent\tmissing");
            continue;
        }
        // Equal bytes may still show otherwise: a setpoint follows its input's point position.
        QList<bool> explained(w.bytes.size(), false);
        const QList<SnapshotField> wf = snapshotFields(wanted, w);
        const QList<SnapshotField> ff = snapshotFields(found, *f);
        for (qsizetype i = 0; i < wf.size() && i < ff.size(); ++i) {
            const bool bytesDiffer =
                w.bytes.mid(wf[i].offset, wf[i].length) != f->bytes.mid(wf[i].offset, wf[i].length);
            if (bytesDiffer ? wf[i].shown == ff[i].shown : sameShown(wf[i].shown, ff[i].shown))
                continue;
            out << w.name + QLatin1Char('\t') + wf[i].name + QLatin1Char('\t') + wf[i].shown +
                       QLatin1Char('\t') + ff[i].shown;
            for (int k = 0; k < wf[i].length; ++k)
                explained[wf[i].offset + k] = true;
        }
        for (qsizetype k = 0; k < w.bytes.size(); ++k)
            if (w.bytes[k] != f->bytes[k] && !explained[k])
                out << w.name + QStringLiteral("\tbyte %1\t%2\t%3")
                                    .arg(k)
                                    .arg(quint8(w.bytes[k]), 2, 16, QLatin1Char('0'))
                                    .arg(quint8(f->bytes[k]), 2, 16, QLatin1Char('0'));
    }
    return out;
}
