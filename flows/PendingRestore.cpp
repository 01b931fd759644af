#include "PendingRestore.h"

#include "FileUtils.h"
#include "UndoStore.h"
#include "backup2tool.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {
QString aboutPath(const QDir& root)
{
    return root.filePath(QStringLiteral("about.json"));
}
} // namespace

QDir PendingRestore::root(const QDir& backupFolder, const QString& udid)
{
    return QDir(backupFolder.filePath(udid + QStringLiteral(".changes")));
}

bool PendingRestore::keep(const QDir& backupFolder, const QString& udid, const Info& info)
{
    QJsonArray results;
    for (const FlowItem& item : info.results)
        results.append(QJsonObject{{QStringLiteral("id"), item.id},
                                   {QStringLiteral("name"), item.name},
                                   {QStringLiteral("found"), item.found},
                                   {QStringLiteral("cleared"), item.cleared},
                                   {QStringLiteral("countedWith"), item.countedWith}});
    const QDateTime taken = info.taken.isValid() ? info.taken : QDateTime::currentDateTimeUtc();
    const QJsonObject object{{QStringLiteral("taken"), taken.toUTC().toString(Qt::ISODate)},
                             {QStringLiteral("results"), results},
                             {QStringLiteral("panel"), info.panel},
                             {QStringLiteral("items"), QJsonArray::fromStringList(info.items)},
                             {QStringLiteral("found"), info.found},
                             {QStringLiteral("cleared"), info.cleared},
                             {QStringLiteral("bytes"), info.bytes}};
    // Written last: a partial backup without it is never offered.
    QSaveFile about(aboutPath(root(backupFolder, udid)));
    const QByteArray bytes = QJsonDocument(object).toJson();
    return about.open(QIODevice::WriteOnly) && about.write(bytes) == bytes.size() && about.commit();
}

PendingRestore::Info PendingRestore::of(const IOSDevice& device)
{
    Info info;
    info.root = root(chooseTempBackupFolder(), device.uniqueDeviceId);
    QFile about(aboutPath(info.root));
    if (device.uniqueDeviceId.isEmpty() || !about.open(QIODevice::ReadOnly))
        return info;
    const QJsonObject object = QJsonDocument::fromJson(about.readAll()).object();
    info.taken = QDateTime::fromString(object.value(QStringLiteral("taken")).toString(), Qt::ISODate);
    info.panel = object.value(QStringLiteral("panel")).toString();
    for (const QJsonValue& item : object.value(QStringLiteral("items")).toArray())
        info.items << item.toString();
    for (const QJsonValue& value : object.value(QStringLiteral("results")).toArray()) {
        const QJsonObject r = value.toObject();
        FlowItem item;
        item.id = r.value(QStringLiteral("id")).toString();
        item.name = r.value(QStringLiteral("name")).toString();
        item.found = r.value(QStringLiteral("found")).toInteger(-1);
        item.cleared = r.value(QStringLiteral("cleared")).toInteger(-1);
        item.countedWith = r.value(QStringLiteral("countedWith")).toString();
        info.results << item;
    }
    info.found = object.value(QStringLiteral("found")).toInteger();
    info.cleared = object.value(QStringLiteral("cleared")).toInteger();
    info.bytes = object.value(QStringLiteral("bytes")).toInteger();
    info.present = info.taken.isValid() && QFileInfo(info.root.filePath(device.uniqueDeviceId)).isDir();
    return info;
}

void PendingRestore::drop(const QDir& backupFolder, const QString& udid, bool restored)
{
    if (udid.isEmpty())
        return;
    removeDirectory(root(backupFolder, udid).absolutePath());
    if (!restored)
        removeDirectory(UndoStore::stagingRoot(backupFolder, udid).absolutePath());
}
