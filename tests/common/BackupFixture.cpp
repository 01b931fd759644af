#include "BackupFixture.h"

#include "BackupFileName.h"
#include "ManifestDb.h"
#include "ManifestMbdb.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {
MbdbString text(const QString& s)
{
    MbdbString m;
    m.setBytes(s.toUtf8());
    return m;
}
} // namespace

BackupFixture::Format BackupFixture::defaultFormat()
{
    return qEnvironmentVariable("SPACEWELL_TEST_MANIFEST_FORMAT") == QLatin1String("db") ? Format::Db
                                                                                         : Format::Mbdb;
}

BackupFixture::BackupFixture(const QString& folder, Format format) : m_dir(folder), m_format(format)
{
    QDir().mkpath(folder);
}

QString BackupFixture::manifestPath() const
{
    return m_dir.absoluteFilePath(m_format == Format::Db ? QStringLiteral("Manifest.db")
                                                         : QStringLiteral("Manifest.mbdb"));
}

QString BackupFixture::filePath(const QString& domain, const QString& path) const
{
    return fileOf(backupFileName(domain, path));
}

QString BackupFixture::fileOf(const QString& name) const
{
    const QString path = BackupManifest::backupFilePath(m_dir, name, m_format);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

ManifestMap BackupFixture::readManifest() const
{
    BackupManifest manifest;
    if (!manifest.locate(m_dir))
        return ManifestMap();
    manifest.read();
    return manifest.records();
}

MbdbRecord& BackupFixture::add(const QString& domain, const QString& path)
{
    MbdbRecord r;
    r.domain = text(domain);
    r.path = text(path);
    r.mode = 0100644;
    r.inode = quint64(m_records.size() + 1000);
    r.userId = 501;
    r.groupId = 501;
    r.modifiedTime = 1400000000;
    r.changedTime = 1400000000;
    r.createdTime = 1400000000;
    r.protectionClass = 3;
    return m_records[r.fileName()] = r;
}

MbdbRecord& BackupFixture::addFile(const QString& domain, const QString& path, const QByteArray& content)
{
    QFile f(filePath(domain, path));
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    MbdbRecord& r = add(domain, path);
    r.size = quint64(content.size());
    r.dataHash.setBytes(QCryptographicHash::hash(content, QCryptographicHash::Sha1));
    return r;
}

MbdbRecord& BackupFixture::addSizedRecord(const QString& domain, const QString& path, quint64 size)
{
    MbdbRecord& r = add(domain, path);
    r.size = size;
    return r;
}

MbdbRecord& BackupFixture::addFolder(const QString& domain, const QString& path)
{
    MbdbRecord& r = add(domain, path);
    r.mode = 040755;
    return r;
}

MbdbRecord& BackupFixture::addLink(const QString& domain, const QString& path, const QString& target)
{
    MbdbRecord& r = add(domain, path);
    r.mode = 0120755;
    r.linkTarget = text(target);
    return r;
}

MbdbRecord& BackupFixture::addExisting(const QString& domain, const QString& path)
{
    QFile f(filePath(domain, path));
    QByteArray content;
    if (f.open(QIODevice::ReadOnly))
        content = f.readAll();
    MbdbRecord& r = add(domain, path);
    r.size = quint64(content.size());
    r.dataHash.setBytes(QCryptographicHash::hash(content, QCryptographicHash::Sha1));
    return r;
}

void BackupFixture::addDatabase(const QString& domain, const QString& path)
{
    const QString database = filePath(domain, path);
    addExisting(domain, path);
    for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (!QFileInfo::exists(database + suffix))
            continue;
        const QString side = filePath(domain, path + suffix);
        QFile::remove(side);
        QFile::rename(database + suffix, side);
        addExisting(domain, path + suffix);
    }
}

void BackupFixture::writeManifest() const
{
    if (m_format == Format::Db)
        createManifestDb(manifestPath(), m_records);
    else
        writeManifestMbdb(m_records, manifestPath());
}

QMap<QString, QByteArray> BackupFixture::snapshot(const QDir& dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir.absolutePath(), QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        files.insert(dir.relativeFilePath(path),
                     f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>"));
    }
    return files;
}
