#include "cli/clicommand.h"

#include <QtTest>

class TestCliCommand : public QObject
{
    Q_OBJECT
private slots:
    void accepted_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("bytes");
        using A = CliCommand::Action;
        const QString base = QStringLiteral("--port /tmp/p --baud 9600 --addr 5 ");
        QTest::newRow("holding") << base + "read-holding 0 9" << int(A::ReadHolding) << 0 << 9
                                 << QByteArray();
        QTest::newRow("holding to the end")
            << base + "read-holding 1279 401" << int(A::ReadHolding) << 1279 << 401 << QByteArray();
        QTest::newRow("hex start") << base + "read-holding 0x4FF 100" << int(A::ReadHolding) << 1279
                                   << 100 << QByteArray();
        QTest::newRow("input image")
            << base + "read-input 0 8" << int(A::ReadInput) << 0 << 8 << QByteArray();
        QTest::newRow("input block")
            << base + "read-input 52 125" << int(A::ReadInput) << 52 << 125 << QByteArray();
        QTest::newRow("coils") << base + "read-coils 1 5" << int(A::ReadCoils) << 1 << 5
                               << QByteArray();
        QTest::newRow("discrete") << base + "read-discrete 16 8" << int(A::ReadDiscrete) << 16 << 8
                                  << QByteArray();
        QTest::newRow("write holding") << base + "write-holding 3 0105" << int(A::WriteHolding) << 3
                                       << 1 << QByteArray("\x01\x05");
        QTest::newRow("write holding, blanks")
            << QStringLiteral("--addr 1 --port x --baud 115200 write-holding 1179 \"0A 0b\"")
            << int(A::WriteHolding) << 1179 << 1 << QByteArray("\x0A\x0B");
        QTest::newRow("write coils") << base + "write-coils 1 10110" << int(A::WriteCoils) << 1 << 5
                                     << QByteArray("\x01\x00\x01\x01\x00", 5);
    }
    void accepted()
    {
        QFETCH(QString, line);
        QFETCH(int, action);
        QFETCH(int, start);
        QFETCH(int, count);
        QFETCH(QByteArray, bytes);
        const CliParse parsed = parseCliArguments(QProcess::splitCommand(line));
        QVERIFY2(parsed.command.has_value(), qPrintable(parsed.error));
        QCOMPARE(int(parsed.command->action), action);
        QCOMPARE(int(parsed.command->start), start);
        QCOMPARE(int(parsed.command->count), count);
        QCOMPARE(parsed.command->bytes, bytes);
        QCOMPARE(parsed.command->stopBits, 2);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("mentions"); // what the message must name, if anything
        const QString base = QStringLiteral("--port /tmp/p --baud 9600 --addr 5 ");
        QTest::newRow("no port") << "--baud 9600 --addr 1 read-holding 0 1" << QString();
        QTest::newRow("no address") << "--port p --baud 9600 read-holding 0 1" << QString();
        QTest::newRow("odd speed") << "--port p --baud 9601 --addr 1 read-holding 0 1" << QString();
        QTest::newRow("stop bits 3") << base + "--stop-bits 3 read-holding 0 1" << QString();
        QTest::newRow("address 256")
            << "--port p --baud 9600 --addr 256 read-holding 0 1" << QString();
        QTest::newRow("option without value") << base + "read-holding 0 1 --wait" << QString();
        QTest::newRow("unknown option") << base + "--fast read-holding 0 1" << QString();
        QTest::newRow("unknown command") << base + "read-everything 0 1" << QString();
        QTest::newRow("missing count") << base + "read-holding 0" << QString();
        QTest::newRow("zero count") << base + "read-holding 0 0" << QString();
        QTest::newRow("past holding end") << base + "read-holding 1679 2" << QString();
        QTest::newRow("start past end") << base + "read-holding 1680 1" << QString();
        QTest::newRow("negative") << base + "read-holding -1 1" << QString();
        QTest::newRow("input block too long") << base + "read-input 52 126" << QString();
        QTest::newRow("coils past end") << base + "read-coils 10 7" << QString();
        QTest::newRow("discrete past end") << base + "read-discrete 16 9" << QString();
        QTest::newRow("odd hex") << base + "write-holding 0 ABC"
                                 << "\"ABC\"";
        QTest::newRow("not hex") << base + "write-holding 0 ZZ"
                                 << "\"ZZ\"";
        QTest::newRow("one byte") << base + "write-holding 5 0A"
                                  << "\"0A\"";
        QTest::newRow("three bytes") << base + "write-holding 5 0A0B0C"
                                     << "\"0A0B0C\"";
        QTest::newRow("signs") << base + "write-holding 5 +1+2"
                               << "'+'";
        QTest::newRow("hex prefix") << base + "write-holding 5 0x0102"
                                    << "'x'";
        QTest::newRow("bits not binary") << base + "write-coils 0 012" << QString();
        QTest::newRow("too many bits") << base + "write-coils 10 1111111" << QString();
        QTest::newRow("write past end") << base + "write-holding 1679 00000000" << QString();
    }
    void refused()
    {
        QFETCH(QString, line);
        QFETCH(QString, mentions);
        const CliParse parsed = parseCliArguments(QProcess::splitCommand(line));
        QVERIFY(!parsed.command.has_value());
        QVERIFY(!parsed.help);
        QVERIFY(!parsed.error.isEmpty());
        QVERIFY2(parsed.error.contains(mentions), qPrintable(parsed.error));
    }

    void help_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("alone") << "--help";
        QTest::newRow("short") << "-h";
        QTest::newRow("among others") << "--port p --help --baud 9600";
    }
    void help()
    {
        QFETCH(QString, line);
        const CliParse parsed = parseCliArguments(QProcess::splitCommand(line));
        QVERIFY(parsed.help);
        QVERIFY(!parsed.command.has_value());
    }

    void exitStatus_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("status");
        QTest::newRow("ok") << 0 << 0;
        QTest::newRow("no reply") << 999 << 9;
        QTest::newRow("exception 1") << 1 << 1;
        QTest::newRow("exception 2") << 2 << 2;
        QTest::newRow("exception 8") << 8 << 8;
        QTest::newRow("exception 11 clamped") << 11 << 8;
        QTest::newRow("exception 255 clamped") << 255 << 8;
    }
    void exitStatus()
    {
        QFETCH(int, result);
        QFETCH(int, status);
        QCOMPARE(exitStatusForResult(result), status);
    }

    void formats()
    {
        QCOMPARE(formatBytes(QByteArray("\x00\x0a\xff", 3)), QStringLiteral("00 0A FF"));
        QCOMPARE(formatBytes(QByteArray()), QString());
        QCOMPARE(formatFlags(QByteArray("\x00\x01\x01", 3)), QStringLiteral("0 1 1"));
    }
};

QTEST_APPLESS_MAIN(TestCliCommand)
#include "tst_clicommand.moc"
