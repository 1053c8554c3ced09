#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The layout of a dBase III table as its header describes it, checked against the file's real
// length before anything is read by it. Pure: bytes in, layout or reason out.
struct DbfField
{
    QByteArray name;
    char type = 'C';
    int width = 0;
    int decimals = 0;
    int offset = 0; // within a record; byte 0 is the deletion flag
};

struct DbfLayout
{
    int headerLength = 0;
    int recordLength = 0;
    quint32 headerCount = 0; // rows the header claims
    QList<DbfField> fields;
    // Whole rows that the file's length holds; a partial last row is not one of them.
    qint64 rowsByLength(qint64 fileSize) const;
};

// head: the file's first bytes (at least the whole header); fileSize: its full length.
std::optional<DbfLayout> parseDbfHeader(const QByteArray &head, qint64 fileSize,
                                        QString *why = nullptr);
