#include "devsim/scenario.h"

#include "devsim/archivering.h"

#include <QRegularExpression>
#include <QStringList>

namespace devsim {

namespace {

class Failure
{
public:
    explicit Failure(QString text) : m_text(std::move(text)) {}
    const QString &text() const { return m_text; }

private:
    QString m_text;
};

int toInt(const QString &s, int low, int high, int base = 0)
{
    bool ok = false;
    const int v = s.toInt(&ok, base);
    if (!ok || v < low || v > high)
        throw Failure(QStringLiteral("'%1' is not a number in %2..%3").arg(s).arg(low).arg(high));
    return v;
}

double toDouble(const QString &s)
{
    bool ok = false;
    const double v = s.toDouble(&ok);
    if (!ok)
        throw Failure(QStringLiteral("'%1' is not a number").arg(s));
    return v;
}

double toProbability(const QString &s)
{
    const double p = toDouble(s);
    if (p < 0 || p > 1)
        throw Failure(QStringLiteral("probability '%1' is not in 0..1").arg(s));
    return p;
}

bool toSwitch(const QString &s)
{
    if (s == QLatin1String("on"))
        return true;
    if (s == QLatin1String("off"))
        return false;
    throw Failure(QStringLiteral("expected on or off, not '%1'").arg(s));
}

QDateTime toDateTime(const QString &date, const QString &time)
{
    QDate d = QDate::fromString(date, QStringLiteral("dd.MM.yyyy"));
    if (!d.isValid()) {
        d = QDate::fromString(date, QStringLiteral("dd.MM.yy"));
        if (d.isValid() && d.year() < 2000)
            d = d.addYears(100);
    }
    QTime t = QTime::fromString(time, QStringLiteral("HH:mm:ss"));
    if (!t.isValid())
        t = QTime::fromString(time, QStringLiteral("HH:mm"));
    if (!d.isValid() || !t.isValid())
        throw Failure(QStringLiteral("'%1 %2' is not a date and time").arg(date, time));
    return QDateTime(d, t);
}

// Walks "key value" pairs and bare words after the first token of a line.
class Words
{
public:
    explicit Words(QStringList words) : m_words(std::move(words)) {}
    bool atEnd() const { return m_at >= m_words.size(); }
    QString next()
    {
        if (atEnd())
            throw Failure(QStringLiteral("missing value after '%1'").arg(m_words.value(m_at - 1)));
        return m_words[m_at++];
    }
    QString peekOr(const QString &fallback) const { return atEnd() ? fallback : m_words[m_at]; }

private:
    QStringList m_words;
    int m_at = 0;
};

class Parser
{
public:
    Scenario run(const QString &text);

private:
    void parseLine(const QString &keyword, Words &w, const QString &rest);
    DeviceSetup &device(const QString &keyword);
    void channel(Words &w);
    void loop(Words &w);
    void alarm(Words &w);
    void archive(Words &w);
    void fault(Words &w);

    Scenario m_scenario;
    LineSetup *m_line = nullptr;
    DeviceSetup *m_device = nullptr;
    ProgramSetup *m_program = nullptr;
};

DeviceSetup &Parser::device(const QString &keyword)
{
    if (!m_device)
        throw Failure(QStringLiteral("'%1' before any device").arg(keyword));
    return *m_device;
}

Scenario Parser::run(const QString &text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")));
        const QString keyword = words.takeFirst();
        // Names keep their inner blanks: the rest of the line after the keyword and number.
        const QString rest = line.section(QRegularExpression(QStringLiteral("\\s+")), 2);
        try {
            Words w(words);
            parseLine(keyword, w, rest);
            if (!w.atEnd() && !keyword.endsWith(QLatin1String("-name")))
                throw Failure(QStringLiteral("unexpected '%1'").arg(w.next()));
        } catch (const Failure &f) {
            throw Failure(QStringLiteral("line %1: %2").arg(i + 1).arg(f.text()));
        }
    }
    if (m_scenario.lines.isEmpty())
        throw Failure(QStringLiteral("no line defined"));
    for (LineSetup &l : m_scenario.lines) {
        if (l.devices.isEmpty())
            throw Failure(QStringLiteral("COM%1 has no device").arg(l.port));
    }
    return m_scenario;
}

void Parser::parseLine(const QString &keyword, Words &w, const QString &rest)
{
    if (keyword == QLatin1String("line")) {
        const int port = toInt(w.next(), 1, 255);
        for (const LineSetup &l : std::as_const(m_scenario.lines)) {
            if (l.port == port)
                throw Failure(QStringLiteral("COM%1 defined twice").arg(port));
        }
        m_scenario.lines.append(LineSetup{});
        m_line = &m_scenario.lines.last();
        m_line->port = port;
        m_device = nullptr;
        m_program = nullptr;
        return;
    }
    if (keyword == QLatin1String("turnaround") || keyword == QLatin1String("pacing") ||
        keyword == QLatin1String("monitor") || keyword == QLatin1String("device")) {
        if (!m_line)
            throw Failure(QStringLiteral("'%1' before any line").arg(keyword));
    }
    if (keyword == QLatin1String("turnaround")) {
        m_line->turnaroundMs = toInt(w.next(), 0, 10000);
    } else if (keyword == QLatin1String("pacing")) {
        m_line->pacing = toSwitch(w.next());
    } else if (keyword == QLatin1String("monitor")) {
        m_line->monitor = toSwitch(w.next());
    } else if (keyword == QLatin1String("device")) {
        DeviceSetup d;
        d.address = quint8(toInt(w.next(), 1, 247));
        d.speedCode = quint8(toInt(w.next(), 0, 4));
        for (const DeviceSetup &other : std::as_const(m_line->devices)) {
            if (other.address == d.address)
                throw Failure(QStringLiteral("address %1 used twice on COM%2")
                                  .arg(d.address)
                                  .arg(m_line->port));
        }
        d.faults.seed = quint32(m_line->port * 1000 + d.address);
        m_line->devices.append(d);
        m_device = &m_line->devices.last();
        m_program = nullptr;
    } else if (keyword == QLatin1String("type")) {
        device(keyword).type = quint8(toInt(w.next(), 0, 255));
    } else if (keyword == QLatin1String("firmware")) {
        device(keyword).firmware = quint8(toInt(w.next(), 0, 255));
    } else if (keyword == QLatin1String("release")) {
        DeviceSetup &d = device(keyword);
        d.release[0] = quint8(toInt(w.next(), 0, 255, 16));
        d.release[1] = quint8(toInt(w.next(), 0, 255, 16));
    } else if (keyword == QLatin1String("serial")) {
        device(keyword).serial = quint16(toInt(w.next(), 0, 0xFFFF, 16));
    } else if (keyword == QLatin1String("variant")) {
        device(keyword).variant = quint8(toInt(w.next(), 0, 255, 16));
    } else if (keyword == QLatin1String("answers-zero")) {
        device(keyword).answersZero = toSwitch(w.next());
    } else if (keyword == QLatin1String("clock")) {
        DeviceSetup &d = device(keyword);
        const QString date = w.next();
        d.clock = toDateTime(date, w.next());
    } else if (keyword == QLatin1String("input")) {
        DeviceSetup &d = device(keyword);
        InputWave &wave = d.inputs[toInt(w.next(), 1, 4) - 1];
        wave.base = toDouble(w.next());
        if (!w.atEnd()) {
            wave.amplitude = toDouble(w.next());
            wave.periodS = toDouble(w.next());
            if (wave.periodS <= 0)
                throw Failure(QStringLiteral("the period must be positive"));
        }
    } else if (keyword == QLatin1String("channel")) {
        channel(w);
    } else if (keyword == QLatin1String("channel-name")) {
        device(keyword).channels[toInt(w.next(), 1, 4) - 1].name = rest;
    } else if (keyword == QLatin1String("loop")) {
        loop(w);
    } else if (keyword == QLatin1String("loop-name")) {
        device(keyword).loops[toInt(w.next(), 1, 2) - 1].name = rest;
    } else if (keyword == QLatin1String("alarm")) {
        alarm(w);
    } else if (keyword == QLatin1String("program")) {
        DeviceSetup &d = device(keyword);
        m_program = &d.programs[toInt(w.next(), 1, 4) - 1];
        m_program->present = true;
        m_program->segments.clear();
        m_program->start = QDateTime(QDate(2000, 1, 1), QTime(0, 0));
        while (!w.atEnd()) {
            const QString key = w.next();
            if (key == QLatin1String("start")) {
                const QString date = w.next();
                m_program->start = toDateTime(date, w.next());
            } else if (key == QLatin1String("point")) {
                m_program->pointPosition = toInt(w.next(), 0, 3);
            } else {
                throw Failure(QStringLiteral("unknown program setting '%1'").arg(key));
            }
        }
    } else if (keyword == QLatin1String("segment")) {
        if (!m_program)
            throw Failure(QStringLiteral("'segment' outside a program"));
        if (m_program->segments.size() >= 32)
            throw Failure(QStringLiteral("a program holds at most 32 segments"));
        SegmentSetup s;
        s.start = toDouble(w.next());
        s.end = toDouble(w.next());
        s.seconds = toInt(w.next(), 0, 65535);
        m_program->segments.append(s);
    } else if (keyword == QLatin1String("archive")) {
        archive(w);
    } else if (keyword == QLatin1String("holding")) {
        DeviceSetup &d = device(keyword);
        const int at = toInt(w.next(), 0, 3359);
        const QString hex = w.next();
        const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
        if (hex.size() % 2 != 0 || bytes.size() * 2 != hex.size() ||
            !QRegularExpression(QStringLiteral("^[0-9A-Fa-f]+$")).match(hex).hasMatch())
            throw Failure(QStringLiteral("'%1' is not a run of hexadecimal pairs").arg(hex));
        if (at + bytes.size() > 3360)
            throw Failure(QStringLiteral("bytes run past the last holding register"));
        d.holdingBytes.append({at, bytes});
    } else if (keyword == QLatin1String("coil")) {
        DeviceSetup &d = device(keyword);
        const int n = toInt(w.next(), 0, 15);
        d.coils.append({n, toInt(w.next(), 0, 1) == 1});
    } else if (keyword == QLatin1String("fault")) {
        fault(w);
    } else {
        throw Failure(QStringLiteral("unknown keyword '%1'").arg(keyword));
    }
}

void Parser::channel(Words &w)
{
    ChannelSetup &c = device(QStringLiteral("channel")).channels[toInt(w.next(), 1, 4) - 1];
    while (!w.atEnd()) {
        const QString key = w.next();
        if (key == QLatin1String("on") || key == QLatin1String("off"))
            c.on = key == QLatin1String("on");
        else if (key == QLatin1String("type"))
            c.sensorType = toInt(w.next(), 0, 3);
        else if (key == QLatin1String("char"))
            c.characteristic = toInt(w.next(), 0, 6);
        else if (key == QLatin1String("point"))
            c.pointPosition = toInt(w.next(), 0, 3);
        else if (key == QLatin1String("range")) {
            c.rangeStart = float(toDouble(w.next()));
            c.rangeEnd = float(toDouble(w.next()));
        } else
            throw Failure(QStringLiteral("unknown channel setting '%1'").arg(key));
    }
}

void Parser::loop(Words &w)
{
    LoopSetup &l = device(QStringLiteral("loop")).loops[toInt(w.next(), 1, 2) - 1];
    while (!w.atEnd()) {
        const QString key = w.next();
        if (key == QLatin1String("on") || key == QLatin1String("off"))
            l.on = key == QLatin1String("on");
        else if (key == QLatin1String("input"))
            l.input = toInt(w.next(), 1, 4);
        else if (key == QLatin1String("output"))
            l.output = toInt(w.next(), 0, 6);
        else if (key == QLatin1String("law"))
            l.law = toInt(w.next(), 0, 6);
        else if (key == QLatin1String("setpoint"))
            l.setpoint = toDouble(w.next());
        else if (key == QLatin1String("kp"))
            l.kp = float(toDouble(w.next()));
        else if (key == QLatin1String("ki"))
            l.ki = float(toDouble(w.next()));
        else if (key == QLatin1String("kd"))
            l.kd = float(toDouble(w.next()));
        else
            throw Failure(QStringLiteral("unknown loop setting '%1'").arg(key));
    }
}

void Parser::alarm(Words &w)
{
    AlarmSetup &a = device(QStringLiteral("alarm")).alarms[toInt(w.next(), 1, 8) - 1];
    while (!w.atEnd()) {
        const QString key = w.next();
        if (key == QLatin1String("on") || key == QLatin1String("off"))
            a.on = key == QLatin1String("on");
        else if (key == QLatin1String("above") || key == QLatin1String("below"))
            a.above = key == QLatin1String("above");
        else if (key == QLatin1String("input"))
            a.input = toInt(w.next(), 1, 4);
        else if (key == QLatin1String("threshold"))
            a.threshold = toDouble(w.next());
        else if (key == QLatin1String("hysteresis"))
            a.hysteresis = toDouble(w.next());
        else if (key == QLatin1String("output")) {
            const QString out = w.next();
            static const QStringList outputs = {QStringLiteral("none"), QStringLiteral("Y3"),
                                                QStringLiteral("Y4"), QStringLiteral("Y5")};
            a.output = int(outputs.indexOf(out));
            if (a.output < 0)
                throw Failure(
                    QStringLiteral("alarm output is none, Y3, Y4 or Y5, not '%1'").arg(out));
        } else
            throw Failure(QStringLiteral("unknown alarm setting '%1'").arg(key));
    }
}

void Parser::archive(Words &w)
{
    ArchiveSetup &a = device(QStringLiteral("archive")).archive;
    while (!w.atEnd()) {
        const QString key = w.next();
        if (key == QLatin1String("on") || key == QLatin1String("off"))
            a.recording = key == QLatin1String("on");
        else if (key == QLatin1String("cycle"))
            a.cycleS = toInt(w.next(), 0, 9999);
        else if (key == QLatin1String("mark"))
            a.mark = quint8(toInt(w.next(), 0, 3));
        else if (key == QLatin1String("prefill"))
            a.prefill = toInt(w.next(), 0, 100000);
        else if (key == QLatin1String("at"))
            a.prefillAt = toInt(w.next(), 0, kRingBytes - 1);
        else if (key == QLatin1String("params")) {
            static const QStringList names = {QStringLiteral("X1"), QStringLiteral("X2"),
                                              QStringLiteral("X3"), QStringLiteral("X4"),
                                              QStringLiteral("Y1"), QStringLiteral("Y2")};
            a.parameters = 0;
            const QString list = w.next();
            if (list != QLatin1String("none")) {
                for (const QString &name : list.split(QLatin1Char(','))) {
                    const int bit = int(names.indexOf(name));
                    if (bit < 0)
                        throw Failure(QStringLiteral("unknown archive parameter '%1'").arg(name));
                    a.parameters |= quint8(1 << bit);
                }
            }
        } else
            throw Failure(QStringLiteral("unknown archive setting '%1'").arg(key));
    }
}

void Parser::fault(Words &w)
{
    FaultSettings &f = device(QStringLiteral("fault")).faults;
    const QString kind = w.next();
    auto optionalProbability = [&] { return w.atEnd() ? 1.0 : toProbability(w.next()); };
    if (kind == QLatin1String("seed")) {
        f.seed = quint32(w.next().toUInt());
    } else if (kind == QLatin1String("drop")) {
        f.drop = optionalProbability();
    } else if (kind == QLatin1String("corrupt-lrc")) {
        f.corruptLrc = optionalProbability();
    } else if (kind == QLatin1String("no-crlf")) {
        f.noCrLf = optionalProbability();
    } else if (kind == QLatin1String("noise")) {
        f.noise = optionalProbability();
        if (!w.atEnd())
            f.noiseChars = toInt(w.next(), 1, 64);
    } else if (kind == QLatin1String("late")) {
        f.lateMs = toInt(w.next(), 0, 60000);
        f.late = optionalProbability();
    } else if (kind == QLatin1String("split")) {
        f.splitPieces = toInt(w.next(), 2, 64);
        f.splitPauseMs = toInt(w.next(), 0, 60000);
        f.split = optionalProbability();
    } else if (kind == QLatin1String("exception")) {
        f.exceptionCode = toInt(w.next(), 1, 255);
        f.exception = optionalProbability();
    } else {
        throw Failure(QStringLiteral("unknown fault '%1'").arg(kind));
    }
}

} // namespace

ScenarioParse parseScenario(const QString &text)
{
    ScenarioParse result;
    try {
        Parser parser;
        result.scenario = parser.run(text);
    } catch (const Failure &f) {
        result.error = f.text();
    }
    return result;
}

int speedForCode(int code)
{
    static constexpr int kSpeeds[] = {9600, 19200, 38400, 57600, 115200};
    return code >= 0 && code < 5 ? kSpeeds[code] : 0;
}

QString defaultScenarioText()
{
    return QStringLiteral(R"(# Demo plant: three regulators on COM1, each at its own line speed.
line 1
turnaround 5
pacing on
# COM1-monitor carries a copy of the line's traffic: lorvan-cli monitor watches it.
monitor on

# A furnace regulator with setpoint programs and an archive of 300 records.
device 1 4
type 3
firmware 105
release 05 03
serial 1A01
variant 05
input 1 250 30 300
input 2 180 12 240
input 3 95 4 120
input 4 21 0.5 900
channel-name 1 Печь
channel-name 2 Зона 2
channel-name 3 Вода
channel-name 4 Цех
channel 4 type 2 char 1 point 1 range -50 150
loop 1 on input 1 output 1 law 0 setpoint 250 kp 2 ki 0.05 kd 10
loop-name 1 Печь
loop 2 on input 2 output 2 law 1 setpoint 180 kp 1.5
alarm 1 on input 1 above threshold 270 hysteresis 2 output Y3
alarm 2 on input 3 below threshold 92 hysteresis 1
archive on cycle 10 params X1,X2,X3,X4,Y1 mark 1 prefill 300
program 1 start 01.12.26 08:00 point 1
segment 20 250 1800
segment 250 250 3600
segment 250 40 2400
program 2 start 02.12.26 06:30 point 0
segment 20 600 3600
segment 600 600 7200
segment 600 20 5400

# A second regulator of the same family, no options.
device 2 1
type 3
firmware 104
release 11 02
serial 1A02
variant 00
input 1 65 3 180
input 2 64 3 200
input 3 40 0 60
input 4 38 0 60

# A device of the other family at the slowest speed.
device 5 0
type 2
firmware 112
release 02 04
serial 0B05
variant 00
input 1 12.5 0.4 90
input 2 4.2 0.1 90
input 3 0 0 60
input 4 0 0 60
)");
}

Scenario defaultScenario()
{
    return *parseScenario(defaultScenarioText()).scenario;
}

} // namespace devsim
