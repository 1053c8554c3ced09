#pragma once

#include "device/devicenode.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// One entry of the device network: a device (first level) with its 312-byte record, or a
// settings entry (second level) below the device before it, with its feature record. The
// records can be released while the entries stay.
struct NetworkEntry
{
    bool isDevice = true;
    QString text;
    int image = 0;
    std::optional<DeviceNode> device;
    std::optional<FeatureNode> feature;
};

// The devices the configurator knows, in absolute (depth-first) order: each device entry followed
// by its settings entries. The device tree shows this model; the polling cycle, the scan and the
// network file work on it.
class DeviceNetwork : public QObject
{
    Q_OBJECT
public:
    static constexpr int kNameLength = 32;
    // The network file keeps an entry's text behind one length byte.
    static constexpr int kMaxTextLength = 255;
    // The pictures of a device entry: it answered its last exchange, or it did not.
    static constexpr int kImageAnswers = 0;
    static constexpr int kImageFailed = 15;

    using QObject::QObject;

    int entryCount() const { return int(m_entries.size()); }
    const QList<NetworkEntry> &entries() const { return m_entries; }
    // Throws std::out_of_range for an index outside the network.
    const NetworkEntry &entry(int index) const { return m_entries.at(index); }
    bool contains(int index) const { return index >= 0 && index < entryCount(); }
    bool isDevice(int index) const { return contains(index) && m_entries[index].isDevice; }

    int deviceCount() const;
    QList<int> deviceIndices() const;
    // The device entry itself, or the device a settings entry belongs to; -1 for none.
    int deviceOf(int index) const;
    // The first device entry after index in absolute order, wrapping to the first entry;
    // -1 for an empty network.
    int nextDevice(int index) const;

    // The record of an entry, nullptr when the entry has none (released, or the other level).
    DeviceNode *device(int index);
    const DeviceNode *device(int index) const;
    FeatureNode *feature(int index);

    // A new device entry at the end with its record; the text is cut to 32 characters. Returns
    // its absolute index.
    int addDevice(const QString &text, const DeviceNode &record);
    // The settings entries that the device's variant byte calls for, below the device.
    void addFeatures(int deviceIndex);
    // A settings entry below the device, after its other entries; returns its absolute index.
    int addChild(int deviceIndex, const NetworkEntry &entry);

    // Texts typed by the user are kept up to 255 characters.
    void setText(int index, const QString &text);
    void setImage(int index, int image);

    // Replaces every entry (a scan starts anew, a network file is loaded).
    void replace(const QList<NetworkEntry> &entries);
    void clear() { replace({}); }
    // Releases every record; the entries stay.
    void freeRecords();

    // What a network file keeps of the network that the user can change: the entries' texts
    // and records, without what every run changes by itself (next poll times, the answer
    // pictures, the opened marks). Equal fingerprints mean nothing worth saving changed.
    QByteArray settingsFingerprint() const;
    // Whether the network differs from the one last saved to or loaded from a network file; a
    // fresh program's empty network counts as saved.
    bool changedSinceFiled() const { return settingsFingerprint() != m_filed; }
    // The network as it is now was saved or loaded.
    void markFiled() { m_filed = settingsFingerprint(); }

    // Counts the changes that removed or replaced entries, so that code that waited for a reply
    // can tell whether the entry it started with is still the same.
    quint64 generation() const { return m_generation; }

signals:
    void replaced();
    void entryInserted(int index);
    void entryChanged(int index);

private:
    QList<NetworkEntry> m_entries;
    quint64 m_generation = 0;
    QByteArray m_filed;
};
