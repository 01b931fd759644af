#pragma once

#include "BackupManifest.h"
#include "MbdbRecord.h"

#include <QDir>
#include <QMap>

// Builds a backup folder as the backup tool writes it: one file per record named by the backup
// file name rule, and the manifest listing them. The format is Manifest.mbdb unless the tests run
// with SPACEWELL_TEST_MANIFEST_FORMAT=db, so one suite covers both.
class BackupFixture
{
public:
    using Format = BackupManifest::Format;
    static Format defaultFormat();

    explicit BackupFixture(const QString& folder, Format format = defaultFormat());

    QDir dir() const { return m_dir; }
    Format format() const { return m_format; }
    QString manifestPath() const;
    // The backup file of (domain, path), and of a backup file name; parents are created.
    QString filePath(const QString& domain, const QString& path) const;
    QString fileOf(const QString& name) const;
    // The file's path relative to the folder, as snapshot() names it.
    QString relativeOf(const QString& name) const { return m_dir.relativeFilePath(fileOf(name)); }
    // The manifest as it is now on disk.
    ManifestMap readManifest() const;

    // A file with the given content (its size and digest go into the record).
    MbdbRecord& addFile(const QString& domain, const QString& path, const QByteArray& content);
    // A record whose size is given without writing content.
    MbdbRecord& addSizedRecord(const QString& domain, const QString& path, quint64 size);
    MbdbRecord& addFolder(const QString& domain, const QString& path);
    MbdbRecord& addLink(const QString& domain, const QString& path, const QString& target);
    // Registers a file that already lies at filePath(domain, path), e.g. a database built there.
    MbdbRecord& addExisting(const QString& domain, const QString& path);
    // Registers a database built at filePath(domain, path) together with the log and shared-memory
    // files SQLite left beside it, which the backup keeps as files of their own ("<path>-wal",
    // "<path>-shm"), as a phone's backup does.
    void addDatabase(const QString& domain, const QString& path);

    void writeManifest() const;
    const ManifestMap& records() const { return m_records; }

    // Every file of the folder with its content, for "nothing changed" checks.
    static QMap<QString, QByteArray> snapshot(const QDir& dir);

private:
    MbdbRecord& add(const QString& domain, const QString& path);

    QDir m_dir;
    Format m_format;
    ManifestMap m_records;
};
