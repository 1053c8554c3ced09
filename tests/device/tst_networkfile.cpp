#include "device/networkfile.h"
#include "platform/cp1251.h"

#include <QTemporaryDir>
#include <QtTest>

#include <random>

namespace {

DeviceNode device(int number, int port, std::uint8_t address, std::uint8_t speed,
                  std::uint8_t variant)
{
    std::uint8_t ident[18] = {105, 3, 5, 3, 0x34, 0x12};
    ident[6] = address;
    ident[7] = speed;
    ident[11] = variant;
    return DeviceNode::found(number, port, ident,
                             QStringLiteral("/data/ArcData%1.dbf").arg(number));
}

void addDevice(SavedNetwork &net, const QString &text, const DeviceNode &record, int image = 0)
{
    SavedEntry d;
    d.text = text;
    d.image = d.selectedImage = image;
    d.device = record;
    net.entries.append(d);
    for (const FeatureEntry &f : featureEntries(record.variant())) {
        SavedEntry e;
        e.level = 1;
        e.text = f.text;
        e.image = e.selectedImage = f.image;
        e.feature.code = std::uint8_t(f.code);
        net.entries.append(e);
    }
    ++net.deviceCount;
}

// Two devices as a scan and a few edits leave them: the second answers no more, its first
// settings entry was opened, its text was typed over by the user.
SavedNetwork sampleNetwork()
{
    SavedNetwork net;
    DeviceNode first = device(1, 1, 1, 4, 0x05);
    first.setNextPollTime(123456);
    addDevice(net, QStringLiteral("Лорван/001/115200"), first);
    DeviceNode second = device(2, 3, 5, 0, 0x00);
    second.setChannelColour(2, 0x00123456);
    second.setPollPeriod(3600);
    addDevice(net, QStringLiteral("Котельная №2, печь"), second, 15);
    net.entries[8].feature.opened = 1;
    net.selectedIndex = 7; // the second device, after the first and its six settings entries
    net.current = second;
    net.reserved = 0x01020304;
    return net;
}

// Offsets into the node list of the tree block, found by the property's name.
qsizetype nodeListStart(const QByteArray &file)
{
    return file.indexOf("\x0aItems.Data") + 11 + 1 + 4;
}

void putI32(QByteArray &b, qsizetype pos, std::int32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[pos + i] = char(std::uint32_t(v) >> (8 * i));
}

// Start of section B: right after the tree block.
qsizetype recordsStart(const QByteArray &file)
{
    const qsizetype list = nodeListStart(file);
    const std::uint32_t length = std::uint8_t(file[list - 4]) | std::uint8_t(file[list - 3]) << 8 |
                                 std::uint8_t(file[list - 2]) << 16 |
                                 std::uint32_t(std::uint8_t(file[list - 1])) << 24;
    return list + length + 2;
}

QByteArray randomBytes(std::mt19937 &random, int count)
{
    QByteArray b(count, '\0');
    for (char &c : b)
        c = char(random());
    return b;
}

// A network over the whole range of every field the writer takes: texts of any bytes up to the
// length byte's 255, images, records of any bytes (ports, periods, speeds, addresses, colours,
// table paths, identities), settings codes, the trailer's words.
SavedNetwork randomNetwork(std::mt19937 &random)
{
    const auto any = [&random] { return qint32(random()); };
    const auto record = [&random] {
        DeviceNode d;
        const QByteArray b = randomBytes(random, DeviceNode::kSize);
        std::copy(b.begin(), b.end(), d.bytes().begin());
        return d;
    };
    const auto entry = [&](int level) {
        SavedEntry e;
        e.level = level;
        e.text = cp1251::decode(randomBytes(random, int(random() % 256)));
        e.image = any();
        e.selectedImage = any();
        return e;
    };
    SavedNetwork net;
    QList<qint32> devices;
    for (int d = int(random() % 7); d > 0; --d) {
        devices.append(qint32(net.entries.size()));
        net.entries.append(entry(0));
        net.entries.last().device = record();
        for (int f = int(random() % 8); f > 0; --f) {
            net.entries.append(entry(1));
            net.entries.last().feature = {std::uint8_t(random()), std::uint8_t(random())};
        }
    }
    net.reserved = any();
    net.deviceCount = any();
    net.selectedIndex = devices.isEmpty() ? any() : devices[random() % devices.size()];
    net.current = record();
    return net;
}

} // namespace

class TestNetworkFile : public QObject
{
    Q_OBJECT
private slots:
    void savedNetworkLoadsBack()
    {
        SavedNetwork net = sampleNetwork();
        // A text typed by the user beyond what the length byte can carry is kept to 255 bytes.
        net.entries[0].text = QString(300, QChar(u'ж'));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("plant.ini"));
        QString error;
        QVERIFY2(networkfile::save(path, net, &error), qPrintable(error));
        const std::optional<SavedNetwork> back = networkfile::load(path, &error);
        QVERIFY2(back, qPrintable(error));

        SavedNetwork expected = net;
        expected.entries[0].text.truncate(255);
        QCOMPARE(back->entries.size(), expected.entries.size());
        for (qsizetype i = 0; i < expected.entries.size(); ++i)
            QVERIFY2(back->entries[i] == expected.entries[i], qPrintable(QString::number(i)));
        QVERIFY(*back == expected);
        QCOMPARE(networkfile::encode(*back), networkfile::encode(expected));
        // Nothing but the file is left behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("plant.ini")});
    }

    void fileLayout()
    {
        const SavedNetwork net = sampleNetwork();
        const QByteArray file = networkfile::encode(net);
        QVERIFY(file.startsWith(QByteArray("TPF0\x09TTreeView\x09TreeView1")));
        const qsizetype list = nodeListStart(file);
        QCOMPARE(std::uint8_t(file[list]), std::uint8_t(2)); // first-level count
        const QByteArray firstText = cp1251::encode(QStringLiteral("Лорван/001/115200"));
        QCOMPARE(std::uint8_t(file[list + 4]), std::uint8_t(25 + firstText.size()));
        QCOMPARE(std::uint8_t(file[list + 8 + 20]), std::uint8_t(6)); // child count
        QCOMPARE(file.mid(list + 8 + 25, firstText.size()), firstText);

        // Records in depth-first order: 312 bytes per device, 2 per settings entry.
        const qsizetype records = recordsStart(file);
        QCOMPARE(file.size(), records + 2 * 312 + (6 + 4) * 2 + 324);
        QCOMPARE(file.mid(records + 312, 2), QByteArray("\x01\x00", 2));
        const qsizetype secondDevice = records + 312 + 6 * 2;
        QCOMPARE(file.mid(secondDevice + 8, 4), QByteArray("\x03\x00\x00\x00", 4));
        QCOMPARE(file.mid(secondDevice + 312, 2), QByteArray("\x01\x01", 2));
        const qsizetype trailer = file.size() - 324;
        QCOMPARE(file.mid(trailer, 12), QByteArray("\x04\x03\x02\x01"
                                                   "\x02\x00\x00\x00"
                                                   "\x07\x00\x00\x00",
                                                   12));
    }

    // Whatever the writer writes, the reader gives back as it was; a load followed by a save
    // writes the same bytes, whatever follows the trailer in the file read.
    void everyWrittenNetworkLoadsBack()
    {
        std::mt19937 random(18);
        for (int round = 0; round < 400; ++round) {
            const SavedNetwork net = randomNetwork(random);
            const QByteArray file = networkfile::encode(net);
            const QByteArray tail = randomBytes(random, round % 4 == 0 ? int(random() % 400) : 0);
            QString detail;
            const std::optional<SavedNetwork> back = networkfile::decode(file + tail, &detail);
            QVERIFY2(back, qPrintable(QStringLiteral("round %1: %2").arg(round).arg(detail)));
            QVERIFY2(*back == net, qPrintable(QString::number(round)));
            QVERIFY2(networkfile::encode(*back) == file, qPrintable(QString::number(round)));
        }
    }

    // A tree block as another writer may produce it: every kind of value before and after the
    // node list, which the reader skips by its tag.
    void foreignPropertiesAreSkipped()
    {
        QByteArray b("TPF0\x09TTreeView\x09TreeView1");
        auto prop = [&b](const char *name, const QByteArray &value) {
            b.append(char(qstrlen(name))).append(name).append(value);
        };
        auto raw = [](std::initializer_list<int> bytes) {
            QByteArray r;
            for (int x : bytes)
                r.append(char(x));
            return r;
        };
        prop("A0", raw({0}));
        prop("Font.Charset", raw({2, 0xCC}));
        prop("Font.Height", raw({3, 0xF5, 0xFF}));
        prop("Color", raw({4, 5, 0, 0, 0x80}));
        prop("Ext", raw({5, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}));
        prop("Font.Name", QByteArray("\x06\x0dMS Sans Serif"));
        prop("OnChange", QByteArray("\x07\x0fTreeView1Change"));
        prop("ReadOnly", raw({8}));
        prop("HotTrack", raw({9}));
        prop("Bits.Data", raw({10, 3, 0, 0, 0, 0, 1, 0}));
        prop("Anchors", QByteArray("\x0b\x06"
                                   "akLeft\x05"
                                   "akTop\x00",
                                   15));
        prop("Hint", raw({12, 2, 0, 0, 0, 'o', 'k'}));
        prop("PopupMenu", raw({13}));
        prop("Columns", raw({14, 2, 0, 1, 5, 'W', 'i', 'd', 't', 'h', 3, 0x10, 0x01, 0, 1, 0, 0}));
        prop("Scale", raw({15, 0, 0, 0x80, 0x3F}));
        prop("Money", raw({16, 1, 2, 3, 4, 5, 6, 7, 8}));
        prop("When", raw({17, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
        prop("Wide", raw({18, 2, 0, 0, 0, 0x41, 0x04, 0x42, 0x04}));
        prop("Big", raw({19, 1, 0, 0, 0, 0, 0, 0, 0}));
        prop("Utf", raw({20, 2, 0, 0, 0, 0xD0, 0x96}));
        prop("Items.Data", raw({10,   37,   0,    0,    0,            // node list length
                                1,    0,    0,    0,                  // one device
                                29,   0,    0,    0,                  // S = 25 + 4
                                15,   0,    0,    0,    15,  0, 0, 0, // images
                                0xFF, 0xFF, 0xFF, 0xFF, 0,   0, 0, 0, // state, overlay
                                0x78, 0x56, 0x34, 0x12,               // data word, ignored
                                0,    0,    0,    0,                  // no settings entries
                                4,    0xCF, 0xE5, 0xF7, 0xFC}));      // "Печь"
        prop("Lines", raw({1, 2, 7, 4, 7, 1, 0, 0, 0}));
        b.append('\0').append('\0');
        const DeviceNode record = device(1, 2, 3, 1, 0);
        b.append(reinterpret_cast<const char *>(record.bytes().data()), 312);
        b.append(QByteArray("\0\0\0\0\x01\0\0\0\0\0\0\0", 12));
        b.append(reinterpret_cast<const char *>(record.bytes().data()), 312);

        QString detail;
        const std::optional<SavedNetwork> net = networkfile::decode(b, &detail);
        QVERIFY2(net, qPrintable(detail));
        QCOMPARE(net->entries.size(), 1);
        QCOMPARE(net->entries[0].text, QStringLiteral("Печь"));
        QCOMPARE(net->entries[0].image, 15);
        QCOMPARE(net->entries[0].device, record);
        QCOMPARE(net->deviceCount, 1);
    }

    void damagedFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray plain = networkfile::encode(sampleNetwork());
        const qsizetype list = nodeListStart(plain);
        const qsizetype trailer = plain.size() - 324;

        auto patched = [&](qsizetype pos, std::int32_t v) {
            QByteArray b = plain;
            putI32(b, pos, v);
            return b;
        };
        QTest::newRow("one byte missing at the end") << plain.chopped(1);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a tree") << QByteArray(plain).replace("TTreeView", "TTreeList");
        QTest::newRow("unknown value tag")
            << QByteArray(plain).replace("\x09RowSelect\x09", "\x09RowSelect\x15");
        QTest::newRow("node list longer than the file") << patched(list - 4, 0x7FFFFFF0);
        QTest::newRow("device count beyond the list") << patched(list, 1000);
        QTest::newRow("negative device count") << patched(list, -1);
        QTest::newRow("node size below 25") << patched(list + 4, 24);
        QTest::newRow("node size past the list") << patched(list + 4, 280);
        QTest::newRow("text length other than size - 25") << patched(list + 4, 26);
        QTest::newRow("children beyond the list") << patched(list + 8 + 20, 100000);
        {
            // The first settings entry claims a child of its own: a third level.
            QByteArray b = plain;
            const qsizetype firstSetting = list + 8 + 25 + (std::uint8_t(b[list + 4]) - 25) + 4;
            putI32(b, firstSetting + 20, 1);
            QTest::newRow("third level") << b;
        }
        QTest::newRow("selected index on a settings entry") << patched(trailer + 8, 1);
        QTest::newRow("selected index past the tree") << patched(trailer + 8, 16);
        QTest::newRow("negative selected index") << patched(trailer + 8, -1);
        QByteArray deep("TPF0\x09TTreeView\x09TreeView1\x01x");
        deep.append(QByteArray(100000, '\x01'));
        QTest::newRow("lists nested without end") << deep;
    }

    void damagedFilesAreRefused()
    {
        QFETCH(QByteArray, file);
        QString detail;
        QVERIFY(!networkfile::decode(file, &detail));
        QVERIFY(!detail.isEmpty());
    }

    // Whatever a damaged file holds, the reader returns either a network the program can use or
    // nothing; it never reads outside the file.
    void truncatedAndFlippedFilesNeverCrash()
    {
        const QByteArray plain = networkfile::encode(sampleNetwork());
        for (qsizetype n = 0; n < plain.size(); ++n)
            QVERIFY2(!networkfile::decode(plain.left(n)), qPrintable(QString::number(n)));

        std::mt19937 random(14);
        std::uniform_int_distribution<qsizetype> pos(0, plain.size() - 1);
        std::uniform_int_distribution<int> byte(0, 255);
        int loaded = 0;
        for (int round = 0; round < 20000; ++round) {
            QByteArray b = plain;
            for (int k = 1 + round % 3; k > 0; --k)
                b[pos(random)] = char(byte(random));
            const std::optional<SavedNetwork> net = networkfile::decode(b);
            if (!net)
                continue;
            ++loaded;
            QVERIFY(net->entries.isEmpty() || net->entries[0].isDevice());
            QVERIFY(net->entries.isEmpty() || net->entries[net->selectedIndex].isDevice());
            for (const SavedEntry &e : net->entries) {
                QVERIFY(e.level == 0 || e.level == 1);
                QVERIFY(e.text.size() <= 255);
            }
        }
        // Most flips land in insignificant bytes (record padding, texts): those files load.
        QVERIFY(loaded > 0);
    }

    void saveNames_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("written");
        QTest::newRow("no extension") << "/home/u/net"
                                      << "/home/u/net.ini";
        QTest::newRow("ini") << "/home/u/net.ini"
                             << "/home/u/net.ini";
        QTest::newRow("upper case is another extension") << "/home/u/NET.INI"
                                                         << "/home/u/NET.INI.ini";
        QTest::newRow("other extension") << "/home/u/net.txt"
                                         << "/home/u/net.txt.ini";
        QTest::newRow("dot in a folder") << "/home/u/v1.ini/net"
                                         << "/home/u/v1.ini/net.ini";
        QTest::newRow("dot in a Windows folder") << "C:\\a.ini\\net"
                                                 << "C:\\a.ini\\net.ini";
        QTest::newRow("trailing dot") << "/home/u/net."
                                      << "/home/u/net..ini";
    }

    void saveNames()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, written);
        QCOMPARE(networkfile::saveName(chosen), written);
    }

    void failedSaveKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("net.ini"));
        QString error;
        QVERIFY(networkfile::save(path, sampleNetwork(), &error));
        const QByteArray before = networkfile::encode(sampleNetwork());
        QVERIFY(!networkfile::save(dir.filePath(QStringLiteral("missing/net.ini")), sampleNetwork(),
                                   &error));
        QVERIFY(error.contains(QStringLiteral("missing")));
        // A folder cannot take the file's name: the save fails, nothing is renamed over it.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken.ini")));
        QVERIFY(
            !networkfile::save(dir.filePath(QStringLiteral("taken.ini")), sampleNetwork(), &error));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }
};

QTEST_GUILESS_MAIN(TestNetworkFile)
#include "tst_networkfile.moc"
