#pragma once

#include "MbdbRecord.h"

#include <QDir>
#include <QSet>

// The manifest of one backup folder, whichever format it has: Manifest.mbdb (iOS 9 and earlier;
// files at the top of the folder) or Manifest.db (iOS 10 and later; each file in the folder named
// by the first two characters of its name).
class BackupManifest
{
public:
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

    // Throws std::runtime_error naming the file on failure (an encrypted backup included).
    void read();
    ManifestMap& records() { return m_records; }
    const ManifestMap& records() const { return m_records; }
    // Records whose file was replaced; their new times and digest are written back.
    void markRefreshed(const QString& name) { m_refreshed.insert(name); }
    // Throws std::runtime_error; a failure leaves the file as it was.
    void write();

    // Where the backup keeps the file of a record.
    QString filePath(const QString& name) const { return backupFilePath(m_dir, name, m_format); }
    static QString backupFilePath(const QDir& backupDir, const QString& name, Format format);
    // What read() says of an encrypted backup.
    static QString encryptedBackupText(const QString& manifestPath);

private:
    QDir m_dir;
    QString m_path;
    Format m_format = Format::Mbdb;
    ManifestMap m_records;
    QSet<QString> m_readNames;
    QSet<QString> m_refreshed;
};
