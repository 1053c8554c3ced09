// Every fault the simulator can put on the line against every transaction of the configurator's
// link: the result code, and images left as they were whenever the result is not 0. Then a line
// that goes away in the middle of an exchange, and the exchange statistics of faulted lines
// against what the simulator's own log says it did.

#include "devsim/devicesimulator.h"
#include "link/commport.h"
#include "link/modbuslink.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <array>
#include <map>

namespace {

enum class Transaction { Holding, Input, InputBlock, Discrete, Coils, WriteCoils, WriteHolding };

struct Fault
{
    const char *name;
    devsim::FaultSettings settings;
    int result; // 0, 999 or the exception code
};

QList<Fault> faults()
{
    QList<Fault> list;
    auto add = [&](const char *name, int result, auto set) {
        devsim::FaultSettings f;
        set(f);
        list.append({name, f, result});
    };
    add("none", 0, [](auto &) {});
    add("dropped reply", 999, [](auto &f) { f.drop = 1; });
    add("wrong LRC", 999, [](auto &f) { f.corruptLrc = 1; });
    add("late beyond the wait", 999, [](auto &f) {
        f.late = 1;
        f.lateMs = 900;
    });
    add("noise before the frame", 0, [](auto &f) { f.noise = 1; });
    add("split with pauses inside the wait", 0, [](auto &f) {
        f.split = 1;
        f.splitPieces = 4;
        f.splitPauseMs = 15;
    });
    add("no CR LF", 999, [](auto &f) { f.noCrLf = 1; });
    for (int code = 1; code <= 4; ++code) {
        static const char *names[] = {"exception 1", "exception 2", "exception 3", "exception 4"};
        add(names[code - 1], code, [code](auto &f) {
            f.exception = 1;
            f.exceptionCode = code;
        });
    }
    return list;
}

bool sameImages(const RegisterImages &a, const RegisterImages &b)
{
    return a.holding == b.holding && a.input == b.input && a.discrete == b.discrete &&
           a.coils == b.coils;
}

// The simulator's log line "<ISO time> COM1 <- text" back into its time and raw text.
struct LoggedLine
{
    QDateTime at;
    QString direction;
    QByteArray text;
    QString note;
};

LoggedLine parseLogLine(const QString &line)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\S+) COM\\d+ (<-|->|--) ?([^(]*)(?:\\((.*)\\))?$"));
    const auto m = form.match(line);
    LoggedLine out;
    if (!m.hasMatch())
        return out;
    out.at = QDateTime::fromString(m.captured(1), Qt::ISODateWithMs);
    out.direction = m.captured(2);
    out.note = m.captured(4);
    const QString shown = m.captured(3).trimmed();
    static const QRegularExpression token(QStringLiteral("<(CR|LF|[0-9A-F]{2})>"));
    qsizetype from = 0;
    for (auto it = token.globalMatch(shown); it.hasNext();) {
        const auto t = it.next();
        out.text += shown.mid(from, t.capturedStart() - from).toLatin1();
        const QString name = t.captured(1);
        out.text += name == QLatin1String("CR")   ? '\r'
                    : name == QLatin1String("LF") ? '\n'
                                                  : char(name.toInt(nullptr, 16));
        from = t.capturedEnd();
    }
    out.text += shown.mid(from).toLatin1();
    return out;
}

// What a reply as the simulator sent it amounts to, judged here from its bytes alone.
ExchangeKind judgeSentReply(const QByteArray &sent, int *exceptionCode)
{
    if (sent.isEmpty())
        return ExchangeKind::NoReply;
    const qsizetype colon = sent.indexOf(':');
    if (colon < 0 || !sent.endsWith("\r\n"))
        return ExchangeKind::Malformed;
    const QByteArray bytes = QByteArray::fromHex(sent.mid(colon + 1, sent.size() - colon - 3));
    int sum = 0;
    for (char b : bytes)
        sum += quint8(b);
    if (sum % 256 != 0)
        return ExchangeKind::LrcError;
    if (quint8(bytes[1]) & 0x80) {
        *exceptionCode = quint8(bytes[2]);
        return ExchangeKind::Exception;
    }
    return ExchangeKind::Good;
}

struct Expected
{
    ExchangeCounts counts;
    std::vector<double> replyMs;
};

// Requests and the replies after them, device by device, as the simulator logged them.
std::map<int, Expected> expectedFromLog(const QStringList &log)
{
    std::map<int, Expected> out;
    for (qsizetype i = 0; i < log.size(); ++i) {
        const LoggedLine request = parseLogLine(log[i]);
        if (request.direction != QLatin1String("<-"))
            continue;
        QByteArray sent;
        QDateTime lastOut;
        for (qsizetype j = i + 1; j < log.size(); ++j) {
            const LoggedLine reply = parseLogLine(log[j]);
            if (reply.direction != QLatin1String("->"))
                break;
            sent += reply.text;
            lastOut = reply.at;
        }
        const int address = QByteArray::fromHex(request.text.mid(1, 2)).at(0);
        Expected &e = out[address];
        int code = 0;
        const ExchangeKind outcome = judgeSentReply(sent, &code);
        ++e.counts.requests;
        ++e.counts.outcomes[std::size_t(outcome)];
        if (outcome == ExchangeKind::Exception)
            ++e.counts.exceptionCodes[code];
        if (outcome == ExchangeKind::Good || outcome == ExchangeKind::Exception)
            e.replyMs.push_back(double(request.at.msecsTo(lastOut)));
    }
    return out;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[(v.size() - 1) / 2];
}

} // namespace

Q_DECLARE_METATYPE(Transaction)
Q_DECLARE_METATYPE(devsim::FaultSettings)
Q_DECLARE_METATYPE(QList<devsim::DeviceSetup>)

class TestFaultMatrix : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_injected = 0;

    std::unique_ptr<devsim::DeviceSimulator> startLine(const QList<devsim::DeviceSetup> &devices,
                                                       QStringList *log = nullptr)
    {
        devsim::LineSetup line;
        line.devices = devices;
        auto sim = std::make_unique<devsim::DeviceSimulator>();
        sim->addLine(line);
        if (log) {
            sim->setLogger([log, this](const QString &text) {
                QMutexLocker lock(&m_logMutex);
                log->append(text);
            });
        }
        QString error;
        if (!sim->start(m_dir.path(), &error))
            qWarning("simulator: %s", qPrintable(error));
        return sim;
    }

    QMutex m_logMutex;

    std::unique_ptr<devsim::DeviceSimulator> startSim(const devsim::FaultSettings &faults)
    {
        devsim::DeviceSetup device;
        device.address = 1;
        device.speedCode = 0;
        device.faults = faults;
        devsim::LineSetup line;
        line.devices = {device};
        auto sim = std::make_unique<devsim::DeviceSimulator>();
        sim->addLine(line);
        QString error;
        if (!sim->start(m_dir.path(), &error))
            qWarning("simulator: %s", qPrintable(error));
        return sim;
    }

    static int run(ModbusLink &link, Transaction t, std::array<std::uint16_t, 8> &block)
    {
        switch (t) {
        case Transaction::Holding:
            return link.ReadHoldingRegisters(1, 0x78, 18);
        case Transaction::Input:
            return link.ReadInputRegisters(1, 0, 16);
        case Transaction::InputBlock:
            return link.ReadInputRegisterBlock(1, 0, 8, block);
        case Transaction::Discrete:
            return link.ReadDiscreteInputs(1, 0, 24);
        case Transaction::Coils:
            return link.ReadCoils(1, 0, 16);
        case Transaction::WriteCoils:
            return link.WriteCoils(1, 0, 16);
        case Transaction::WriteHolding:
            return link.WriteHoldingRegisters(1, 0x936, 14);
        }
        return -1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toLocal8Bit());
        qputenv("LORVAN_PORT_DIR", m_dir.path().toLocal8Bit());
    }

    void cleanupTestCase() { qInfo("%d faults injected and survived", m_injected); }

    void faultByTransaction_data()
    {
        QTest::addColumn<devsim::FaultSettings>("fault");
        QTest::addColumn<Transaction>("transaction");
        QTest::addColumn<int>("result");
        const std::pair<const char *, Transaction> transactions[] = {
            {"read holding", Transaction::Holding},
            {"read input", Transaction::Input},
            {"read input block", Transaction::InputBlock},
            {"read discrete", Transaction::Discrete},
            {"read coils", Transaction::Coils},
            {"write coils", Transaction::WriteCoils},
            {"write holding", Transaction::WriteHolding},
        };
        for (const Fault &f : faults()) {
            for (const auto &[name, t] : transactions)
                QTest::addRow("%s, %s", f.name, name) << f.settings << t << f.result;
        }
    }
    void faultByTransaction()
    {
        QFETCH(devsim::FaultSettings, fault);
        QFETCH(Transaction, transaction);
        QFETCH(int, result);
        const auto sim = startSim(fault);
        CommPort port;
        RegisterImages images;
        images.holding.fill(0xEE);
        images.input.fill(0xEE);
        images.discrete.fill(0xEE);
        images.coils.fill(0xEE);
        const RegisterImages before = images;
        ModbusLink link(images);
        link.Setup(port);
        std::array<std::uint16_t, 8> block;
        block.fill(0xEEEE);

        QCOMPARE(run(link, transaction, block), result);
        const bool read =
            transaction != Transaction::WriteCoils && transaction != Transaction::WriteHolding;
        if (result != 0) {
            ++m_injected;
            QVERIFY(sameImages(images, before));
            for (std::uint16_t w : block)
                QCOMPARE(w, std::uint16_t(0xEEEE));
        } else if (read) {
            const bool changed = transaction == Transaction::InputBlock
                                     ? block[0] != 0xEEEE
                                     : !sameImages(images, before);
            QVERIFY(changed);
        }
        QVERIFY(!port.IsOpen());
    }

    // The line vanishes while the link waits for a reply: no usable reply, and no hang; once the
    // line is back the next exchange goes through.
    void lineGoneMidExchange()
    {
        devsim::FaultSettings slow;
        slow.late = 1;
        slow.lateMs = 150;
        auto sim = startSim(slow);
        CommPort port;
        RegisterImages images;
        ModbusLink link(images);
        link.Setup(port);
        link.setResponseWait(1000);
        QTimer::singleShot(40, [&] { sim.reset(); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(link.ReadHoldingRegisters(1, 0x78, 18), 999);
        QVERIFY(!sim);
        QVERIFY2(clock.elapsed() < 5000, "the exchange hung after the line went away");
        QCOMPARE(link.ReadHoldingRegisters(1, 0x78, 18), 999); // nothing to open now

        sim = startSim({});
        QCOMPARE(link.ReadHoldingRegisters(1, 0x78, 18), 0);
        QVERIFY(!port.IsOpen());
    }

    // Faulted devices polled in turn as the polling cycle does: what the link recorded, kind by
    // kind, is what the simulator's log shows it did, and the reply times agree with the log's
    // time stamps (which have a resolution of a millisecond).
    void recordedOutcomes_data()
    {
        QTest::addColumn<QList<devsim::DeviceSetup>>("devices");
        QTest::addColumn<int>("exchanges");
        auto device = [](int address, quint32 seed, auto set) {
            devsim::DeviceSetup d;
            d.address = quint8(address);
            d.speedCode = 4;
            d.faults.seed = seed;
            set(d.faults);
            return d;
        };
        const auto clean = [](auto &) {};
        QTest::newRow("three devices, one dropping, one corrupting the LRC")
            << QList{device(1, 11, clean), device(2, 12, [](auto &f) { f.drop = 0.2; }),
                     device(3, 13, [](auto &f) { f.corruptLrc = 0.2; })}
            << 200;
        QTest::newRow("exceptions, frames without CR LF, noise and split replies")
            << QList{device(4, 21,
                            [](auto &f) {
                                f.exception = 0.25;
                                f.exceptionCode = 2;
                                f.noCrLf = 0.15;
                            }),
                     device(5, 22,
                            [](auto &f) {
                                f.noise = 0.3;
                                f.split = 0.3;
                                f.splitPauseMs = 3;
                                f.exception = 0.1;
                                f.exceptionCode = 4;
                            })}
            << 80;
    }
    void recordedOutcomes()
    {
        QFETCH(QList<devsim::DeviceSetup>, devices);
        QFETCH(int, exchanges);
        QStringList log;
        const auto sim = startLine(devices, &log);
        CommPort port;
        RegisterImages images;
        ModbusLink link(images);
        link.Setup(port);
        port.setBaudrate(Baudrate::br115200);
        ExchangeStats stats;
        link.setStats(&stats);
        for (int n = 0; n < exchanges; ++n)
            link.ReadInputRegisters(devices[n % devices.size()].address, 0, 16);
        QTest::qWait(50); // the log's last line is written after the reply has gone
        QMutexLocker lock(&m_logMutex);
        const std::map<int, Expected> expected = expectedFromLog(log);

        QCOMPARE(stats.devices().size(), std::size_t(devices.size()));
        int failures = 0;
        for (const devsim::DeviceSetup &d : devices) {
            const ExchangeCounts got = stats.counts({QStringLiteral("COM1"), d.address});
            const Expected &want = expected.at(d.address);
            QCOMPARE(got.requests, want.counts.requests);
            for (int k = 0; k < kExchangeKinds; ++k)
                QCOMPARE(got.outcomes[std::size_t(k)], want.counts.outcomes[std::size_t(k)]);
            QCOMPARE(got.exceptionCodes, want.counts.exceptionCodes);
            failures += int(got.failures());
            QCOMPARE(got.replyTimes.count(), want.replyMs.size());
            const double drift = got.replyTimes.percentile(50) - median(want.replyMs);
            QVERIFY2(std::abs(drift) <= 2.0,
                     qPrintable(QStringLiteral("device %1: median reply time %2 ms, log %3 ms")
                                    .arg(d.address)
                                    .arg(got.replyTimes.percentile(50))
                                    .arg(median(want.replyMs))));
            qInfo("device %d: median reply %.2f ms, log %.1f ms", d.address,
                  got.replyTimes.percentile(50), median(want.replyMs));
        }
        QVERIFY2(failures > 0, "no fault struck: the table proves nothing");
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
