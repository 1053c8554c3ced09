#pragma once

#include "device/devicenode.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The saved device network: the tree's entries with their records and the main window's
// selection. The file keeps the tree in the windows' binary object-stream format, then the
// records in the tree's depth-first order, then a trailer with the selection.

struct SavedEntry
{
    QString text;
    qint32 image = 0;
    qint32 selectedImage = 0;
    // 0: a device with its DeviceNode; 1: a settings entry of the device before it.
    int level = 0;
    DeviceNode device;
    FeatureNode feature;

    bool isDevice() const { return level == 0; }
    friend bool operator==(const SavedEntry &, const SavedEntry &) = default;
};

struct SavedNetwork
{
    // Depth-first: each device followed by its settings entries.
    QList<SavedEntry> entries;
    // Kept from the last loaded file and written back unchanged.
    qint32 reserved = 0;
    // The trailer's count. The tree's device entries are what counts: a file may hold another
    // count (a save after a failed load wrote the old count with an empty tree).
    qint32 deviceCount = 0;
    // Depth-first index of the selected device entry.
    qint32 selectedIndex = 0;
    DeviceNode current;

    friend bool operator==(const SavedNetwork &, const SavedNetwork &) = default;
};

namespace networkfile {

constexpr int kTrailerSize = 324;
// An entry's text sits behind one length byte.
constexpr int kMaxTextBytes = 255;
// No saved network comes near this; a larger file is not one of ours.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

// What the user is told about any damaged or unreadable content.
QString damagedMessage();

// The whole file. Texts are cut to 255 bytes of the 8-bit code page; entries must start with a
// device and have levels 0 and 1 only.
QByteArray encode(const SavedNetwork &network);

// Whatever encode writes, decode gives back as it was, so that a load followed by a save changes
// no byte of the texts or records. Every length, count and size is checked against what the file
// holds, and the selected index must name a device entry; record values are taken as they are.
// Bytes after the trailer are ignored. Nothing on damage, with the reason in detail.
std::optional<SavedNetwork> decode(const QByteArray &bytes, QString *detail = nullptr);

// Replaced whole (see platform/atomicfile.h): a failed save leaves the old file as it was, with
// "Не удалось записать файл <path>: <reason>" in error.
bool save(const QString &path, const SavedNetwork &network, QString *error);
// Nothing when the file cannot be read (error: the system's text) or is damaged (error: the
// reason; the user sees damagedMessage()).
std::optional<SavedNetwork> load(const QString &path, QString *error, bool *damaged = nullptr);

// A device as a scan adds it: the entry with the identity's description (32 characters), its
// settings entries, and its record, which also becomes CurrentDevice. Devices are numbered from 1
// in the order they are added, after those already in the tree.
void appendFoundDevice(SavedNetwork &network, int portNumber,
                       std::span<const std::uint8_t> identity, const QString &tablePath);

// The name a save goes to: ".ini" appended unless the file name already ends in exactly "ini".
QString saveName(const QString &chosen);

} // namespace networkfile
