#pragma once

#include "MbdbRecord.h"

#include <QSet>

// Manifest.db, the manifest of backups made by iOS 10 and later: table Files(fileID, domain,
// relativePath, flags, file) where `file` is an archived MBFile object. Records read from it have
// the same fields as those of Manifest.mbdb.

// Reads every row, those still in the manifest's log included; throws std::runtime_error naming
// the file when it is not a manifest database or a row's object cannot be read. Leaves the folder
// as it was (no log or shared-memory file is made or changed).
ManifestMap readManifestDb(const QString& path);

// Writes back what changed: deletes the rows of removed records and gives refreshed records their
// new times, size and digest, all in one transaction, so a failure leaves the file as it was.
// Afterwards the manifest is one file, its log (if any) written into it.
void updateManifestDb(const QString& path, const QSet<QString>& removed, const ManifestMap& refreshed);

// Creates a new Manifest.db holding the records (the simulated backup tool and tests write one).
void createManifestDb(const QString& path, const ManifestMap& records);

// The archived object of a record, and the record fields it carries.
QByteArray archiveMbFile(const MbdbRecord& record);
bool unarchiveMbFile(const QByteArray& blob, MbdbRecord& record);
