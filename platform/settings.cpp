#include "platform/settings.h"

std::unique_ptr<QSettings> openSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Nordak"), QStringLiteral("LorvanConf"));
}
