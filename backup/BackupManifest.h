#pragma once

#include "MbdbRecord.h"
#include "MbdbTable.h"
#include "RecordRule.h"

#include <QDir>
#include <QSet>

#include <deque>
#include <functional>
#include <memory>

class BackupEncryption;
class ManifestDbReader;

// The manifest of one backup folder, whichever format it has: Manifest.mbdb (iOS 9 and earlier;
// files at the top of the folder) or Manifest.db (iOS 10 and later; each file in the folder named
// by the first two characters of its name).
class BackupManifest
{
public:
    BackupManifest();
    ~BackupManifest();
    BackupManifest(const BackupManifest&) = delete;
    BackupManifest& operator=(const BackupManifest&) = delete;

    enum class Format
    {
        Mbdb,
        Db
    };

    // Looks for Manifest.mbdb, then Manifest.db; false when the folder has neither.
    bool locate(const QDir& backupDir);
    // The manifest found; Manifest.mbdb's path when there is none.
    QString path() const { return m_path; }
    Format format() const { return m_format; }

    // The keys of an encrypted backup, unlocked: Manifest.db is read from a decrypted copy beside
    // it (removed with this object) and encrypted again by write().
    void setEncryption(std::shared_ptr<const BackupEncryption> encryption);
    const BackupEncryption* encryption() const { return m_encryption.get(); }

    // Reads every record into records(). Throws std::runtime_error naming the file on failure (an
    // encrypted backup without its keys included).
    void read();
    // Opens the manifest for records asked for by rule or by name, through the functions below:
    // Manifest.mbdb is held as its file's bytes and Manifest.db is asked with SQL, and only the
    // records asked for are decoded. Throws as read().
    void open();
    bool isOpen() const { return m_open; }
    // The names of the records that a rule matches. A record removed before stays out.
    QStringList select(const QList<RecordRule>& rules);
    // Looks up the records of these names in Manifest.db ahead of record() and contains().
    void load(const QStringList& names);
    // Asked during a long look-up in Manifest.db; true ends it with an error.
    void setInterrupt(std::function<bool()> interrupted) { m_interrupted = std::move(interrupted); }

    bool contains(const QString& name);
    // The record of that name; a record with neither domain nor path when there is none.
    MbdbRecord record(const QString& name);
    void remove(const QString& name);
    // The record of a replaced file: its new size, times and digest are written back.
    void refresh(const QString& name, const MbdbRecord& record);

    // The records after read() (after open(), those of Manifest.db looked up so far).
    ManifestMap& records() { return m_records; }
    const ManifestMap& records() const { return m_records; }
    // Records whose file was replaced; their new times and digest are written back.
    void markRefreshed(const QString& name) { m_refreshed.insert(name); }
    // Throws std::runtime_error; a failure leaves the file as it was.
    void write();

    // What remove() and refresh() changed since the manifest was opened: the records dropped, as
    // they were, and the records refreshed, as they are now. A restore that puts back only what
    // changed is made from these.
    const ManifestMap& dropped() const { return m_dropped; }
    const ManifestMap& replaced() const { return m_replaced; }
    // The refreshed records as they were before their first refresh.
    const ManifestMap& originals() const { return m_originals; }

    // Where the backup keeps the file of a record (encrypted, in an encrypted backup).
    QString filePath(const QString& name) const { return backupFilePath(m_dir, name, m_format); }
    static QString backupFilePath(const QDir& backupDir, const QString& name, Format format);
    // What read() says of an encrypted backup.
    static QString encryptedBackupText(const QString& manifestPath);

private:
    // Checks that the backup can be edited and forgets what was read before.
    void start();
    ManifestDbReader& reader();
    // The SQLite file of Manifest.db: the file itself, or its decrypted copy.
    QString databasePath();
    void removePlainCopy();
    // Adds a row of Manifest.db to the records unless it was loaded (or loaded and taken) before.
    void take(const QString& name, MbdbRecord& record);

    // read() fills the map; open() holds Manifest.mbdb as its bytes, and keeps the rows of
    // Manifest.db that were asked for.
    enum class Mode
    {
        Map,
        Bytes,
        Rows
    };
    // The place of a row of Manifest.db among those kept; -1 when none or removed.
    qsizetype rowOf(const QString& name);

    QDir m_dir;
    bool m_open = false;
    Mode m_mode = Mode::Map;
    MbdbTable m_table;
    std::deque<MbdbRecord> m_rows;
    QHash<QString, qsizetype> m_rowIndex;
    QSet<QString> m_removed;
    std::unique_ptr<ManifestDbReader> m_reader;
    std::function<bool()> m_interrupted;
    QString m_path;
    Format m_format = Format::Mbdb;
    std::shared_ptr<const BackupEncryption> m_encryption;
    QString m_plainPath;
    ManifestMap m_records;
    QSet<QString> m_readNames;
    QSet<QString> m_refreshed;
    ManifestMap m_dropped;
    ManifestMap m_replaced;
    ManifestMap m_originals;
};
