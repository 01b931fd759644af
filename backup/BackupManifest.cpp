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
    // The files of an encrypted backup cannot be edited (its Manifest.db is not even a database):
    // nothing is counted or written for it.
    QFile plist(m_dir.absoluteFilePath(QStringLiteral("Manifest.plist")));
    if (plist.open(QIODevice::ReadOnly) &&
        CFType::fromPlistBytes(plist.readAll()).value(QStringLiteral("IsEncrypted")).toBool(false))
        throw std::runtime_error(encryptedBackupText(m_path).toUtf8().toStdString());
    if (m_format == Format::Mbdb) {
        m_records = readManifestMbdb(m_path);
        return;
    }
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

QString BackupManifest::encryptedBackupText(const QString& manifestPath)
{
    return QStringLiteral("%1: the backup is encrypted and cannot be edited. Turn backup encryption off "
                          "(idevicebackup2 encryption off PASSWORD) and try again.")
        .arg(manifestPath);
}

QString BackupManifest::backupFilePath(const QDir& backupDir, const QString& name, Format format)
{
    return format == Format::Mbdb ? backupDir.absoluteFilePath(name)
                                  : backupDir.absoluteFilePath(name.left(2) + QLatin1Char('/') + name);
}
