#include "BackupManifest.h"

#include "CFType.h"
#include "ManifestDb.h"
#include "ManifestMbdb.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

bool BackupManifest::locate(const QDir& backupDir)
{
    m_dir = backupDir;
    const QString mbdb = backupDir.absoluteFilePath(QStringLiteral("Manifest.mbdb"));
    const QString db = backupDir.absoluteFilePath(QStringLiteral("Manifest.db"));
    if (QFileInfo::exists(mbdb)) {
        m_path = mbdb;
        m_format = Format::Mbdb;
        return true;
    }
    m_path = mbdb;
    if (!QFileInfo::exists(db))
        return false;
    m_path = db;
    m_format = Format::Db;
    return true;
}

void BackupManifest::read()
{
    if (m_format == Format::Mbdb) {
        m_records = readManifestMbdb(m_path);
        return;
    }
    // An encrypted backup's Manifest.db is no database; say so rather than what SQLite makes of it.
    QFile plist(m_dir.absoluteFilePath(QStringLiteral("Manifest.plist")));
    if (plist.open(QIODevice::ReadOnly) &&
        CFType::fromPlistBytes(plist.readAll()).value(QStringLiteral("IsEncrypted")).toBool(false))
        throw std::runtime_error(
            QStringLiteral("%1: the backup is encrypted and cannot be edited. Turn off \"Encrypt "
                           "iPhone backup\" and try again.")
                .arg(m_path)
                .toUtf8()
                .toStdString());
    m_records = readManifestDb(m_path);
    m_readNames = QSet<QString>(m_records.keyBegin(), m_records.keyEnd());
}

void BackupManifest::write()
{
    if (m_format == Format::Mbdb) {
        writeManifestMbdb(m_records, m_path);
        return;
    }
    QSet<QString> removed;
    for (const QString& name : m_readNames) {
        if (!m_records.contains(name))
            removed.insert(name);
    }
    ManifestMap refreshed;
    for (const QString& name : m_refreshed) {
        if (m_records.contains(name))
            refreshed.insert(name, m_records.value(name));
    }
    updateManifestDb(m_path, removed, refreshed);
}

QString BackupManifest::backupFilePath(const QDir& backupDir, const QString& name, Format format)
{
    return format == Format::Mbdb ? backupDir.absoluteFilePath(name)
                                  : backupDir.absoluteFilePath(name.left(2) + QLatin1Char('/') + name);
}
