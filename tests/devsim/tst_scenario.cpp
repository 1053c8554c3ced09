#include "devsim/scenario.h"

#include <QTest>

using namespace devsim;

class TestScenario : public QObject
{
    Q_OBJECT

private slots:
    void defaultScenarioIsTheDemoPlant()
    {
        const ScenarioParse parsed = parseScenario(defaultScenarioText());
        QVERIFY2(parsed.scenario, qPrintable(parsed.error));
        const Scenario &s = *parsed.scenario;
        QCOMPARE(s.lines.size(), 1);
        QCOMPARE(s.lines[0].port, 1);
        QList<int> addresses, speeds;
        int withPrograms = 0;
        for (const DeviceSetup &d : s.lines[0].devices) {
            addresses << d.address;
            speeds << speedForCode(d.speedCode);
            if ((d.variant & 0x05) == 0x05 && d.programs[0].present && d.archive.prefill >= 200)
                ++withPrograms;
        }
        QCOMPARE(addresses, (QList<int>{1, 2, 5}));
        QCOMPARE(QSet<int>(speeds.begin(), speeds.end()).size(), 3);
        for (int speed : speeds)
            QVERIFY(speed >= 9600);
        QCOMPARE(withPrograms, 1);
    }

    void parsesEverySetting()
    {
        const ScenarioParse parsed = parseScenario(QStringLiteral(R"(
# comment
line 3          # trailing comment
turnaround 12
pacing off
device 17 2
type 2
firmware 99
release 0A 1f
serial beef
variant A5
answers-zero on
clock 28.02.2027 23:59:30
input 2 100.5 3.5 30
channel 3 off type 2 char 1 point 2 range 4 20
channel-name 3 Давление в баке
loop 2 on input 3 output 2 law 1 setpoint 12.5 kp 1.5 ki 0.25 kd 3
loop-name 2 Насос
alarm 8 on input 4 below threshold -5.5 hysteresis 0.5 output Y5
program 4 start 01.12.26 08:30 point 1
segment 20 100 600
segment 100 100 60
archive on cycle 30 params X2,Y2 mark 3 prefill 12
holding 0x100 CAFE01
coil 5 1
fault seed 99
fault drop 0.25
fault corrupt-lrc
fault noise 0.5 7
fault no-crlf 0.1
fault late 300 0.2
fault split 4 15
fault exception 6 0.75
)"));
        QVERIFY2(parsed.scenario, qPrintable(parsed.error));
        const LineSetup &l = parsed.scenario->lines.value(0);
        QCOMPARE(l.port, 3);
        QCOMPARE(l.turnaroundMs, 12);
        QCOMPARE(l.pacing, false);
        const DeviceSetup &d = l.devices.value(0);
        QCOMPARE(d.address, 17);
        QCOMPARE(d.speedCode, 2);
        QCOMPARE(d.type, 2);
        QCOMPARE(d.firmware, 99);
        QCOMPARE(d.release[0], 0x0A);
        QCOMPARE(d.release[1], 0x1F);
        QCOMPARE(d.serial, 0xBEEF);
        QCOMPARE(d.variant, 0xA5);
        QCOMPARE(d.answersZero, std::optional<bool>(true));
        QCOMPARE(*d.clock, QDateTime(QDate(2027, 2, 28), QTime(23, 59, 30)));
        QCOMPARE(d.inputs[1].base, 100.5);
        QCOMPARE(d.inputs[1].amplitude, 3.5);
        QCOMPARE(d.inputs[1].periodS, 30.0);
        QCOMPARE(d.channels[2].on, false);
        QCOMPARE(d.channels[2].sensorType, 2);
        QCOMPARE(d.channels[2].characteristic, 1);
        QCOMPARE(d.channels[2].pointPosition, 2);
        QCOMPARE(d.channels[2].rangeEnd, 20.0f);
        QCOMPARE(d.channels[2].name, QStringLiteral("Давление в баке"));
        QCOMPARE(d.loops[1].on, true);
        QCOMPARE(d.loops[1].input, 3);
        QCOMPARE(d.loops[1].output, 2);
        QCOMPARE(d.loops[1].setpoint, 12.5);
        QCOMPARE(d.loops[1].ki, 0.25f);
        QCOMPARE(d.loops[1].name, QStringLiteral("Насос"));
        QCOMPARE(d.alarms[7].on, true);
        QCOMPARE(d.alarms[7].above, false);
        QCOMPARE(d.alarms[7].threshold, -5.5);
        QCOMPARE(d.alarms[7].output, 3);
        QCOMPARE(d.programs[3].present, true);
        QCOMPARE(d.programs[3].start, QDateTime(QDate(2026, 12, 1), QTime(8, 30)));
        QCOMPARE(d.programs[3].segments.size(), 2);
        QCOMPARE(d.programs[3].segments[0].end, 100.0);
        QCOMPARE(d.archive.recording, true);
        QCOMPARE(d.archive.cycleS, 30);
        QCOMPARE(d.archive.parameters, 0x22);
        QCOMPARE(d.archive.mark, 3);
        QCOMPARE(d.archive.prefill, 12);
        QCOMPARE(d.holdingBytes.value(0).first, 0x100);
        QCOMPARE(d.holdingBytes.value(0).second, QByteArray::fromHex("CAFE01"));
        QCOMPARE(d.coils.value(0), (QPair<int, bool>(5, true)));
        const FaultSettings &f = d.faults;
        QCOMPARE(f.seed, 99u);
        QCOMPARE(f.drop, 0.25);
        QCOMPARE(f.corruptLrc, 1.0);
        QCOMPARE(f.noise, 0.5);
        QCOMPARE(f.noiseChars, 7);
        QCOMPARE(f.noCrLf, 0.1);
        QCOMPARE(f.lateMs, 300);
        QCOMPARE(f.late, 0.2);
        QCOMPARE(f.splitPieces, 4);
        QCOMPARE(f.splitPauseMs, 15);
        QCOMPARE(f.split, 1.0);
        QCOMPARE(f.exceptionCode, 6);
        QCOMPARE(f.exception, 0.75);
    }

    void rejectsMistakes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty") << "# nothing\n"
                               << "no line defined";
        QTest::newRow("device first") << "device 1 0\n"
                                      << "line 1: 'device' before any line";
        QTest::newRow("setting first") << "line 1\ntype 3\n"
                                       << "line 2: 'type' before any device";
        QTest::newRow("no device") << "line 1\nline 2\ndevice 1 0\n"
                                   << "COM1 has no device";
        QTest::newRow("speed code") << "line 1\ndevice 1 5\n"
                                    << "line 2: '5' is not a number in 0..4";
        QTest::newRow("address 0") << "line 1\ndevice 0 1\n"
                                   << "line 2: '0' is not a number in 1..247";
        QTest::newRow("twice") << "line 1\ndevice 4 1\ndevice 4 2\n"
                               << "line 3: address 4 used twice on COM1";
        QTest::newRow("port twice") << "line 1\ndevice 4 1\nline 1\n"
                                    << "line 3: COM1 defined twice";
        QTest::newRow("keyword") << "line 1\ndevice 1 0\nspeed 3\n"
                                 << "line 3: unknown keyword 'speed'";
        QTest::newRow("trailing") << "line 1 2\n"
                                  << "line 1: unexpected '2'";
        QTest::newRow("probability") << "line 1\ndevice 1 0\nfault drop 2\n"
                                     << "line 3: probability '2' is not in 0..1";
        QTest::newRow("parameter") << "line 1\ndevice 1 0\narchive params X1,Y3\n"
                                   << "line 3: unknown archive parameter 'Y3'";
        QTest::newRow("segment") << "line 1\ndevice 1 0\nsegment 1 2 3\n"
                                 << "line 3: 'segment' outside a program";
        QTest::newRow("hex") << "line 1\ndevice 1 0\nholding 10 ABC\n"
                             << "line 3: 'ABC' is not a run of hexadecimal pairs";
        QTest::newRow("past end") << "line 1\ndevice 1 0\nholding 3359 0102\n"
                                  << "line 3: bytes run past the last holding register";
        QTest::newRow("missing") << "line 1\ndevice 1\n"
                                 << "line 2: missing value after '1'";
        QTest::newRow("clock") << "line 1\ndevice 1 0\nclock 31.02.2026 10:00\n"
                               << "line 3: '31.02.2026 10:00' is not a date and time";
    }

    void rejectsMistakes()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        const ScenarioParse parsed = parseScenario(text);
        QVERIFY(!parsed.scenario);
        QCOMPARE(parsed.error, error);
    }
};

QTEST_APPLESS_MAIN(TestScenario)
#include "tst_scenario.moc"
