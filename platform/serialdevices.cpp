#include "platform/serialdevices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

QString joined(const QString &root, const QString &relative)
{
    return QDir::cleanPath(root + QLatin1Char('/') + relative);
}

QString readAttribute(const QString &folder, const char *name)
{
    QFile file(folder + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(256)).trimmed();
}

// The USB device a tty hangs under: the first folder above its device that has a vendor id.
// A converter's tty sits a level or two below the USB device (interface, then serial port).
QString usbDeviceFolder(const QString &ttyFolder)
{
    QString folder = QFileInfo(ttyFolder + QStringLiteral("/device")).canonicalFilePath();
    for (int up = 0; up < 4 && !folder.isEmpty() && folder != QLatin1String("/"); ++up) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor")))
            return folder;
        folder = QFileInfo(folder).path();
    }
    return {};
}

QString usbDescription(const QString &ttyFolder)
{
    const QString usb = usbDeviceFolder(ttyFolder);
    if (usb.isEmpty())
        return {};
    QStringList parts;
    for (const char *name : {"manufacturer", "product"}) {
        const QString value = readAttribute(usb, name);
        if (!value.isEmpty())
            parts.append(value);
    }
    QString text = parts.join(QLatin1Char(' '));
    const QString serial = readAttribute(usb, "serial");
    if (!serial.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(", ")) +
                QStringLiteral("серийный номер ") + serial;
    if (text.isEmpty())
        text = QStringLiteral("USB %1:%2")
                   .arg(readAttribute(usb, "idVendor"), readAttribute(usb, "idProduct"));
    return text;
}

const QRegularExpression &ttyFamilies()
{
    static const QRegularExpression pattern(
        QStringLiteral("^(ttyS|ttyUSB|ttyACM|ttyAMA|rfcomm)(\\d+)$"));
    return pattern;
}

QString describeTty(const QString &root, const QString &name)
{
    const QString folder = joined(root, QStringLiteral("sys/class/tty/") + name);
    const QString family = ttyFamilies().match(name).captured(1);
    if (family == QLatin1String("ttyS"))
        return QStringLiteral("встроенный последовательный порт");
    if (family == QLatin1String("ttyAMA"))
        return QStringLiteral("последовательный порт платы");
    if (family == QLatin1String("rfcomm"))
        return QStringLiteral("последовательный порт Bluetooth");
    const QString usb = usbDescription(folder);
    return usb.isEmpty() ? QStringLiteral("USB") : usb;
}

// A ttyS entry exists for every port the driver reserved; only those with a UART behind them
// have a type other than 0 ("unknown").
bool hasUart(const QString &ttyFolder)
{
    bool ok = false;
    const int type = readAttribute(ttyFolder, "type").toInt(&ok);
    return ok && type != 0;
}

} // namespace

QString serialRoot()
{
    const QString root = qEnvironmentVariable("LORVAN_SERIAL_ROOT");
    return root.isEmpty() ? QStringLiteral("/") : root;
}

QStringList serialDeviceFolders(const QString &root)
{
    return {joined(root, QStringLiteral("dev/serial/by-id")),
            joined(root, QStringLiteral("sys/class/tty"))};
}

QList<SerialDevice> listSerialDevices(const QString &root)
{
    QList<SerialDevice> devices;
    QStringList linkedNodes;
    const QDir byId(joined(root, QStringLiteral("dev/serial/by-id")));
    for (const QFileInfo &entry :
         byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        SerialDevice device;
        device.stableName = entry.absoluteFilePath();
        const QString target = entry.canonicalFilePath();
        device.device = target.isEmpty() ? entry.symLinkTarget() : target;
        const QString name = QFileInfo(device.device).fileName();
        const QString tty = joined(root, QStringLiteral("sys/class/tty/") + name);
        device.description = QFileInfo::exists(tty) ? describeTty(root, name) : QString();
        if (!target.isEmpty())
            linkedNodes.append(target);
        devices.append(device);
    }

    struct Found
    {
        int family;
        int number;
        QString name;
    };
    static const QStringList kFamilyOrder = {QStringLiteral("ttyS"), QStringLiteral("ttyUSB"),
                                             QStringLiteral("ttyACM"), QStringLiteral("ttyAMA"),
                                             QStringLiteral("rfcomm")};
    QList<Found> ttys;
    const QDir classTty(joined(root, QStringLiteral("sys/class/tty")));
    for (const QString &name : classTty.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch m = ttyFamilies().match(name);
        if (!m.hasMatch())
            continue;
        if (m.captured(1) == QLatin1String("ttyS") && !hasUart(classTty.filePath(name)))
            continue;
        ttys.append({int(kFamilyOrder.indexOf(m.captured(1))), m.captured(2).toInt(), name});
    }
    std::sort(ttys.begin(), ttys.end(), [](const Found &a, const Found &b) {
        return std::tie(a.family, a.number) < std::tie(b.family, b.number);
    });
    for (const Found &tty : ttys) {
        const QString node = joined(root, QStringLiteral("dev/") + tty.name);
        const QString canonical = QFileInfo(node).canonicalFilePath();
        if (linkedNodes.contains(canonical.isEmpty() ? node : canonical))
            continue;
        devices.append({node, node, describeTty(root, tty.name)});
    }
    return devices;
}
