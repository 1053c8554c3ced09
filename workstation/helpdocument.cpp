#include "workstation/helpdocument.h"

#include <QCoreApplication>
#include <QDir>

namespace {

QString under(const QString &folder, const QString &relative)
{
    return QDir::cleanPath(folder + QLatin1Char('/') + relative);
}

} // namespace

QStringList helpCandidates(const HelpPlaces &places)
{
    // The manual's place in the package (dist/CMakeLists.txt installs it there).
    QStringList candidates{
        under(places.workingFolder, QStringLiteral("ЛорванHelp.doc")),
        under(places.programFolder, QStringLiteral("../share/doc/lorvan/manual/index.html")),
    };
    const QString build = QDir::cleanPath(places.buildFolder);
    const QString program = QDir::cleanPath(places.programFolder);
    if (!places.buildFolder.isEmpty() &&
        (program == build || program.startsWith(build + QLatin1Char('/'))))
        candidates.append(under(places.sourceFolder, QStringLiteral("docs/manual/index.html")));
    return candidates;
}

QString helpDocument(const HelpPlaces &places, const std::function<bool(const QString &)> &exists)
{
    const QStringList candidates = helpCandidates(places);
    for (const QString &path : candidates) {
        if (exists(path))
            return path;
    }
    return candidates.first();
}

HelpPlaces currentHelpPlaces()
{
    return {QDir::currentPath(), QCoreApplication::applicationDirPath(),
            QStringLiteral(LORVAN_BUILD_DIR), QStringLiteral(LORVAN_SOURCE_DIR)};
}
