#include "devsim/asciiframing.h"
#include "devsim/faultinjector.h"

#include <QTest>

using namespace devsim;

namespace devsim {
bool operator==(const ReplyPiece &a, const ReplyPiece &b)
{
    return a.bytes == b.bytes && a.delayMs == b.delayMs;
}
} // namespace devsim

class TestFraming : public QObject
{
    Q_OBJECT

private slots:
    void encodesUpperCaseWithLrc()
    {
        QCOMPARE(encodeFrame(QByteArray::fromHex("010300000009")),
                 QByteArray(":010300000009F3\r\n"));
        QCOMPARE(encodeFrame(QByteArray::fromHex("000000")), QByteArray(":00000000\r\n"));
        QCOMPARE(encodeFrame(QByteArray::fromHex("0a8302")), QByteArray(":0A830271\r\n"));
    }

    void assemblesFrames_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QList<QByteArray>>("frames"); // decoded bytes as hex; "-" rejected

        QTest::newRow("plain") << QByteArray(":010300000009F3\r\n")
                               << QList<QByteArray>{"010300000009"};
        QTest::newRow("lower case")
            << QByteArray(":010300000009f3\r\n") << QList<QByteArray>{"010300000009"};
        QTest::newRow("noise before")
            << QByteArray("\x00\xFFxx:010300000009F3\r\n", 21) << QList<QByteArray>{"010300000009"};
        QTest::newRow("restart on colon")
            << QByteArray(":0103:010300000009F3\r\n") << QList<QByteArray>{"010300000009"};
        QTest::newRow("two frames") << QByteArray(":010300000009F3\r\n:050300000009EF\r\n")
                                    << QList<QByteArray>{"010300000009", "050300000009"};
        QTest::newRow("bad lrc") << QByteArray(":010300000009F4\r\n") << QList<QByteArray>{"-"};
        QTest::newRow("odd length") << QByteArray(":010300000009F\r\n") << QList<QByteArray>{"-"};
        QTest::newRow("not hex") << QByteArray(":01030000000GF3\r\n") << QList<QByteArray>{"-"};
        QTest::newRow("LF without CR") << QByteArray(":010300000009F3\n") << QList<QByteArray>{"-"};
        QTest::newRow("too short") << QByteArray(":0101\r\n") << QList<QByteArray>{"-"};
        QTest::newRow("unfinished") << QByteArray(":010300000009F3\r") << QList<QByteArray>{};
        QTest::newRow("nothing but noise") << QByteArray("0103\r\n") << QList<QByteArray>{};
    }

    void assemblesFrames()
    {
        QFETCH(QByteArray, input);
        QFETCH(QList<QByteArray>, frames);
        // Byte by byte and all at once give the same frames.
        for (bool byteWise : {false, true}) {
            FrameAssembler assembler;
            QList<ReceivedFrame> got;
            if (byteWise) {
                for (char c : input)
                    got += assembler.feed(QByteArray(1, c));
            } else {
                got = assembler.feed(input);
            }
            QCOMPARE(got.size(), frames.size());
            for (int i = 0; i < frames.size(); ++i) {
                if (frames[i] == "-") {
                    QVERIFY(!got[i].valid);
                } else {
                    QVERIFY(got[i].valid);
                    QCOMPARE(got[i].bytes.toHex(), frames[i]);
                }
            }
        }
    }

    void overlongFrameIsDropped()
    {
        FrameAssembler assembler;
        const QList<ReceivedFrame> got = assembler.feed(":" + QByteArray(600, '0') + "\r\n");
        QCOMPARE(got.size(), 1);
        QVERIFY(!got[0].valid);
        // The assembler recovers for the next frame.
        QCOMPARE(assembler.feed(":010300000009F3\r\n").value(0).valid, true);
    }

    void faultsShapeTheReply()
    {
        const QByteArray frame = encodeFrame(QByteArray::fromHex("0103020104"));
        FaultSettings f;
        QCOMPARE(FaultInjector(f).shape(frame), (QList<ReplyPiece>{{frame, 0}}));

        f = {};
        f.drop = 1;
        QVERIFY(FaultInjector(f).shape(frame).isEmpty());

        f = {};
        f.corruptLrc = 1;
        QByteArray corrupt = FaultInjector(f).shape(frame).value(0).bytes;
        QCOMPARE(corrupt.size(), frame.size());
        QCOMPARE(corrupt.left(corrupt.size() - 4), frame.left(frame.size() - 4));
        QCOMPARE(corrupt.mid(corrupt.size() - 4, 2).toInt(nullptr, 16),
                 (frame.mid(frame.size() - 4, 2).toInt(nullptr, 16) + 1) & 0xFF);

        f = {};
        f.noCrLf = 1;
        f.late = 1;
        f.lateMs = 250;
        QCOMPARE(FaultInjector(f).shape(frame),
                 (QList<ReplyPiece>{{frame.left(frame.size() - 2), 250}}));

        f = {};
        f.split = 1;
        f.splitPieces = 3;
        f.splitPauseMs = 40;
        const QList<ReplyPiece> pieces = FaultInjector(f).shape(frame);
        QCOMPARE(pieces.size(), 3);
        QCOMPARE(pieces[0].bytes + pieces[1].bytes + pieces[2].bytes, frame);
        QCOMPARE(pieces[0].delayMs, 0);
        QCOMPARE(pieces[2].delayMs, 40);

        f = {};
        f.noise = 1;
        f.noiseChars = 6;
        const QByteArray noisy = FaultInjector(f).shape(frame).value(0).bytes;
        QVERIFY(noisy.endsWith(frame));
        QCOMPARE(noisy.size(), frame.size() + 6);
        QVERIFY(!noisy.left(6).contains(':'));

        f = {};
        f.exception = 1;
        f.exceptionCode = 6;
        QCOMPARE(FaultInjector(f).exceptionFor(), 6);
    }

    void faultsRepeatWithTheirSeed()
    {
        auto pattern = [](quint32 seed) {
            FaultSettings f;
            f.seed = seed;
            f.drop = 0.5;
            FaultInjector injector(f);
            QString dropped;
            for (int i = 0; i < 64; ++i)
                dropped +=
                    injector.shape(":00\r\n").isEmpty() ? QLatin1Char('x') : QLatin1Char('.');
            return dropped;
        };
        QCOMPARE(pattern(7), pattern(7));
        QVERIFY(pattern(7) != pattern(8));
        QVERIFY(pattern(7).contains(QLatin1Char('x')) && pattern(7).contains(QLatin1Char('.')));
    }
};

QTEST_APPLESS_MAIN(TestFraming)
#include "tst_framing.moc"
