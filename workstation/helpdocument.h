#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The folders the help command looks in.
struct HelpPlaces
{
    QString workingFolder;
    QString programFolder;
    // Where the program was built from and into: its own manual is in the source tree.
    QString buildFolder;
    QString sourceFolder;
};

// Where the help command looks, in this order: the document a user keeps in the working folder
// ("ЛорванHelp.doc"); the manual installed with the program (<prefix>/share/doc/lorvan beside
// <prefix>/bin); the source tree's manual, only while the program runs from its build tree.
QStringList helpCandidates(const HelpPlaces &places);

// The first candidate that exists; when none does, the working folder's document, so that the
// desktop reports the missing file as it always did.
QString helpDocument(const HelpPlaces &places, const std::function<bool(const QString &)> &exists);

// The places of this run of the program.
HelpPlaces currentHelpPlaces();
