#pragma once

#include "MbdbRecord.h"

#include <vector>

// Reads a whole Manifest.mbdb. Throws std::runtime_error naming the file on any failure: a file
// that does not begin with "mbdb", or a record cut short by the end of the file. The version
// bytes after the magic are not checked.
ManifestMap readManifestMbdb(const QString& path);

// Writes the records sorted by domain and path. The new manifest is written beside the old one
// and takes its place only when complete, so a failed write leaves the old file as it was.
// Throws std::runtime_error naming the file on any failure.
void writeManifestMbdb(QList<MbdbRecord>& records, const QString& path);
void writeManifestMbdb(const ManifestMap& records, const QString& path);

// One record for the writer: the text of its domain and path (its sort keys), and either the
// record or its bytes exactly as a manifest held them.
struct MbdbOutput
{
    QByteArrayView domain;
    QByteArrayView path;
    const MbdbRecord* record = nullptr;
    QByteArrayView bytes;
};
// Writes them sorted as above; `records` is used up.
void writeManifestMbdb(std::vector<MbdbOutput>& records, const QString& path);
