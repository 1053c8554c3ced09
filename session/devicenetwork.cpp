#include "session/devicenetwork.h"

int DeviceNetwork::deviceCount() const
{
    return int(std::count_if(m_entries.begin(), m_entries.end(),
                             [](const NetworkEntry &e) { return e.isDevice; }));
}

QList<int> DeviceNetwork::deviceIndices() const
{
    QList<int> result;
    for (int i = 0; i < entryCount(); ++i) {
        if (m_entries[i].isDevice)
            result.append(i);
    }
    return result;
}

int DeviceNetwork::deviceOf(int index) const
{
    if (!contains(index))
        return -1;
    while (index >= 0 && !m_entries[index].isDevice)
        --index;
    return index;
}

int DeviceNetwork::nextDevice(int index) const
{
    for (int i = std::max(0, index + 1); i < entryCount(); ++i) {
        if (m_entries[i].isDevice)
            return i;
    }
    return entryCount() > 0 ? 0 : -1;
}

DeviceNode *DeviceNetwork::device(int index)
{
    return contains(index) && m_entries[index].device ? &*m_entries[index].device : nullptr;
}

const DeviceNode *DeviceNetwork::device(int index) const
{
    return contains(index) && m_entries[index].device ? &*m_entries[index].device : nullptr;
}

FeatureNode *DeviceNetwork::feature(int index)
{
    return contains(index) && m_entries[index].feature ? &*m_entries[index].feature : nullptr;
}

int DeviceNetwork::addDevice(const QString &text, const DeviceNode &record)
{
    NetworkEntry e;
    e.isDevice = true;
    e.text = text.left(kNameLength);
    e.image = kImageAnswers;
    e.device = record;
    m_entries.append(e);
    const int index = entryCount() - 1;
    emit entryInserted(index);
    return index;
}

void DeviceNetwork::addFeatures(int deviceIndex)
{
    const DeviceNode *record = device(deviceIndex);
    const std::uint8_t variant = record ? record->variant() : 0;
    for (const FeatureEntry &f : featureEntries(variant)) {
        NetworkEntry e;
        e.isDevice = false;
        e.text = f.text;
        e.image = f.image;
        e.feature = FeatureNode{std::uint8_t(f.code), 0};
        addChild(deviceIndex, e);
    }
}

int DeviceNetwork::addChild(int deviceIndex, const NetworkEntry &entry)
{
    if (!isDevice(deviceIndex))
        return -1;
    int at = deviceIndex + 1;
    while (at < entryCount() && !m_entries[at].isDevice)
        ++at;
    NetworkEntry e = entry;
    e.isDevice = false;
    m_entries.insert(at, e);
    emit entryInserted(at);
    return at;
}

void DeviceNetwork::setText(int index, const QString &text)
{
    if (!contains(index))
        return;
    m_entries[index].text = text.left(kMaxTextLength);
    emit entryChanged(index);
}

void DeviceNetwork::setImage(int index, int image)
{
    if (!contains(index) || m_entries[index].image == image)
        return;
    m_entries[index].image = image;
    emit entryChanged(index);
}

void DeviceNetwork::replace(const QList<NetworkEntry> &entries)
{
    ++m_generation;
    m_entries = entries;
    emit replaced();
}

void DeviceNetwork::freeRecords()
{
    for (NetworkEntry &e : m_entries) {
        e.device.reset();
        e.feature.reset();
    }
}

QByteArray DeviceNetwork::settingsFingerprint() const
{
    QByteArray print;
    for (const NetworkEntry &e : m_entries) {
        print.append(e.isDevice ? 'D' : 'F');
        print.append(e.text.toUtf8());
        print.append('\0');
        if (e.device) {
            DeviceNode record = *e.device;
            record.setNextPollTime(0);
            print.append(reinterpret_cast<const char *>(record.bytes().data()),
                         qsizetype(record.bytes().size()));
        }
        if (e.feature)
            print.append(char(e.feature->code));
    }
    return print;
}
