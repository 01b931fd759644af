#pragma once

#include "MbdbRecord.h"
#include "RecordRule.h"

#include <QSet>

#include <functional>
#include <memory>

// Manifest.db, the manifest of backups made by iOS 10 and later: table Files(fileID, domain,
// relativePath, flags, file) where `file` is an archived MBFile object. Records read from it have
// the same fields as those of Manifest.mbdb.

// An open Manifest.db, read as cleaners ask: rows are found with SQL on their domain and path, and
// only the archived objects of the rows found are decoded. Rows still in the manifest's log
// count (a copy joined with its log is read, so the folder stays as it was). Throws
// std::runtime_error naming the file when it is not a manifest database or a row's object cannot
// be read.
class ManifestDbReader
{
public:
    using Take = std::function<void(const QString& name, MbdbRecord& record)>;

    explicit ManifestDbReader(const QString& path);
    ~ManifestDbReader();
    ManifestDbReader(const ManifestDbReader&) = delete;
    ManifestDbReader& operator=(const ManifestDbReader&) = delete;

    // Rows that a rule matches (RecordRule::matches, checked in SQL; case-sensitive prefixes
    // also as ranges of the path index), in the order SQLite finds them.
    void select(const QList<RecordRule>& rules, const Take& take);
    // Rows of these backup file names; names the manifest lacks are skipped.
    void byNames(const QStringList& names, const Take& take);
    void all(const Take& take);
    // Asked now and then during a query; true interrupts it (the query then throws).
    void setInterrupt(std::function<bool()> interrupted);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

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
// The same read with libplist alone; readMbFileQuickly gives the same wherever it answers.
bool unarchiveMbFileWithLibplist(const QByteArray& blob, MbdbRecord& record);
