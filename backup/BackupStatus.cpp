#include "BackupStatus.h"

#include "CFType.h"

#include <QFile>
#include <QSaveFile>

#include <stdexcept>

namespace {
const QString statusName = QStringLiteral("Status.plist");

bool writeWhole(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}
[[noreturn]] void failWrite(const QString& path)
{
    throw std::runtime_error(
        QStringLiteral("%1: the backup's status cannot be written").arg(path).toUtf8().toStdString());
}
} // namespace

QString BackupStatus::snapshotState(const QDir& backupDir)
{
    QFile file(backupDir.filePath(statusName));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return CFType::fromPlistBytes(file.readAll()).value(QStringLiteral("SnapshotState")).toString();
}

bool BackupStatus::isFinished(const QDir& backupDir)
{
    return snapshotState(backupDir) == QLatin1String("finished");
}

QString BackupEditMark::path() const
{
    return m_dir.filePath(statusName);
}

void BackupEditMark::markChanging()
{
    if (m_marked)
        return;
    QFile file(path());
    m_hadStatus = file.open(QIODevice::ReadOnly);
    m_original = m_hadStatus ? file.readAll() : QByteArray();
    file.close();
    CFType status = CFType::fromPlistBytes(m_original);
    if (!status.isDictionary())
        status = CFType::newDictionary();
    status.setValue(CFType::fromString(QStringLiteral("SnapshotState")),
                    CFType::fromString(QStringLiteral("uncommitted")));
    if (!writeWhole(path(), status.toPlistBytes(CFType::BinaryFormat)))
        failWrite(path());
    m_marked = true;
}

void BackupEditMark::markWhole()
{
    if (!m_marked)
        return;
    const bool ok = m_hadStatus ? writeWhole(path(), m_original) : QFile::remove(path());
    if (!ok)
        failWrite(path());
    m_marked = false;
}
