#include "windowkit/images.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>

namespace images {

namespace {

struct Picture
{
    const char *themeName;
    QColor colour;
    const char *glyph; // drawn on a rounded square when the theme has no picture
};

Picture pictureFor(int index)
{
    switch (index) {
    case kDeviceAnswers:
        return {"network-wired", QColor(0x2E, 0x8B, 0x57), "\u25CF"};
    case kFindDevices:
        return {"edit-find", QColor(0x1E, 0x6F, 0xC0), "?"};
    case kLoadTree:
        return {"document-open", QColor(0xC0, 0x8A, 0x1E), "\u25B2"};
    case kConfig:
        return {"preferences-system", QColor(0x55, 0x55, 0x77), "K"};
    case kChannels:
        return {"multimedia-volume-control", QColor(0x2A, 0x7A, 0x9A), "X"};
    case kLoops:
        return {"view-refresh", QColor(0x6A, 0x3D, 0x9A), "\u21BB"};
    case kAlarms:
        return {"dialog-warning", QColor(0xD0, 0x9A, 0x00), "!"};
    case kPrograms:
        return {"appointment-new", QColor(0x30, 0x80, 0x30), "P"};
    case kArchive:
        return {"emblem-documents", QColor(0x80, 0x50, 0x20), "A"};
    case kPolling:
        return {"media-playback-start", QColor(0x20, 0x90, 0x20), "\u25B6"};
    case kNetworkParams:
        return {"preferences-system-network", QColor(0x20, 0x60, 0x90), "N"};
    case kDeviceFailed:
        return {"network-error", QColor(0xC0, 0x20, 0x20), "\u00D7"};
    case kHelp:
        return {"help-browser", QColor(0x20, 0x50, 0xB0), "?"};
    default:
        return {nullptr, QColor(0x80, 0x80, 0x80), ""};
    }
}

QPixmap drawn(const Picture &p, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 5.0, size / 5.0);
    painter.fillPath(path, p.colour);
    painter.setPen(p.colour.darker(140));
    painter.drawPath(path);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(size * 2 / 3);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QString::fromUtf8(p.glyph));
    return pixmap;
}

} // namespace

void initTheme()
{
    // Platforms without a desktop integration search only the built-in resources.
    QStringList roots = QIcon::themeSearchPaths();
    for (const QString &dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString icons = dir + QStringLiteral("/icons");
        if (!roots.contains(icons) && QFileInfo(icons).isDir())
            roots.append(icons);
    }
    QIcon::setThemeSearchPaths(roots);
    if (!QIcon::themeName().isEmpty() && QIcon::themeName() != QLatin1String("hicolor"))
        return;
    for (const char *theme : {"Adwaita", "breeze", "oxygen", "gnome", "Tango"}) {
        for (const QString &root : roots) {
            if (QFileInfo::exists(root + QLatin1Char('/') + QLatin1String(theme) +
                                  QStringLiteral("/index.theme"))) {
                QIcon::setThemeName(QLatin1String(theme));
                return;
            }
        }
    }
}

QIcon fallbackIcon(int index)
{
    const Picture p = pictureFor(index);
    QIcon icon;
    for (int size : {16, 24, 32})
        icon.addPixmap(drawn(p, size));
    return icon;
}

QIcon icon(int index)
{
    static QHash<int, QIcon> cache;
    auto it = cache.find(index);
    if (it != cache.end())
        return *it;
    const Picture p = pictureFor(index);
    QIcon result;
    if (p.themeName)
        result = QIcon::fromTheme(QLatin1String(p.themeName));
    if (result.isNull())
        result = fallbackIcon(index);
    cache.insert(index, result);
    return result;
}

} // namespace images

QIcon logIcon(bool failed)
{
    return images::icon(failed ? images::kDeviceFailed : images::kDeviceAnswers);
}
