#pragma once

#include "MbdbRecord.h"

// Reads a whole Manifest.mbdb. Throws std::runtime_error naming the file on any failure: a file
// that does not begin with "mbdb", or a record cut short by the end of the file. The version
// bytes after the magic are not checked.
ManifestMap readManifestMbdb(const QString& path);

// Writes the records sorted by domain and path. The new manifest is written beside the old one
// and takes its place only when complete, so a failed write leaves the old file as it was.
// Throws std::runtime_error naming the file on any failure.
void writeManifestMbdb(QList<MbdbRecord>& records, const QString& path);
void writeManifestMbdb(const ManifestMap& records, const QString& path);
