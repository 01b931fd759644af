#include "UndoStore.h"

#include "FileUtils.h"
#include "backup2tool.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QDir rootOf(const QDir& backupFolder, const QString& udid)
{
    return QDir(backupFolder.filePath(udid + QStringLiteral(".undo")));
}

QString aboutPath(const QDir& root)
{
    return root.filePath(QStringLiteral("about.json"));
}
} // namespace

QDir UndoStore::stagingRoot(const QDir& backupFolder, const QString& udid)
{
    return QDir(backupFolder.filePath(udid + QStringLiteral(".undo-new")));
}

bool UndoStore::keep(const QDir& backupFolder, const QString& udid, const QStringList& items)
{
    const QDir staged = stagingRoot(backupFolder, udid);
    QFile about(aboutPath(staged));
    const QJsonObject object{{QStringLiteral("taken"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                             {QStringLiteral("items"), QJsonArray::fromStringList(items)}};
    if (!about.open(QIODevice::WriteOnly) || about.write(QJsonDocument(object).toJson()) < 0)
        return false;
    about.close();
    const QDir root = rootOf(backupFolder, udid);
    removeDirectory(root.absolutePath());
    return QDir().rename(staged.absolutePath(), root.absolutePath());
}

UndoStore::Info UndoStore::of(const IOSDevice& device)
{
    Info info;
    info.root = rootOf(chooseTempBackupFolder(), device.uniqueDeviceId);
    QFile about(aboutPath(info.root));
    if (device.uniqueDeviceId.isEmpty() || !about.open(QIODevice::ReadOnly))
        return info;
    const QJsonObject object = QJsonDocument::fromJson(about.readAll()).object();
    info.taken = QDateTime::fromString(object.value(QStringLiteral("taken")).toString(), Qt::ISODate);
    for (const QJsonValue& item : object.value(QStringLiteral("items")).toArray())
        info.items << item.toString();
    QDirIterator it(info.root.absolutePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        info.diskBytes += it.fileInfo().size();
    }
    info.present = info.taken.isValid() && QFileInfo(info.root.filePath(device.uniqueDeviceId)).isDir();
    return info;
}

void UndoStore::drop(const IOSDevice& device)
{
    if (!device.uniqueDeviceId.isEmpty())
        removeDirectory(rootOf(chooseTempBackupFolder(), device.uniqueDeviceId).absolutePath());
}
