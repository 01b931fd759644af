#pragma once

#include "MbdbRecord.h"

#include <QDir>
#include <QMap>

// Builds a backup folder as the backup tool writes it: one file per record named by the backup
// file name rule, and Manifest.mbdb listing them.
class BackupFixture
{
public:
    explicit BackupFixture(const QString& folder);

    QDir dir() const { return m_dir; }
    QString manifestPath() const { return m_dir.absoluteFilePath(QStringLiteral("Manifest.mbdb")); }
    QString filePath(const QString& domain, const QString& path) const;

    // A file with the given content (its size and digest go into the record).
    MbdbRecord& addFile(const QString& domain, const QString& path, const QByteArray& content);
    // A record whose size is given without writing content.
    MbdbRecord& addSizedRecord(const QString& domain, const QString& path, quint64 size);
    MbdbRecord& addFolder(const QString& domain, const QString& path);
    MbdbRecord& addLink(const QString& domain, const QString& path, const QString& target);
    // Registers a file that already lies at filePath(domain, path), e.g. a database built there.
    MbdbRecord& addExisting(const QString& domain, const QString& path);

    void writeManifest() const;
    const ManifestMap& records() const { return m_records; }

    // Every file of the folder with its content, for "nothing changed" checks.
    static QMap<QString, QByteArray> snapshot(const QDir& dir);

private:
    MbdbRecord& add(const QString& domain, const QString& path);

    QDir m_dir;
    ManifestMap m_records;
};
