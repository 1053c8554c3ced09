// Every fault the simulator can put on the line against every transaction of the configurator's
// link: the result code, and images left as they were whenever the result is not 0. Then a line
// that goes away in the middle of an exchange.

#include "devsim/devicesimulator.h"
#include "link/commport.h"
#include "link/modbuslink.h"

#include <QElapsedTimer>
#include <QtTest>

#include <array>

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

} // namespace

Q_DECLARE_METATYPE(Transaction)
Q_DECLARE_METATYPE(devsim::FaultSettings)

class TestFaultMatrix : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_injected = 0;

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
};

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
