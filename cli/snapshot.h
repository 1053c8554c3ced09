#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// A device's settings as a readable text file: every settings block the editors read, with its
// place in the holding image and its bytes, and beside them the block's fields by name with the
// values the editors show. Only the bytes are read back; the fields say what they mean.
struct SnapshotBlock
{
    QString name;               // "identity", "common", "channel 1", "loop 2 coefficients", ...
    std::uint16_t position = 0; // byte position in the holding image
    QByteArray bytes;

    friend bool operator==(const SnapshotBlock &, const SnapshotBlock &) = default;
};

struct Snapshot
{
    QList<SnapshotBlock> blocks; // the identity first

    const SnapshotBlock *block(const QString &name) const;
    std::uint8_t type() const;    // identity byte 1
    std::uint8_t variant() const; // identity byte 11

    friend bool operator==(const Snapshot &, const Snapshot &) = default;
};

// The blocks a device of this variant has, in reading order, with empty bytes; the identity is
// first. Programs only where the variant offers them.
QList<SnapshotBlock> snapshotLayout(std::uint8_t variant);

// One field of a block: its name, the value as the editors show it and where its bytes lie in
// the block.
struct SnapshotField
{
    QString name;
    QString shown;
    int offset = 0;
    int length = 1;
};
// The fields of a block of the snapshot; scaled values that depend on another block (a loop's
// setpoint on its input's point position) take it from the snapshot.
QList<SnapshotField> snapshotFields(const Snapshot &snapshot, const SnapshotBlock &block);

QString encodeSnapshot(const Snapshot &snapshot);
// Nothing, with the reason and line in why, for a text that is not a whole snapshot: every
// block of the layout once, with the layout's place and length.
std::optional<Snapshot> parseSnapshot(const QString &text, QString *why);

// Why a snapshot cannot go to a device with this identity (another type or variant); empty when
// it can.
QString snapshotRefusal(const Snapshot &snapshot, std::uint8_t type, std::uint8_t variant);

// "block<TAB>field<TAB>wanted<TAB>found" for each field whose shown value differs, and
// "block<TAB>byte N<TAB>..." for differing bytes no field explains. The identity is compared
// only when withIdentity.
QStringList compareSnapshots(const Snapshot &wanted, const Snapshot &found, bool withIdentity);
