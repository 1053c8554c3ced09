#include "devsim/archivering.h"
#include "devsim/asciiframing.h"
#include "devsim/devicesimulator.h"
#include "devsim/simdevice.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace devsim;

namespace {

QByteArray request(std::initializer_list<int> bytes)
{
    QByteArray r;
    for (int b : bytes)
        r.append(char(b));
    return r;
}

quint16 word(const QByteArray &b, int at)
{
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}

const QDateTime kStart(QDate(2026, 6, 15), QTime(12, 0, 30));

} // namespace

class TestDevice : public QObject
{
    Q_OBJECT

private slots:
    void commonBlockCheckValue()
    {
        // The configurator's check value of "123456789" is the usual one with bytes exchanged.
        QCOMPARE(commonBlockCrc("123456789"), quint16(0x374B));
    }

    void recordLayout()
    {
        const QByteArray r = encodeArchiveRecord(
            2, QDateTime(QDate(2026, 11, 30), QTime(23, 58, 59)), {-125, 5000, 0});
        QCOMPARE(r.size(), 2 * archiveRecordRegisters(0x31));
        QCOMPARE(word(r, 0) >> 14, 2);
        QCOMPARE(word(r, 2), quint16(30 | (11 << 8)));
        QCOMPARE(word(r, 4), quint16(26 | (23 << 8)));
        QCOMPARE(word(r, 6), quint16(58 | (59 << 8)));
        QCOMPARE(qint16(word(r, 8)), qint16(-125));
        QCOMPARE(word(r, 10), quint16(5000));
        QCOMPARE(archiveRecordRegisters(0), 4);
        QCOMPARE(archiveRecordRegisters(0x3F), 10);
        QCOMPARE(archiveRecordRegisters(0xFF), 10); // the mark bits are not parameters
    }

    void ringWrapsWhenTheNextRecordWouldNotFit_data()
    {
        QTest::addColumn<int>("recordBytes");
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("writePosition");
        QTest::newRow("empty") << 20 << 0 << 10;
        QTest::newRow("one") << 20 << 1 << 30;
        QTest::newRow("last that fits") << 20 << 1637 << 10; // 32740 used, 10 left
        QTest::newRow("after wrap") << 20 << 1640 << 10 + 3 * 20;
        QTest::newRow("exact fit") << 10 << 3275 << 10; // 32750 = 3275 * 10
        QTest::newRow("exact fit plus one") << 10 << 3276 << 20;
        QTest::newRow("long records") << 18 << 1818 << 10 + 18 * 1818; // one more still fits
        QTest::newRow("long records full") << 18 << 1819 << 10;
    }

    void ringWrapsWhenTheNextRecordWouldNotFit()
    {
        QFETCH(int, recordBytes);
        QFETCH(int, records);
        QFETCH(int, writePosition);
        ArchiveRing ring;
        for (int i = 0; i < records; ++i)
            ring.append(QByteArray(recordBytes, char(1 + i % 200)));
        QCOMPARE(int(ring.writePosition()), writePosition);
        QCOMPARE(ring.bytes().size(), kRingBytes);
    }

    void registersAtTheCycleAndCatchesUp()
    {
        DeviceSetup setup;
        setup.clock = kStart;
        setup.inputs[0].base = 12.34;
        setup.channels[0].pointPosition = 2;
        setup.archive = {true, 10, 0x01, 1, 0};
        SimDevice device(setup, kStart, true);
        QCOMPARE(device.archive().writePosition(), quint16(10));
        device.advanceTo(kStart.addSecs(9)); // 12:00:39
        QCOMPARE(device.archive().writePosition(), quint16(10));
        device.advanceTo(kStart.addSecs(10)); // 12:00:40
        QCOMPARE(device.archive().writePosition(), quint16(10 + 10));
        device.advanceTo(kStart.addSecs(70)); // six more cycles, to 12:01:40
        QCOMPARE(device.archive().writePosition(), quint16(10 + 7 * 10));
        const QByteArray &ring = device.archive().bytes();
        QCOMPARE(word(ring, 60 + 6), quint16(1 | (40 << 8))); // minute 1, second 40
        QCOMPARE(qint16(word(ring, 60 + 8)), qint16(1234));
        QCOMPARE(word(ring, 60) >> 14, 1);
    }

    // A prefill placed near the ring's end wraps across its start; the slots around it keep the
    // previous mark, so a reader's walk ends where the prefill begins.
    void placesThePrefillAtAnOffset()
    {
        DeviceSetup setup;
        setup.clock = kStart;
        setup.archive = {false, 10, 0x01, 1, 300, 32005};
        SimDevice device(setup, kStart, true);
        // 10-byte records: slot 3200 holds byte 32005; 75 slots to the end, 225 from byte 0.
        QCOMPARE(device.archive().writePosition(), quint16(10 + 2250));
        const QByteArray &ring = device.archive().bytes();
        QCOMPARE(word(ring, 31990) >> 14, 0);
        QCOMPARE(word(ring, 32000) >> 14, 1);
        QCOMPARE(word(ring, 32740) >> 14, 1);
        QCOMPARE(word(ring, 2240) >> 14, 1);
        QCOMPARE(word(ring, 2250) >> 14, 0);
        QCOMPARE(word(ring, 2240 + 6), quint16(0 | (30 << 8))); // newest at 12:00:30
    }

    void servesAndRefusesRequests_data()
    {
        QTest::addColumn<QByteArray>("req");
        QTest::addColumn<QByteArray>("reply");
        const int a = 9;
        QTest::newRow("f3 address") << request({a, 3, 0, 3, 0, 1}) << request({a, 3, 2, a, 2});
        QTest::newRow("f1 coils") << request({a, 1, 0, 0, 0, 16}) << request({a, 1, 2, 0x22, 0});
        QTest::newRow("f2 inputs") << request({a, 2, 0, 16, 0, 8}) << request({a, 2, 1, 0x01});
        QTest::newRow("f15") << request({a, 15, 0, 8, 0, 3, 1, 5}) << request({a, 15, 0, 8, 0, 3});
        QTest::newRow("f16") << request({a, 16, 0, 200, 0, 1, 2, 1, 2})
                             << request({a, 16, 0, 200, 0, 1});
        QTest::newRow("f5") << request({a, 5, 0, 1, 0xFF, 0}) << request({a, 0x85, 1});
        QTest::newRow("f3 past end") << request({a, 3, 6, 143, 0, 2}) << request({a, 0x83, 2});
        QTest::newRow("f4 past ring") << request({a, 4, 0x40, 0x2A, 0, 2}) << request({a, 0x84, 2});
        QTest::newRow("f4 count 126") << request({a, 4, 0, 0, 0, 126}) << request({a, 0x84, 3});
        QTest::newRow("f2 past 23") << request({a, 2, 0, 23, 0, 2}) << request({a, 0x82, 2});
        QTest::newRow("f1 count 0") << request({a, 1, 0, 0, 0, 0}) << request({a, 0x81, 3});
        QTest::newRow("f15 past 15")
            << request({a, 15, 0, 15, 0, 2, 1, 3}) << request({a, 0x8F, 2});
        QTest::newRow("f16 short")
            << request({a, 16, 0, 200, 0, 2, 4, 1, 2}) << request({a, 0x90, 3});
        QTest::newRow("f16 count 124")
            << request({a, 16, 0, 0, 0, 124, 248}) << request({a, 0x90, 3});
    }

    void servesAndRefusesRequests()
    {
        QFETCH(QByteArray, req);
        QFETCH(QByteArray, reply);
        DeviceSetup setup;
        setup.address = 9;
        setup.speedCode = 2;
        setup.inputs[0].base = 50;
        setup.alarms[0] = {true, 1, 0, true, 40, 1};
        setup.coils = {{1, true}, {5, true}};
        SimDevice device(setup, kStart, true);
        QCOMPARE(device.handle(req, kStart).toHex(), reply.toHex());
    }

    void writesOfTheIdentityBlock()
    {
        DeviceSetup setup;
        setup.address = 9;
        setup.speedCode = 2;
        setup.clock = kStart;
        SimDevice device(setup, kStart, false);
        QVERIFY(!device.answersAddressZero());
        // Registers 0-8 written whole: type, firmware and serial stay; address, speed and clock
        // change, the line settings only once the reply is out.
        const QByteArray block =
            request({1, 1, 1, 1, 1, 1, 33, 4, 1, 1, 1, 1, 31, 12, 26, 23, 59, 50});
        QByteArray req = request({9, 16, 0, 0, 0, 9, 18});
        req += block;
        QCOMPARE(device.handle(req, kStart).toHex(), request({9, 16, 0, 0, 0, 9}).toHex());
        QCOMPARE(device.address(), 9);
        device.applyPendingChanges();
        QCOMPARE(device.address(), 33);
        QCOMPARE(device.speedCode(), 4);
        QCOMPARE(device.holding().left(6), SimDevice(setup, kStart, false).holding().left(6));
        const QByteArray identity = device.handle(request({33, 3, 0, 0, 0, 9}), kStart.addSecs(15));
        QCOMPARE(identity.mid(3 + 12, 6), request({1, 1, 27, 0, 0, 5}));
        // Unusable settings are refused.
        device.handle(request({33, 16, 0, 3, 0, 1, 2, 0, 7}), kStart);
        device.applyPendingChanges();
        QCOMPARE(device.address(), 33);
        QCOMPARE(device.speedCode(), 4);
    }

    void inProcessSimulatorAnswersOnItsLine()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        LineSetup line;
        line.port = 7;
        line.pacing = false;
        DeviceSetup d;
        d.address = 4;
        d.speedCode = 1;
        line.devices = {d};
        DeviceSimulator sim;
        sim.addLine(line);
        QString error;
        QVERIFY2(sim.start(dir.path(), &error), qPrintable(error));
        const QString link = dir.filePath(QStringLiteral("COM7"));
        QVERIFY(QFileInfo(link).isSymLink());

        auto exchange = [&](speed_t speed) {
            const int fd = ::open(link.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            termios t{};
            tcgetattr(fd, &t);
            cfmakeraw(&t);
            cfsetspeed(&t, speed);
            tcsetattr(fd, TCSANOW, &t);
            tcflush(fd, TCIOFLUSH);
            const QByteArray frame = encodeFrame(request({4, 3, 0, 3, 0, 1}));
            [[maybe_unused]] auto n = ::write(fd, frame.constData(), size_t(frame.size()));
            QByteArray got;
            QElapsedTimer timer;
            timer.start();
            char buffer[256];
            while (timer.elapsed() < 300 && !got.endsWith('\n')) {
                const ssize_t r = ::read(fd, buffer, sizeof buffer);
                if (r > 0)
                    got.append(buffer, int(r));
                else
                    QThread::msleep(2);
            }
            ::close(fd);
            return got;
        };
        QCOMPARE(exchange(B19200), encodeFrame(request({4, 3, 2, 4, 1})));
        QCOMPARE(exchange(B9600), QByteArray());
        QVERIFY(sim.withDevice(7, 4, [](SimDevice &dev) { QCOMPARE(dev.speedCode(), 1); }));
        sim.stop();
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }
};

QTEST_APPLESS_MAIN(TestDevice)
#include "tst_device.moc"
