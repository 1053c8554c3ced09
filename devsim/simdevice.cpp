#include "devsim/simdevice.h"

#include "platform/cp1251.h"

#include <QtMath>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace devsim {

namespace {

void put16(QByteArray &mem, int at, quint16 v)
{
    mem[at] = char(v & 0xFF);
    mem[at + 1] = char(v >> 8);
}

void put32(QByteArray &mem, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        mem[at + i] = char((v >> (8 * i)) & 0xFF);
}

void putFloat(QByteArray &mem, int at, float f)
{
    quint32 v;
    std::memcpy(&v, &f, 4);
    put32(mem, at, v);
}

quint16 get16(const QByteArray &mem, int at)
{
    return quint16(quint8(mem[at]) | (quint8(mem[at + 1]) << 8));
}

float getFloat(const QByteArray &mem, int at)
{
    quint32 v = 0;
    for (int i = 0; i < 4; ++i)
        v |= quint32(quint8(mem[at + i])) << (8 * i);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

void putName(QByteArray &mem, int at, const QString &name)
{
    QByteArray text = cp1251::encode(name).left(15);
    text.append(QByteArray(16 - text.size(), '\0'));
    mem.replace(at, 16, text);
}

qint16 scaled(double value, int decimals)
{
    const double v = std::round(value * std::pow(10.0, decimals));
    return qint16(std::clamp(v, -32768.0, 32767.0));
}

QByteArray exceptionReply(quint8 address, quint8 function, int code)
{
    QByteArray r;
    r.append(char(address));
    r.append(char(function | 0x80));
    r.append(char(code));
    return r;
}

QByteArray packBits(const bool *bits, int count)
{
    QByteArray packed((count + 7) / 8, '\0');
    for (int i = 0; i < count; ++i) {
        if (bits[i])
            packed[i / 8] = char(quint8(packed[i / 8]) | (1 << (i % 8)));
    }
    return packed;
}

} // namespace

quint16 commonBlockCrc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return quint16((crc >> 8) | (crc << 8));
}

SimDevice::SimDevice(const DeviceSetup &setup, const QDateTime &pcNow, bool aloneOnLine)
    : m_holding(kHoldingRegisters * 2, '\0'), m_waves(setup.inputs), m_started(pcNow),
      m_faults(setup.faults), m_answersZero(setup.answersZero.value_or(aloneOnLine))
{
    if (setup.clock) {
        const QDateTime wall(pcNow.date(), pcNow.time(), Qt::UTC);
        const QDateTime wanted(setup.clock->date(), setup.clock->time(), Qt::UTC);
        m_clockOffsetMs = wall.msecsTo(wanted);
    }
    buildMemory(setup);
    for (const auto &[n, on] : setup.coils) {
        if (n >= 0 && n < kCoils)
            m_coils[n] = on;
    }

    const QDateTime now = deviceTime(pcNow);
    // A pre-filled archive ends at the last cycle boundary before the start, as if the device
    // had been recording all along.
    const int cycle = registrationCycle();
    if (setup.archive.prefill > 0 && cycle > 0) {
        const qint64 last = (now.toSecsSinceEpoch() / cycle) * cycle;
        if (setup.archive.prefillAt >= 0) {
            // Older records under the previous mark before the prefill, so a reader walking
            // back across the ring's start stops where the prefill begins.
            const QDateTime older = QDateTime::fromSecsSinceEpoch(
                last - qint64(setup.archive.prefill) * cycle, Qt::UTC);
            const QByteArray filler =
                encodeArchiveRecord(quint8((recordMark() + 3) & 3), older, archiveValues(older));
            m_ring.fillSlots(filler);
            m_ring.startAt(setup.archive.prefillAt, int(filler.size()));
        }
        for (int i = setup.archive.prefill - 1; i >= 0; --i)
            writeRecord(QDateTime::fromSecsSinceEpoch(last - qint64(i) * cycle, Qt::UTC));
    }
    scheduleNextRecord(now);
    updateOutputs(now);
    updateAlarms(now);
}

void SimDevice::buildMemory(const DeviceSetup &s)
{
    QByteArray &m = m_holding;
    m[0] = char(s.firmware);
    m[1] = char(s.type);
    m[2] = char(s.release[0]);
    m[3] = char(s.release[1]);
    put16(m, 4, s.serial);
    m[pos::kAddress] = char(s.address);
    m[pos::kSpeedCode] = char(s.speedCode);
    m[pos::kVariant] = char(s.variant);

    for (int k = 0; k < 4; ++k) {
        const ChannelSetup &c = s.channels[k];
        const int at = pos::kChannel1 + k * pos::kChannelStride;
        m[at] = char((c.on ? 0x80 : 0) | ((c.sensorType & 7) << 4) | (c.characteristic & 15));
        m[at + 1] = char(c.pointPosition & 3);
        putFloat(m, at + 4, c.rangeStart);
        putFloat(m, at + 8, c.rangeEnd);
        put16(m, at + 16, 10); // filter 1.0 s
        putName(m, pos::kChannelName1 + k * pos::kNameStride,
                c.name.isEmpty() ? QStringLiteral("Вход %1").arg(k + 1) : c.name);
    }

    for (int n = 0; n < 2; ++n) {
        const LoopSetup &l = s.loops[n];
        const int at = pos::kLoop1 + n * pos::kLoopStride;
        m[at] = char((((l.input - 1) & 3) << 4) | (l.output & 7));
        m[at + 1] = char(l.law & 7);
        m[at + 2] = char(l.on ? 0x80 : 0);
        put16(m, at + 4, 600);   // To 60.0
        put16(m, at + 6, 10000); // Ko 1.0
        put16(m, at + 8, 50);    // Tz 5.0
        put16(m, at + 10, 300);  // actuator travel 30.0
        put16(m, at + 12, 50);   // minimum pulse 0.5
        m[at + 14] = char(5);
        m[at + 15] = char(5);
        m[at + 16] = char(1);
        put16(m, at + 18, quint16(scaled(l.setpoint, s.channels[(l.input - 1) & 3].pointPosition)));
        const int coeff = pos::kLoopCoeff1 + n * pos::kLoopCoeffStride;
        putFloat(m, coeff, l.kp);
        putFloat(m, coeff + 4, l.ki);
        putFloat(m, coeff + 8, l.kd);
        putName(m, pos::kLoopName1 + n * pos::kNameStride,
                l.name.isEmpty() ? QStringLiteral("Контур %1").arg(n + 1) : l.name);
    }

    for (int i = 0; i < 10; ++i)
        m[pos::kDisplay + i] = char(i + 1);

    for (int k = 0; k < 8; ++k) {
        const AlarmSetup &a = s.alarms[k];
        const int at = pos::kAlarms + k * pos::kAlarmStride;
        m[at] = char((a.on ? 0x80 : 0) | (((a.input - 1) & 3) << 5) | ((a.output & 3) << 3) |
                     (a.above ? 1 : 0));
        const int p = s.channels[(a.input - 1) & 3].pointPosition;
        put16(m, at + 2, quint16(scaled(a.threshold, p)));
        put16(m, at + 4, quint16(scaled(a.hysteresis, p)));
    }

    put16(m, pos::kCommon + 4, quint16(s.archive.cycleS));
    m[pos::kCommon + 6] = char((s.archive.parameters & 0x3F) | ((s.archive.mark & 3) << 6));
    m_coils[1] = s.archive.recording;

    for (int k = 0; k < 4; ++k) {
        const ProgramSetup &p = s.programs[k];
        if (!p.present)
            continue;
        const int at = pos::kProgram1 + k * pos::kProgramStride;
        m[at] = char(p.start.time().minute());
        m[at + 1] = char(p.start.time().hour());
        m[at + 2] = char(p.start.date().day() & 0x1F);
        m[at + 3] = char(p.start.date().month() & 0x0F);
        m[at + 4] = char(p.start.date().year() % 100);
        m[at + 5] = char(p.pointPosition & 3);
        const int count = std::min<int>(p.segments.size(), 32);
        m[at + 6] = char(count);
        for (int i = 0; i < count; ++i) {
            const SegmentSetup &seg = p.segments[i];
            put16(m, at + 8 + 2 * i, quint16(scaled(seg.start, p.pointPosition)));
            put16(m, at + 72 + 2 * i, quint16(scaled(seg.end, p.pointPosition)));
            put16(m, at + 136 + 2 * i, quint16(seg.seconds));
        }
    }

    for (const auto &[at, bytes] : s.holdingBytes) {
        if (at >= 0 && at + bytes.size() <= m.size())
            m.replace(at, bytes.size(), bytes);
    }
    sealCommonBlock();
}

void SimDevice::sealCommonBlock()
{
    const quint16 crc = commonBlockCrc(m_holding.mid(pos::kCommon, 12));
    put16(m_holding, pos::kCommon + 12, crc);
    m_holding.replace(pos::kCommonShadow, pos::kCommonSize,
                      m_holding.mid(pos::kCommon, pos::kCommonSize));
}

QDateTime SimDevice::deviceTime(const QDateTime &pcNow) const
{
    return QDateTime(pcNow.date(), pcNow.time(), Qt::UTC).addMSecs(m_clockOffsetMs);
}

int SimDevice::registrationCycle() const
{
    return get16(m_holding, pos::kCommon + 4);
}

int SimDevice::pointPosition(int input) const
{
    return quint8(m_holding[pos::kChannel1 + (input - 1) * pos::kChannelStride + 1]) & 3;
}

double SimDevice::inputValue(int k, const QDateTime &deviceTime) const
{
    const InputWave &w = m_waves[k - 1];
    if (w.amplitude == 0 || w.periodS <= 0)
        return w.base;
    const double t = double(deviceTime.toMSecsSinceEpoch() % 86400000LL) / 1000.0;
    return w.base + w.amplitude * std::sin(2 * M_PI * t / w.periodS + k);
}

void SimDevice::updateOutputs(const QDateTime &deviceTime)
{
    std::array<double, 7> outputs{};
    for (int n = 0; n < 2; ++n) {
        const int at = pos::kLoop1 + n * pos::kLoopStride;
        const quint8 b0 = quint8(m_holding[at]);
        const int input = ((b0 >> 4) & 3) + 1;
        const int output = b0 & 7;
        if (output == 0)
            continue;
        const bool on = quint8(m_holding[at + 2]) & 0x80;
        const bool manual = m_coils[4 + n];
        if (!on && !manual)
            continue; // a loop that is off leaves its output alone
        double y = 0;
        if (manual) {
            y = m_outputs[output];
        } else {
            const double sp =
                qint16(get16(m_holding, at + 18)) / std::pow(10.0, pointPosition(input));
            const float kp = getFloat(m_holding, pos::kLoopCoeff1 + n * pos::kLoopCoeffStride);
            const double x = inputValue(input, deviceTime);
            y = std::clamp(50.0 + double(std::isfinite(kp) ? kp : 1.0f) * (sp - x), 0.0, 100.0);
        }
        outputs[output] = y;
    }
    for (int k = 0; k < 8; ++k) {
        const int out = (quint8(m_holding[pos::kAlarms + k * pos::kAlarmStride]) >> 3) & 3;
        if (out > 0 && m_alarmTripped[k])
            outputs[2 + out] = 100;
    }
    m_outputs = outputs;
}

void SimDevice::updateAlarms(const QDateTime &deviceTime)
{
    for (int k = 0; k < 8; ++k) {
        const int at = pos::kAlarms + k * pos::kAlarmStride;
        const quint8 b0 = quint8(m_holding[at]);
        if (!(b0 & 0x80)) {
            m_alarmTripped[k] = false;
        } else {
            const int input = ((b0 >> 5) & 3) + 1;
            const double scale = std::pow(10.0, pointPosition(input));
            const double threshold = qint16(get16(m_holding, at + 2)) / scale;
            const double hysteresis = get16(m_holding, at + 4) / scale;
            const double x = inputValue(input, deviceTime);
            bool &tripped = m_alarmTripped[k];
            // The hysteresis keeps a tripped comparator on until the value is back past it.
            if (b0 & 1)
                tripped = tripped ? x > threshold - hysteresis : x > threshold;
            else
                tripped = tripped ? x < threshold + hysteresis : x < threshold;
        }
        m_discrete[16 + k] = m_alarmTripped[k];
    }
}

QList<qint16> SimDevice::archiveValues(const QDateTime &deviceTime)
{
    const quint8 mask = archiveParameters();
    QList<qint16> values;
    for (int k = 1; k <= 4; ++k) {
        if (mask & (1 << (k - 1)))
            values.append(scaled(inputValue(k, deviceTime), pointPosition(k)));
    }
    if (mask & 0x30)
        updateOutputs(deviceTime);
    for (int y = 1; y <= 2; ++y) {
        if (mask & (1 << (3 + y)))
            values.append(scaled(m_outputs[y], 2));
    }
    return values;
}

void SimDevice::writeRecord(const QDateTime &at)
{
    m_ring.append(encodeArchiveRecord(recordMark(), at, archiveValues(at)));
}

void SimDevice::scheduleNextRecord(const QDateTime &deviceTime)
{
    const int cycle = registrationCycle();
    if (!m_coils[1] || cycle <= 0) {
        m_nextRecord = QDateTime();
        return;
    }
    const qint64 now = deviceTime.toSecsSinceEpoch();
    m_nextRecord = QDateTime::fromSecsSinceEpoch((now / cycle + 1) * cycle, Qt::UTC);
}

void SimDevice::advanceTo(const QDateTime &pcNow)
{
    const QDateTime now = deviceTime(pcNow);
    if (m_nextRecord.isValid()) {
        const int cycle = registrationCycle();
        // A device that was not asked for a long time catches up at most one ring's worth.
        const int maxRecords = kRingBytes / (2 * archiveRecordRegisters(archiveParameters())) + 1;
        int written = 0;
        while (m_nextRecord <= now && written < maxRecords) {
            writeRecord(m_nextRecord);
            m_nextRecord = m_nextRecord.addSecs(cycle);
            ++written;
        }
        if (m_nextRecord <= now)
            scheduleNextRecord(now);
    }
    updateAlarms(now);
    updateOutputs(now);
}

QByteArray SimDevice::liveRegisters(const QDateTime &pcNow)
{
    advanceTo(pcNow);
    const QDateTime now = deviceTime(pcNow);
    QByteArray r(104, '\0');
    for (int k = 1; k <= 4; ++k)
        putFloat(r, 4 * (k - 1), float(inputValue(k, now)));
    // Outputs Y1..Y4 follow the inputs; Y5 and Y6 would overlap the cold-junction temperature,
    // which the loop view needs, so they are not presented.
    for (int a = 1; a <= 4; ++a)
        putFloat(r, 2 * (6 + 2 * a), float(m_outputs[a]));
    const double t = double(now.toMSecsSinceEpoch() % 86400000LL) / 1000.0;
    putFloat(r, 2 * 17, float(23.5 + 0.5 * std::sin(2 * M_PI * t / 600)));
    r[2 * 21] = char(20); // measuring period, 20 x 5 ms
    const qint64 ticks = m_started.msecsTo(pcNow) / 5;
    for (int n = 0; n < 2; ++n) {
        const int at = pos::kLoop1 + n * pos::kLoopStride;
        const int input = ((quint8(m_holding[at]) >> 4) & 3) + 1;
        const double sp = qint16(get16(m_holding, at + 18)) / std::pow(10.0, pointPosition(input));
        const double x = inputValue(input, now);
        const quint32 period = 2000; // 10 s in ticks of 5 ms
        put32(r, 2 * (22 + 2 * n), quint32(ticks));
        put16(r, 2 * (26 + n), quint16(ticks % 100));
        r[2 * 28 + n] = char(sp > x ? 1 : (sp < x ? -1 : 0));
        put32(r, 2 * (29 + 2 * n), quint32(period - ticks % period));
        putFloat(r, 2 * (33 + 2 * n), float(sp));
        put32(r, 2 * (37 + 2 * n), period / 4);
    }
    put16(r, 2 * 50, m_ring.writePosition());
    return r;
}

QByteArray SimDevice::readInputRegisters(int first, int count, const QDateTime &pcNow)
{
    QByteArray data;
    data.reserve(2 * count);
    if (first < kRingFirstRegister) {
        const QByteArray live = liveRegisters(pcNow);
        const int end = std::min(first + count, kRingFirstRegister);
        data.append(live.mid(2 * first, 2 * (end - first)));
    } else {
        advanceTo(pcNow);
    }
    const int ringFirst = std::max(first, kRingFirstRegister);
    const int ringEnd = first + count;
    if (ringEnd > ringFirst) {
        data.append(
            m_ring.bytes().mid(2 * (ringFirst - kRingFirstRegister), 2 * (ringEnd - ringFirst)));
    }
    // The ring's odd byte count leaves the last register half outside it.
    data.append(QByteArray(2 * count - data.size(), '\0'));
    return data;
}

void SimDevice::writeHolding(int firstRegister, const QByteArray &data, const QDateTime &pcNow)
{
    const int from = 2 * firstRegister;
    const int to = from + int(data.size()); // exclusive
    auto touches = [&](int a, int b) { return from < b && to > a; };

    const QByteArray commonBefore = m_holding.mid(pos::kCommon, pos::kCommonSize);
    const QDateTime now = deviceTime(pcNow);
    QByteArray clockBytes;
    if (touches(pos::kClock, pos::kClock + 6)) {
        clockBytes.resize(6);
        const QDate d = now.date();
        const QTime t = now.time();
        const int current[6] = {d.day(),  d.month(),  d.year() % 100,
                                t.hour(), t.minute(), t.second()};
        for (int i = 0; i < 6; ++i)
            clockBytes[i] = char(current[i]);
    }

    for (int i = 0; i < data.size(); ++i) {
        const int at = from + i;
        if (at < 18) {
            if (at == pos::kAddress || at == pos::kSpeedCode) {
                if (!m_pendingLine)
                    m_pendingLine = {address(), quint8(speedCode())};
                (at == pos::kAddress ? m_pendingLine->first : m_pendingLine->second) =
                    quint8(data[i]);
            } else if (at >= pos::kClock) {
                clockBytes[at - pos::kClock] = data[i];
            }
            // Type, firmware, release date, serial number and variant are fixed in the
            // device; writes to them are taken and ignored.
            continue;
        }
        m_holding[at] = data[i];
    }

    if (!clockBytes.isEmpty()) {
        const QDate date{2000 + quint8(clockBytes[2]), quint8(clockBytes[1]),
                         quint8(clockBytes[0])};
        const QTime time{quint8(clockBytes[3]), quint8(clockBytes[4]), quint8(clockBytes[5])};
        if (date.isValid() && time.isValid()) {
            const QDateTime set(date, time, Qt::UTC);
            m_clockOffsetMs = QDateTime(pcNow.date(), pcNow.time(), Qt::UTC).msecsTo(set);
            scheduleNextRecord(deviceTime(pcNow));
        }
    }

    if (touches(pos::kCommon, pos::kCommon + pos::kCommonSize)) {
        const quint8 oldSetting = quint8(commonBefore[6]);
        const quint8 newSetting = quint8(m_holding[pos::kCommon + 6]);
        if ((oldSetting & 0x3F) != (newSetting & 0x3F)) {
            // Records of the old parameter set would be misread with the new length: move
            // to the next mark, which invalidates them, and begin again at the ring's start.
            const quint8 mark = quint8(((oldSetting >> 6) + 1) & 3);
            m_holding[pos::kCommon + 6] = char((newSetting & 0x3F) | (mark << 6));
            m_ring.restart();
            sealCommonBlock();
        } else if ((oldSetting & 0xC0) != (newSetting & 0xC0)) {
            // The mark is the device's own; a writer only carries it back.
            m_holding[pos::kCommon + 6] = char((newSetting & 0x3F) | (oldSetting & 0xC0));
        }
        if (get16(commonBefore, 4) != registrationCycle() ||
            (oldSetting & 0x3F) != (newSetting & 0x3F))
            scheduleNextRecord(deviceTime(pcNow));
    }
}

void SimDevice::writeCoils(int first, int count, const QByteArray &packed, const QDateTime &pcNow)
{
    const bool wasRecording = m_coils[1];
    for (int i = 0; i < count; ++i)
        m_coils[first + i] = (quint8(packed[i / 8]) >> (i % 8)) & 1;
    if (m_coils[1] != wasRecording)
        scheduleNextRecord(deviceTime(pcNow));
}

QByteArray SimDevice::handle(const QByteArray &request, const QDateTime &pcNow, int forcedException)
{
    const quint8 addr = address();
    if (request.size() < 2)
        return {};
    const quint8 function = quint8(request[1]);
    auto word = [&](int at) { return (quint8(request[at]) << 8) | quint8(request[at + 1]); };

    int space = 0;
    int maxCount = 0;
    switch (function) {
    case 1:
    case 15:
        space = kCoils;
        maxCount = function == 1 ? 2000 : 0x7B0;
        break;
    case 2:
        space = kDiscreteInputs;
        maxCount = 2000;
        break;
    case 3:
    case 16:
        space = kHoldingRegisters;
        maxCount = function == 3 ? 125 : 123;
        break;
    case 4:
        space = kInputRegisters;
        maxCount = 125;
        break;
    default:
        return exceptionReply(addr, function, kIllegalFunction);
    }

    if (request.size() < 6)
        return exceptionReply(addr, function, kIllegalValue);
    const int first = word(2);
    const int count = word(4);
    if (count < 1 || count > maxCount)
        return exceptionReply(addr, function, kIllegalValue);
    if (function == 15 || function == 16) {
        const int expected = function == 15 ? (count + 7) / 8 : 2 * count;
        if (request.size() < 7 || quint8(request[6]) != expected || request.size() != 7 + expected)
            return exceptionReply(addr, function, kIllegalValue);
    } else if (request.size() != 6) {
        return exceptionReply(addr, function, kIllegalValue);
    }
    if (first + count > space)
        return exceptionReply(addr, function, kIllegalAddress);
    if (forcedException)
        return exceptionReply(addr, function, forcedException);
    if (function == 16 || function == 3 || function == 1) {
        const auto &refused = function == 16  ? m_faults.refusedWrites
                              : function == 3 ? m_faults.refusedReads
                                              : m_faults.refusedCoilReads;
        for (const auto &[low, high] : refused) {
            if (first <= high && first + count - 1 >= low)
                return exceptionReply(addr, function, kDeviceFailure);
        }
    }

    QByteArray reply;
    reply.append(char(addr));
    reply.append(char(function));
    switch (function) {
    case 1: {
        const QByteArray packed = packBits(m_coils.data() + first, count);
        reply.append(char(packed.size()));
        reply.append(packed);
        break;
    }
    case 2: {
        advanceTo(pcNow);
        const QByteArray packed = packBits(m_discrete.data() + first, count);
        reply.append(char(packed.size()));
        reply.append(packed);
        break;
    }
    case 3: {
        advanceTo(pcNow);
        QByteArray data = m_holding.mid(2 * first, 2 * count);
        // The clock is read live.
        const QDateTime now = deviceTime(pcNow);
        const int clock[6] = {now.date().day(),  now.date().month(),  now.date().year() % 100,
                              now.time().hour(), now.time().minute(), now.time().second()};
        for (int i = 0; i < 6; ++i) {
            const int at = pos::kClock + i - 2 * first;
            if (at >= 0 && at < data.size())
                data[at] = char(clock[i]);
        }
        reply.append(char(data.size()));
        reply.append(data);
        break;
    }
    case 4: {
        const QByteArray data = readInputRegisters(first, count, pcNow);
        reply.append(char(data.size()));
        reply.append(data);
        break;
    }
    case 15:
        advanceTo(pcNow);
        writeCoils(first, count, request.mid(7), pcNow);
        reply.append(request.mid(2, 4));
        break;
    case 16:
        advanceTo(pcNow);
        writeHolding(first, request.mid(7), pcNow);
        reply.append(request.mid(2, 4));
        break;
    }
    return reply;
}

void SimDevice::applyPendingChanges()
{
    if (!m_pendingLine)
        return;
    const auto [newAddress, newSpeed] = *m_pendingLine;
    m_pendingLine.reset();
    // A device keeps settings it cannot use rather than drop off the line.
    if (newAddress >= 1 && newAddress <= 247)
        m_holding[pos::kAddress] = char(newAddress);
    if (newSpeed <= 4)
        m_holding[pos::kSpeedCode] = char(newSpeed);
}

} // namespace devsim
