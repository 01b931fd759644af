#include "BackupFixture.h"

#include "BackupFileName.h"
#include "ManifestMbdb.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>

namespace {
MbdbString text(const QString& s)
{
    MbdbString m;
    m.setBytes(s.toUtf8());
    return m;
}
} // namespace

BackupFixture::BackupFixture(const QString& folder) : m_dir(folder)
{
    QDir().mkpath(folder);
}

QString BackupFixture::filePath(const QString& domain, const QString& path) const
{
    return m_dir.absoluteFilePath(backupFileName(domain, path));
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

void BackupFixture::writeManifest() const
{
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
