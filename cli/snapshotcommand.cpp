// snapshot, compare and restore: a device's settings to a file, a file against a device or a
// second file, and a file back onto a device of the same type and variant.

#include "cli/clitool.h"
#include "cli/snapshot.h"
#include "cli/subcommands.h"
#include "device/commonblock.h"
#include "device/identity.h"
#include "device/registermap.h"
#include "platform/atomicfile.h"

#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

// No snapshot comes near this; a larger file is not one.
constexpr qint64 kMaxSnapshotBytes = 1024 * 1024;

Snapshot readDevice(CliLine &line, std::uint8_t address)
{
    requireReply(
        line.link().ReadHoldingRegisters(address, regmap::kIdentity, regmap::kIdentityBytes),
        QStringLiteral("reading the identity"));
    Snapshot s;
    s.blocks = snapshotLayout(line.images().holding[identity::kVariant]);
    for (SnapshotBlock &b : s.blocks) {
        requireReply(
            line.link().ReadHoldingRegisters(address, b.position, std::uint16_t(b.bytes.size())),
            QStringLiteral("reading %1").arg(b.name));
        std::copy_n(line.images().holding.begin() + b.position, b.bytes.size(), b.bytes.begin());
    }
    return s;
}

Snapshot readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliFailure(path + QStringLiteral(": ") + file.errorString(), kFileExit);
    const QByteArray bytes = file.read(kMaxSnapshotBytes + 1);
    if (bytes.size() > kMaxSnapshotBytes)
        throw CliFailure(path + QStringLiteral(": too large for a snapshot"), kFileExit);
    QString why;
    const auto s = parseSnapshot(QString::fromUtf8(bytes), &why);
    if (!s)
        throw CliFailure(path + QStringLiteral(": ") + why, kFileExit);
    return *s;
}

// Prints the differences under a header line; true when there were any.
bool printDifferences(const QStringList &differences, const QString &foundName)
{
    if (differences.isEmpty())
        return false;
    printOut(QStringLiteral("block\tfield\tsnapshot\t") + foundName + QLatin1Char('\n') +
             differences.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return true;
}

// The common block's archive setting: the parameter selection in the low six bits, the device's
// own record mark in the top two.
constexpr std::uint8_t kArchiveSelection = 0x3F;

std::uint8_t archiveSetting(const Snapshot &s)
{
    const SnapshotBlock *common = s.block(QStringLiteral("common"));
    return common ? std::uint8_t(common->bytes[regmap::kCommonArchiveSetting]) : 0;
}

// A new parameter selection makes the device start its archive ring again: every stored record
// is lost.
bool restartsArchive(const Snapshot &wanted, const Snapshot &device)
{
    return (device.variant() & identity::kHasArchive) &&
           (archiveSetting(wanted) & kArchiveSelection) !=
               (archiveSetting(device) & kArchiveSelection);
}

// The snapshot as the device should hold it after the restore: the record mark is the device's
// own (it moves on when the ring restarts), so it is taken from what was read, and the block is
// sealed again over it.
Snapshot asDeviceHolds(Snapshot wanted, const Snapshot &after)
{
    for (SnapshotBlock &b : wanted.blocks) {
        if (b.name != QLatin1String("common"))
            continue;
        RegisterImages image;
        std::copy(b.bytes.begin(), b.bytes.end(), image.holding.begin() + b.position);
        std::uint8_t &setting = image.holding[b.position + regmap::kCommonArchiveSetting];
        setting = std::uint8_t((setting & kArchiveSelection) |
                               (archiveSetting(after) & ~kArchiveSelection));
        SealCommonBlock(image);
        std::copy_n(image.holding.begin() + b.position, b.bytes.size(), b.bytes.begin());
    }
    return wanted;
}

// Asks on standard input; anything but y or yes is no.
bool confirmed(const QString &question)
{
    printOut(question + QStringLiteral(" [y/N] "));
    std::fflush(stdout);
    const QString answer = QTextStream(stdin).readLine().trimmed().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

void refuseOtherDevice(const Snapshot &wanted, const Snapshot &device)
{
    const QString refusal = snapshotRefusal(wanted, device.type(), device.variant());
    if (!refusal.isEmpty())
        throw CliFailure(QStringLiteral("snapshot refused: ") + refusal, 65);
}

} // namespace

int runSnapshot(const QStringList &arguments)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")},
                      QStringLiteral("Write the snapshot to this file instead of standard output."),
                      QStringLiteral("file")});
    parseSubcommand(
        parser, QStringLiteral("snapshot"),
        QStringLiteral(
            "Reads every settings block of a device into a readable text "
            "snapshot."
            "\nExample: lorvan-cli snapshot --port $LORVAN_PORT_DIR/COM1 --addr 1 -o furnace.txt"),
        arguments);
    CliLine line(parser);
    const CliDevice device = reachDevice(line, parser);
    const QString text = encodeSnapshot(readDevice(line, device.address));
    const QString path = parser.value(QStringLiteral("output"));
    if (path.isEmpty()) {
        printOut(text);
        return 0;
    }
    if (const auto failure = writeFileAtomically(path, text.toUtf8()))
        throw CliFailure(path + QStringLiteral(": ") + failure->reason, kFileExit);
    return 0;
}

int runCompare(const QStringList &arguments)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addOption({QStringLiteral("identity"),
                      QStringLiteral("Compare the identity block too (serial, address, clock).")});
    parser.addPositionalArgument(QStringLiteral("snapshot"), QStringLiteral("Snapshot file."));
    parser.addPositionalArgument(QStringLiteral("second"),
                                 QStringLiteral("A second snapshot instead of a device."),
                                 QStringLiteral("[second]"));
    parseSubcommand(
        parser, QStringLiteral("compare"),
        QStringLiteral(
            "Prints the fields in which a device or a second snapshot "
            "differs from a snapshot; exit status 1 when any does."
            "\nExample: lorvan-cli compare furnace.txt --port $LORVAN_PORT_DIR/COM1 --addr 1"),
        arguments);
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty() || files.size() > 2)
        throw CliFailure(QStringLiteral("one snapshot, and a second one or --port, are needed"),
                         64);
    const Snapshot wanted = readFile(files.first());
    Snapshot found;
    if (files.size() == 2) {
        found = readFile(files.at(1));
    } else {
        CliLine line(parser);
        found = readDevice(line, reachDevice(line, parser).address);
    }
    refuseOtherDevice(wanted, found);
    const bool differ =
        printDifferences(compareSnapshots(wanted, found, parser.isSet(QStringLiteral("identity"))),
                         files.size() == 2 ? QStringLiteral("second") : QStringLiteral("device"));
    return differ ? 1 : 0;
}

int runRestore(const QStringList &arguments)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addOption({QStringLiteral("yes"), QStringLiteral("Write without asking.")});
    parser.addOption({QStringLiteral("write-serial"),
                      QStringLiteral("Also write the snapshot's serial number.")});
    parser.addOption({QStringLiteral("write-address"),
                      QStringLiteral("Also write the snapshot's address, 1 to 127 (the device "
                                     "then answers there).")});
    parser.addOption({QStringLiteral("restart-archive"),
                      QStringLiteral("Agree beforehand that the device restarts its archive (all "
                                     "its records lost) when the snapshot selects other archive "
                                     "parameters.")});
    parser.addPositionalArgument(QStringLiteral("snapshot"), QStringLiteral("Snapshot file."));
    parseSubcommand(parser, QStringLiteral("restore"),
                    QStringLiteral("Writes a snapshot's settings to a device of the same type and "
                                   "variant after showing the differences, then reads them back."
                                   "\nExample: lorvan-cli restore furnace.txt --port "
                                   "$LORVAN_PORT_DIR/COM1 --addr 1 --yes"),
                    arguments);
    if (parser.positionalArguments().size() != 1)
        throw CliFailure(QStringLiteral("one snapshot file is needed"), 64);
    const Snapshot wanted = readFile(parser.positionalArguments().first());
    CliLine line(parser);
    std::uint8_t address = reachDevice(line, parser).address;
    const Snapshot before = readDevice(line, address);
    refuseOtherDevice(wanted, before);

    const bool writeSerial = parser.isSet(QStringLiteral("write-serial"));
    const bool writeAddress = parser.isSet(QStringLiteral("write-address"));
    const QByteArray &wantedId = wanted.block(QStringLiteral("identity"))->bytes;
    const QByteArray &deviceId = before.block(QStringLiteral("identity"))->bytes;
    const int wantedAddress = quint8(wantedId[identity::kAddress]);
    if (writeAddress && (wantedAddress < 1 || wantedAddress > 127))
        throw CliFailure(QStringLiteral("the snapshot's address %1 is not a device address "
                                        "(1 to 127); nothing written")
                             .arg(wantedAddress),
                         64);
    const bool serialDiffers =
        writeSerial && wantedId.mid(identity::kSerial, 2) != deviceId.mid(identity::kSerial, 2);
    const bool addressDiffers =
        writeAddress && wantedId[identity::kAddress] != deviceId[identity::kAddress];
    const QStringList differences = compareSnapshots(asDeviceHolds(wanted, before), before, false);
    if (differences.isEmpty() && !serialDiffers && !addressDiffers) {
        printOut(QStringLiteral("The device already holds the snapshot's settings.\n"));
        return 0;
    }
    printDifferences(differences, QStringLiteral("device"));
    if (serialDiffers)
        printOut(QStringLiteral("identity\tserial\t(written as asked)\n"));
    if (addressDiffers)
        printOut(QStringLiteral("identity\taddress\t(written as asked)\n"));
    const bool restart = restartsArchive(wanted, before);
    if (restart)
        printOut(QStringLiteral("The snapshot selects other archive parameters: the device will "
                                "restart its archive and lose every record it holds.\n"));
    const bool agreed =
        (parser.isSet(QStringLiteral("yes")) ||
         confirmed(QStringLiteral("Write these settings to device %1?").arg(address))) &&
        (!restart || parser.isSet(QStringLiteral("restart-archive")) ||
         confirmed(QStringLiteral("Restart the archive of device %1?").arg(address)));
    if (!agreed) {
        printErr(QStringLiteral("lorvan-cli: nothing written\n"));
        return 1;
    }

    RegisterImages &images = line.images();
    const auto put = [&images](const SnapshotBlock &b) {
        std::copy(b.bytes.begin(), b.bytes.end(), images.holding.begin() + b.position);
    };
    const ModbusLink::WriteTally writesBefore = line.link().writeTally();
    try {
        for (const SnapshotBlock &b : wanted.blocks) {
            if (b.name == QLatin1String("identity") || b.name == QLatin1String("common"))
                continue;
            put(b);
            requireReply(line.link().WriteHoldingRegisters(address, b.position,
                                                           std::uint16_t(b.bytes.size())),
                         QStringLiteral("writing %1").arg(b.name));
        }
        // The common block goes as the editors send it: sealed with its check value, shadow first,
        // and carrying back the device's own record mark.
        put(*asDeviceHolds(wanted, before).block(QStringLiteral("common")));
        const CommonBlockWrite common =
            UpdateCommonBlock(images, [&](std::uint16_t position, std::uint16_t length) {
                return line.link().WriteHoldingRegisters(address, position, length);
            });
        requireReply(common.shadowResult, QStringLiteral("writing the common block's shadow"));
        requireReply(common.blockResult, QStringLiteral("writing the common block"));
        if (serialDiffers) {
            std::copy_n(wantedId.begin() + identity::kSerial, 2,
                        images.holding.begin() + identity::kSerial);
            requireReply(line.link().WriteHoldingRegisters(address, identity::kSerial, 2),
                         QStringLiteral("writing the serial number"));
        }
        if (addressDiffers) {
            // The address shares its register with the line speed code, which stays the device's.
            images.holding[identity::kAddress] = std::uint8_t(wantedId[identity::kAddress]);
            images.holding[identity::kSpeedCode] = std::uint8_t(deviceId[identity::kSpeedCode]);
            requireReply(line.link().WriteHoldingRegisters(address, identity::kAddress, 2),
                         QStringLiteral("writing the address"));
            address = std::uint8_t(wantedId[identity::kAddress]);
        }
    } catch (const CliFailure &failure) {
        const int written = line.link().writeTally().acknowledged - writesBefore.acknowledged;
        if (written == 0)
            throw;
        throw CliFailure(failure.message() +
                             QStringLiteral("; %1 write requests had reached the device, so it now "
                                            "holds part of the snapshot and part of its former "
                                            "settings: run the restore again")
                                 .arg(written),
                         failure.status());
    }

    // Read everything back, the shadow too: the device must now hold what the snapshot holds,
    // but for the record mark, which is the device's to move.
    const Snapshot after = readDevice(line, address);
    const Snapshot expected = asDeviceHolds(wanted, after);
    QStringList left = compareSnapshots(expected, after, false);
    requireReply(
        line.link().ReadHoldingRegisters(address, regmap::kCommonShadow, regmap::kCommonBlockBytes),
        QStringLiteral("reading the common block's shadow"));
    const QByteArray &sealed = expected.block(QStringLiteral("common"))->bytes;
    const QByteArray shadow(reinterpret_cast<const char *>(images.holding.data()) +
                                regmap::kCommonShadow,
                            regmap::kCommonBlockBytes);
    if (shadow != sealed)
        left << QStringLiteral("shadow\t(block)\t") + QString::fromLatin1(sealed.toHex(' ')) +
                    QLatin1Char('\t') + QString::fromLatin1(shadow.toHex(' '));
    const QByteArray &afterId = after.block(QStringLiteral("identity"))->bytes;
    if (writeSerial && afterId.mid(identity::kSerial, 2) != wantedId.mid(identity::kSerial, 2))
        left << QStringLiteral("identity\tserial\tnot taken");
    if (left.isEmpty()) {
        printOut(
            QStringLiteral("Written and read back: the device holds the snapshot's settings.\n"));
        return 0;
    }
    printErr(QStringLiteral("lorvan-cli: the device does not hold what was written:\n") +
             left.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return 1;
}
