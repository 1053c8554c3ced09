#include "device/networkfile.h"

#include "device/identity.h"
#include "device/imagefields.h"
#include "platform/atomicfile.h"
#include "platform/cp1251.h"

#include <QFile>

#include <algorithm>
#include <limits>

namespace {

// Object-stream value tags.
enum Tag : std::uint8_t {
    vaNull = 0,
    vaList = 1,
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaExtended = 5,
    vaString = 6,
    vaIdent = 7,
    vaFalse = 8,
    vaTrue = 9,
    vaBinary = 10,
    vaSet = 11,
    vaLString = 12,
    vaNil = 13,
    vaCollection = 14,
    vaSingle = 15,
    vaCurrency = 16,
    vaDate = 17,
    vaWString = 18,
    vaInt64 = 19,
    vaUTF8String = 20,
};

const QByteArray kSignature("TPF0");
const QByteArray kClassName("TTreeView");
const QByteArray kObjectName("TreeView1");
const QByteArray kItemsData("Items.Data");

// Size of a node's fixed part in the node list: four image indices, the data word, the child
// count and the text's length byte.
constexpr int kNodeFixedSize = 25;
// Lists and collections nest; a hostile file must not nest them deep enough to exhaust the stack.
constexpr int kMaxValueDepth = 16;

// ---- writing ----

class Writer
{
public:
    void bytes(const QByteArray &b) { m_out.append(b); }
    void u8(std::uint8_t v) { m_out.append(char(v)); }
    void i32(std::int32_t v)
    {
        char b[4];
        field::setI32(std::span(reinterpret_cast<std::uint8_t *>(b), 4), 0, v);
        m_out.append(b, 4);
    }
    void shortString(const QByteArray &s)
    {
        u8(std::uint8_t(s.size()));
        m_out.append(s);
    }
    // The smallest integer tag that holds the value, as the format's own writers do.
    void intValue(std::int32_t v)
    {
        if (v >= -128 && v <= 127) {
            u8(vaInt8);
            u8(std::uint8_t(v));
        } else if (v >= -32768 && v <= 32767) {
            u8(vaInt16);
            u8(std::uint8_t(v));
            u8(std::uint8_t(v >> 8));
        } else {
            u8(vaInt32);
            i32(v);
        }
    }
    void property(const QByteArray &name) { shortString(name); }
    QByteArray take() { return std::move(m_out); }

private:
    QByteArray m_out;
};

QByteArray entryText(const SavedEntry &e)
{
    return cp1251::encode(e.text).left(networkfile::kMaxTextBytes);
}

QByteArray nodeList(const SavedNetwork &network)
{
    Writer w;
    int firstLevel = 0;
    for (const SavedEntry &e : network.entries)
        firstLevel += e.isDevice() ? 1 : 0;
    w.i32(firstLevel);
    for (qsizetype i = 0; i < network.entries.size(); ++i) {
        const SavedEntry &e = network.entries[i];
        int children = 0;
        if (e.isDevice()) {
            for (qsizetype j = i + 1; j < network.entries.size() && !network.entries[j].isDevice();
                 ++j)
                ++children;
        }
        const QByteArray text = entryText(e);
        w.i32(kNodeFixedSize + int(text.size()));
        w.i32(e.image);
        w.i32(e.selectedImage);
        w.i32(-1); // state image
        w.i32(-1); // overlay
        w.i32(0);  // data word: a memory address in the format's origin, meaningless here
        w.i32(children);
        w.shortString(text);
    }
    return w.take();
}

QByteArray treeBlock(const SavedNetwork &network)
{
    Writer w;
    w.bytes(kSignature);
    w.shortString(kClassName);
    w.shortString(kObjectName);
    // The tree's visible settings as the main window shows it; readers may ignore them.
    w.property("Left");
    w.intValue(2);
    w.property("Top");
    w.intValue(24);
    w.property("Width");
    w.intValue(200);
    w.property("Height");
    w.intValue(380);
    w.property("HideSelection");
    w.u8(vaFalse);
    w.property("HotTrack");
    w.u8(vaTrue);
    w.property("RowSelect");
    w.u8(vaTrue);
    w.property("Indent");
    w.intValue(19);
    const QByteArray data = nodeList(network);
    w.property(kItemsData);
    w.u8(vaBinary);
    w.i32(std::int32_t(data.size()));
    w.bytes(data);
    w.u8(0); // end of properties
    w.u8(0); // no child objects
    return w.take();
}

// ---- reading ----

struct Damaged
{
    QString reason;
};

[[noreturn]] void fail(const QString &reason)
{
    throw Damaged{reason};
}

class Reader
{
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(bytes) {}

    qsizetype remaining() const { return m_bytes.size() - m_pos; }
    qsizetype position() const { return m_pos; }
    bool atEnd() const { return remaining() == 0; }

    QByteArrayView take(qint64 n, const char *what)
    {
        if (n < 0 || n > remaining())
            fail(QStringLiteral("%1: %2 байт при остатке %3")
                     .arg(QString::fromUtf8(what))
                     .arg(n)
                     .arg(remaining()));
        const QByteArrayView v = m_bytes.sliced(m_pos, n);
        m_pos += n;
        return v;
    }
    std::uint8_t u8(const char *what) { return std::uint8_t(take(1, what)[0]); }
    std::uint8_t peek(const char *what)
    {
        if (atEnd())
            fail(QStringLiteral("%1: конец данных").arg(QString::fromUtf8(what)));
        return std::uint8_t(m_bytes[m_pos]);
    }
    std::int32_t i32(const char *what)
    {
        const QByteArrayView v = take(4, what);
        return field::i32(std::span(reinterpret_cast<const std::uint8_t *>(v.data()), 4), 0);
    }
    std::uint32_t u32(const char *what) { return std::uint32_t(i32(what)); }
    QByteArrayView shortString(const char *what) { return take(u8(what), what); }

private:
    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
};

void skipValue(Reader &r, int depth);

void skipProperties(Reader &r, int depth)
{
    for (;;) {
        const QByteArrayView name = r.shortString("имя свойства");
        if (name.isEmpty())
            return;
        skipValue(r, depth);
    }
}

void skipValue(Reader &r, int depth)
{
    if (depth > kMaxValueDepth)
        fail(QStringLiteral("слишком глубокая вложенность значений"));
    const std::uint8_t tag = r.u8("тип значения");
    switch (tag) {
    case vaNull:
    case vaFalse:
    case vaTrue:
    case vaNil:
        return;
    case vaInt8:
        r.take(1, "целое");
        return;
    case vaInt16:
        r.take(2, "целое");
        return;
    case vaInt32:
    case vaSingle:
        r.take(4, "число");
        return;
    case vaExtended:
        r.take(10, "число");
        return;
    case vaCurrency:
    case vaDate:
    case vaInt64:
        r.take(8, "число");
        return;
    case vaString:
    case vaIdent:
        r.shortString("строка");
        return;
    case vaBinary:
    case vaLString:
    case vaUTF8String:
        r.take(r.u32("длина"), "данные");
        return;
    case vaWString:
        r.take(qint64(r.u32("длина")) * 2, "строка");
        return;
    case vaList:
        while (r.peek("список") != 0)
            skipValue(r, depth + 1);
        r.u8("список");
        return;
    case vaSet:
        while (!r.shortString("множество").isEmpty()) {
        }
        return;
    case vaCollection:
        while (r.peek("коллекция") != 0) {
            const std::uint8_t order = r.peek("коллекция");
            if (order == vaInt8 || order == vaInt16 || order == vaInt32)
                skipValue(r, depth + 1);
            if (r.u8("элемент коллекции") != vaList)
                fail(QStringLiteral("элемент коллекции без начала списка"));
            skipProperties(r, depth + 1);
        }
        r.u8("коллекция");
        return;
    default:
        fail(QStringLiteral("неизвестный тип значения %1").arg(tag));
    }
}

// The node list of "Items.Data": texts and images; records come later in the file.
QList<SavedEntry> readNodeList(QByteArrayView data)
{
    Reader r(data);
    const std::int32_t firstLevel = r.i32("число устройств");
    // Every node takes its size word and the fixed part at least.
    constexpr int kMinNode = 4 + kNodeFixedSize;
    if (firstLevel < 0 || firstLevel > r.remaining() / kMinNode)
        fail(QStringLiteral("число устройств %1 не помещается в данные").arg(firstLevel));

    QList<SavedEntry> entries;
    auto readNode = [&](int level) -> std::int32_t {
        const std::int32_t size = r.i32("размер узла");
        if (size < kNodeFixedSize || size > kNodeFixedSize + networkfile::kMaxTextBytes)
            fail(QStringLiteral("размер узла %1").arg(size));
        Reader node(r.take(size, "узел"));
        SavedEntry e;
        e.level = level;
        e.image = node.i32("картинка");
        e.selectedImage = node.i32("картинка");
        node.i32("картинка");
        node.i32("картинка");
        node.i32("данные узла");
        const std::int32_t children = node.i32("число дочерних");
        const int textLength = node.u8("текст узла");
        if (textLength != size - kNodeFixedSize)
            fail(QStringLiteral("длина текста %1 при размере узла %2").arg(textLength).arg(size));
        const QByteArrayView text = node.take(textLength, "текст узла");
        e.text = cp1251::decode(text.data(), text.size());
        entries.append(e);
        return children;
    };
    for (std::int32_t i = 0; i < firstLevel; ++i) {
        const std::int32_t children = readNode(0);
        if (children < 0 || children > r.remaining() / kMinNode)
            fail(QStringLiteral("число настроек %1 не помещается в данные").arg(children));
        for (std::int32_t c = 0; c < children; ++c) {
            if (readNode(1) != 0)
                fail(QStringLiteral("узел глубже второго уровня"));
        }
    }
    if (!r.atEnd())
        fail(QStringLiteral("лишние байты в списке узлов"));
    return entries;
}

QList<SavedEntry> readTreeBlock(Reader &r)
{
    if (r.take(4, "подпись") != kSignature)
        fail(QStringLiteral("нет подписи TPF0"));
    if (r.shortString("класс") != kClassName)
        fail(QStringLiteral("не дерево устройств"));
    r.shortString("имя объекта");
    std::optional<QList<SavedEntry>> entries;
    for (;;) {
        const QByteArrayView name = r.shortString("имя свойства");
        if (name.isEmpty())
            break;
        if (name != kItemsData) {
            skipValue(r, 0);
            continue;
        }
        if (entries)
            fail(QStringLiteral("второй список узлов"));
        if (r.u8("тип значения") != vaBinary)
            fail(QStringLiteral("список узлов не двоичный"));
        entries = readNodeList(r.take(r.u32("длина"), "список узлов"));
    }
    if (r.u8("список объектов") != 0)
        fail(QStringLiteral("дерево с вложенными объектами"));
    // A tree without entries has no node list at all.
    return entries.value_or(QList<SavedEntry>());
}

DeviceNode readDeviceRecord(Reader &r, const char *what)
{
    const QByteArrayView v = r.take(DeviceNode::kSize, what);
    DeviceNode d;
    DeviceNode::fromBytes(std::span(reinterpret_cast<const std::uint8_t *>(v.data()), v.size()),
                          &d);
    return d;
}

SavedNetwork decodeOrThrow(const QByteArray &bytes)
{
    Reader r(bytes);
    SavedNetwork net;
    net.entries = readTreeBlock(r);

    // Records are taken as they are: the program copes with any value in them (a port that does
    // not open, a speed it does not know, a period of 0 that is never polled, a settings code that
    // opens no window).
    bool anyDevice = false;
    for (SavedEntry &e : net.entries) {
        if (e.isDevice()) {
            anyDevice = true;
            e.device = readDeviceRecord(r, "запись устройства");
        } else {
            const QByteArrayView v = r.take(FeatureNode::kSize, "запись настройки");
            e.feature.code = std::uint8_t(v[0]);
            e.feature.opened = std::uint8_t(v[1]);
        }
    }

    net.reserved = r.i32("конец файла");
    // The tree's own device entries are what counts; the trailer's count only travels along.
    net.deviceCount = r.i32("конец файла");
    net.selectedIndex = r.i32("конец файла");
    net.current = readDeviceRecord(r, "конец файла");
    // Whatever follows the trailer is not ours: it is left unread.

    // The selection is an index the windows look records up with.
    if (anyDevice && (net.selectedIndex < 0 || net.selectedIndex >= net.entries.size() ||
                      !net.entries[net.selectedIndex].isDevice()))
        fail(QStringLiteral("выбранный узел %1 не устройство").arg(net.selectedIndex));
    return net;
}

} // namespace

namespace networkfile {

QString damagedMessage()
{
    return QStringLiteral("Ошибка чтения файла дерева устройств");
}

QByteArray encode(const SavedNetwork &network)
{
    QByteArray out = treeBlock(network);
    for (const SavedEntry &e : network.entries) {
        if (e.isDevice()) {
            out.append(reinterpret_cast<const char *>(e.device.bytes().data()), DeviceNode::kSize);
        } else {
            out.append(char(e.feature.code));
            out.append(char(e.feature.opened));
        }
    }
    Writer trailer;
    trailer.i32(network.reserved);
    trailer.i32(network.deviceCount);
    trailer.i32(network.selectedIndex);
    out.append(trailer.take());
    out.append(reinterpret_cast<const char *>(network.current.bytes().data()), DeviceNode::kSize);
    return out;
}

std::optional<SavedNetwork> decode(const QByteArray &bytes, QString *detail)
{
    try {
        return decodeOrThrow(bytes);
    } catch (const Damaged &d) {
        if (detail)
            *detail = d.reason;
        return std::nullopt;
    }
}

bool save(const QString &path, const SavedNetwork &network, QString *error)
{
    const auto failure = writeFileAtomically(path, encode(network));
    if (failure)
        *error = failure->message();
    return !failure;
}

std::optional<SavedNetwork> load(const QString &path, QString *error, bool *damaged)
{
    if (damaged)
        *damaged = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return std::nullopt;
    }
    // One byte more than allowed tells an oversized file from one of exactly the limit.
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return std::nullopt;
    }
    QString detail = QStringLiteral("файл больше %1 байт").arg(kMaxFileSize);
    std::optional<SavedNetwork> network;
    if (bytes.size() <= kMaxFileSize)
        network = decode(bytes, &detail);
    if (!network) {
        *error = detail;
        if (damaged)
            *damaged = true;
    }
    return network;
}

void appendFoundDevice(SavedNetwork &network, int portNumber,
                       std::span<const std::uint8_t> identity, const QString &tablePath)
{
    constexpr int kNameLength = 32;
    const auto isDevice = [](const SavedEntry &e) { return e.isDevice(); };
    const int number =
        1 + int(std::count_if(network.entries.begin(), network.entries.end(), isDevice));
    SavedEntry device;
    device.text = describeIdentity(identity).description().left(kNameLength);
    device.device = DeviceNode::found(number, portNumber, identity, tablePath);
    network.entries.append(device);
    for (const FeatureEntry &f : featureEntries(device.device.variant())) {
        SavedEntry e;
        e.level = 1;
        e.text = f.text;
        e.image = e.selectedImage = f.image;
        e.feature.code = std::uint8_t(f.code);
        network.entries.append(e);
    }
    network.deviceCount = number;
    network.current = device.device;
    network.current.setGraphRefresh(false);
}

QString saveName(const QString &chosen)
{
    // Only the file name's own last dot counts, and only the exact lower-case text.
    const QString name = chosen.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && name.mid(dot + 1) == QLatin1StringView("ini"))
        return chosen;
    return chosen + QStringLiteral(".ini");
}

} // namespace networkfile
