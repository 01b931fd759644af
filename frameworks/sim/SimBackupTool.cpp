// The backup tool for simulated devices. A backup writes <root>/<UDID>/ from the device folder's
// files/<Domain>/<path> tree: one file per record named by the backup file name rule, the
// manifest (Manifest.mbdb, or for system version 10 and later Manifest.db with each file in a
// folder named by the first two characters of its name), Info.plist, Manifest.plist and Status.plist. A
// restore rebuilds files/ exactly as the manifest lists it. Both work in a staging folder and swap it in at
// the end, so a run that is killed half-way leaves the previous state. Switches: "BackupSeconds" (how long a
// run takes, to see progress), "BackupError" (a backup fails with this text), "FindMyIPhone" (a restore is
// refused), "DeviceFreeBytes" (a restore larger than this is refused).
#include "BackupFileName.h"
#include "BackupManifest.h"
#include "BackupStatus.h"
#include "BackupToolArguments.h"
#include "FileUtils.h"
#include "ManifestDb.h"
#include "ManifestMbdb.h"
#include "SimDevice.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

int fail(const QString& text)
{
    std::printf("Error: %s\n", qPrintable(text));
    std::fflush(stdout);
    return 1;
}

// A failure while the device is gone is the device's going.
int failOrGone(const SimDevice& device, const char* run, const QString& text)
{
    if (!device.exists())
        return fail(QStringLiteral("the device was disconnected during the %1.").arg(QLatin1String(run)));
    return fail(text);
}

void say(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// The simulated device whose unique identifier is `udid`.
bool findDevice(const QString& udid, SimDevice& device)
{
    const QDir root(qEnvironmentVariable("SPACEWELL_SIM_ROOT"));
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        SimDevice candidate{root.absoluteFilePath(name).toStdString(), name.toStdString()};
        if (candidate.exists() &&
            (QString::fromStdString(candidate.rootString("UniqueDeviceID")) == udid || name == udid)) {
            device = candidate;
            return true;
        }
    }
    return false;
}

QString rootValue(const SimDevice& device, const char* key)
{
    return QString::fromStdString(device.rootString(key));
}

// Spends the device's "BackupSeconds" telling how far it got.
void takeTime(const SimDevice& device, const char* what)
{
    const long long seconds = device.number("BackupSeconds", 0);
    const int steps = int(seconds * 5);
    for (int i = 1; i <= steps && device.exists(); ++i) {
        QThread::msleep(200);
        say(QStringLiteral("%1: %2%").arg(QLatin1String(what)).arg(i * 100 / steps));
    }
}

bool writePlist(const QString& path, plist_t value)
{
    const bool ok = writePlistFile(path.toStdString(), value);
    plist_free(value);
    return ok;
}

MbdbString text(const QString& s)
{
    MbdbString m;
    m.setBytes(s.toUtf8());
    return m;
}

// Replaces `target` by `staging` in two renames; the old state stays whole until the swap.
bool swapIn(const QString& staging, const QString& target)
{
    const QString old = target + QStringLiteral(".old");
    removeDirectory(old);
    if (QFileInfo::exists(target) && !QDir().rename(target, old))
        return false;
    if (!QDir().rename(staging, target)) {
        QDir().rename(old, target);
        return false;
    }
    removeDirectory(old);
    return true;
}

int backup(const BackupToolArguments& args, const SimDevice& device)
{
    const QDir root(args.root);
    if (!QDir().mkpath(root.absolutePath()))
        return fail(QStringLiteral("cannot create %1").arg(root.absolutePath()));
    for (const QString& stale : root.entryList({args.udid + QStringLiteral(".partial-*")}, QDir::Dirs))
        removeDirectory(root.absoluteFilePath(stale));
    const QString staging = root.absoluteFilePath(args.udid + QStringLiteral(".partial-%1").arg(getpid()));
    QDir().mkpath(staging);
    say(QStringLiteral("Backup started for %1").arg(args.udid));
    const std::vector<std::string> failure = device.strings("BackupError");
    if (!failure.empty())
        return fail(QString::fromStdString(failure.front()));

    const QDir files(QString::fromStdString(device.folder) + QStringLiteral("/files"));
    const bool modern = rootValue(device, "ProductVersion").section(QLatin1Char('.'), 0, 0).toInt() >= 10;
    const auto format = modern ? BackupManifest::Format::Db : BackupManifest::Format::Mbdb;
    ManifestMap manifest;
    quint64 inode = 1;
    for (const QString& domain : files.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QDir domainDir(files.absoluteFilePath(domain));
        QDirIterator it(domainDir.absolutePath(),
                        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QFileInfo info(path);
            MbdbRecord r;
            r.domain = text(domain);
            r.path = text(domainDir.relativeFilePath(path));
            r.inode = inode++;
            r.userId = r.groupId = 501;
            r.modifiedTime = r.changedTime = r.createdTime = quint32(info.lastModified().toSecsSinceEpoch());
            r.protectionClass = 4;
            if (info.isSymLink()) {
                r.mode = 0120755;
                char target[4096];
                const ssize_t n = readlink(QFile::encodeName(path).constData(), target, sizeof target);
                r.linkTarget = text(n > 0 ? QFile::decodeName(QByteArray(target, n)) : QString());
            } else if (info.isDir()) {
                r.mode = 040755;
            } else {
                r.mode = 0100644;
                r.size = quint64(info.size());
                r.dataHash.setBytes(fileSha1(path));
                const QString copy = BackupManifest::backupFilePath(QDir(staging), r.fileName(), format);
                QDir().mkpath(QFileInfo(copy).absolutePath());
                if (!QFile::copy(path, copy))
                    return failOrGone(device, "backup", QStringLiteral("cannot copy %1").arg(path));
            }
            manifest.insert(r.fileName(), r);
        }
    }
    try {
        if (modern)
            createManifestDb(QDir(staging).filePath(QStringLiteral("Manifest.db")), manifest);
        else
            writeManifestMbdb(manifest, QDir(staging).filePath(QStringLiteral("Manifest.mbdb")));
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    takeTime(device, "Backup");
    if (!device.exists())
        return fail(QStringLiteral("the device was disconnected during the backup."));

    const QByteArray udid = args.udid.toUtf8();
    const QByteArray version = rootValue(device, "ProductVersion").toUtf8();
    plist_t infoPlist = plist_new_dict();
    plist_dict_set_item(infoPlist, "Device Name",
                        plist_new_string(rootValue(device, "DeviceName").toUtf8().constData()));
    plist_dict_set_item(infoPlist, "Product Type",
                        plist_new_string(rootValue(device, "ProductType").toUtf8().constData()));
    plist_dict_set_item(infoPlist, "Product Version", plist_new_string(version.constData()));
    plist_dict_set_item(infoPlist, "Target Identifier", plist_new_string(udid.constData()));
    plist_dict_set_item(infoPlist, "Unique Identifier", plist_new_string(udid.constData()));
    plist_t lockdown = plist_new_dict();
    plist_dict_set_item(lockdown, "ProductVersion", plist_new_string(version.constData()));
    plist_dict_set_item(lockdown, "UniqueDeviceID", plist_new_string(udid.constData()));
    plist_t manifestPlist = plist_new_dict();
    plist_dict_set_item(manifestPlist, "IsEncrypted", plist_new_bool(0));
    plist_dict_set_item(manifestPlist, "Lockdown", lockdown);
    plist_t status = plist_new_dict();
    plist_dict_set_item(status, "SnapshotState", plist_new_string("finished"));
    plist_dict_set_item(status, "IsFullBackup", plist_new_bool(1));
    plist_dict_set_item(status, "Version", plist_new_string("2.4"));
    if (!writePlist(QDir(staging).filePath(QStringLiteral("Info.plist")), infoPlist) ||
        !writePlist(QDir(staging).filePath(QStringLiteral("Manifest.plist")), manifestPlist) ||
        !writePlist(QDir(staging).filePath(QStringLiteral("Status.plist")), status))
        return fail(QStringLiteral("cannot write the backup's lists"));
    if (!swapIn(staging, root.absoluteFilePath(args.udid)))
        return fail(QStringLiteral("cannot put the backup in place"));
    say(QStringLiteral("Backup Successful."));
    return 0;
}

// A manifest path must stay inside its domain folder.
bool safeRelative(const QString& path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return false;
    for (const QString& part : path.split(QLatin1Char('/'))) {
        if (part == QLatin1String(".."))
            return false;
    }
    return true;
}

int restore(const BackupToolArguments& args, const SimDevice& device)
{
    const QDir backupDir(QDir(args.root).absoluteFilePath(args.source));
    // As idevicebackup2 does: only a backup whose Status.plist says "finished" is restored.
    if (!BackupStatus::isFinished(backupDir))
        return fail(QStringLiteral("Cannot ensure we restore from a successful backup. Aborting."));
    if (device.flag("FindMyIPhone"))
        return fail(
            QStringLiteral("ErrorCode 211: Find My iPhone must be disabled before restoring a backup."));
    BackupManifest backupManifest;
    if (!backupManifest.locate(backupDir))
        return fail(QStringLiteral("the backup in %1 has no manifest").arg(backupDir.absolutePath()));
    try {
        backupManifest.read();
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    const ManifestMap& manifest = backupManifest.records();
    qint64 required = 0;
    for (const MbdbRecord& r : manifest)
        required += qint64(r.size);
    const long long free = device.number("DeviceFreeBytes", -1);
    if (free >= 0 && free < required)
        return fail(
            QStringLiteral("ErrorCode 105: Insufficient free disk space on device to restore (%1 bytes free, "
                           "needs %2)")
                .arg(free)
                .arg(required));
    say(QStringLiteral("Restore started for %1").arg(args.udid));

    const QString deviceFolder = QString::fromStdString(device.folder);
    for (const QString& stale :
         QDir(deviceFolder).entryList({QStringLiteral("files.restoring-*")}, QDir::Dirs))
        removeDirectory(QDir(deviceFolder).absoluteFilePath(stale));
    const QDir staging(deviceFolder + QStringLiteral("/files.restoring-%1").arg(getpid()));
    QDir().mkpath(staging.absolutePath());
    for (auto it = manifest.cbegin(); it != manifest.cend(); ++it) {
        const MbdbRecord& r = it.value();
        const QString domain = r.domain.toText();
        const QString path = r.path.toText();
        if (!safeRelative(domain) || domain.contains(QLatin1Char('/')) || !safeRelative(path))
            return fail(
                QStringLiteral("the backup lists a path outside its domain: %1-%2").arg(domain, path));
        const QString target = staging.absoluteFilePath(domain + QLatin1Char('/') + path);
        if ((r.mode & 0170000) == 040000) {
            QDir().mkpath(target);
        } else if ((r.mode & 0170000) == 0120000) {
            QDir().mkpath(QFileInfo(target).absolutePath());
            QFile::link(r.linkTarget.toText(), target);
        } else {
            QDir().mkpath(QFileInfo(target).absolutePath());
            const QString source = backupManifest.filePath(it.key());
            if (!QFile::copy(source, target))
                return failOrGone(
                    device, "restore",
                    QStringLiteral("the backup file %1 for %2-%3 is missing").arg(it.key(), domain, path));
        }
    }
    takeTime(device, "Restore");
    if (!device.exists()) {
        removeDirectory(staging.absolutePath());
        return fail(QStringLiteral("the device was disconnected during the restore."));
    }
    if (!swapIn(staging.absolutePath(), deviceFolder + QStringLiteral("/files")))
        return failOrGone(device, "restore", QStringLiteral("cannot put the restored files in place"));
    say(QStringLiteral("Restore Successful."));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    BackupToolArguments args;
    const QString problem = args.parse(app.arguments().mid(1));
    if (!problem.isEmpty())
        return fail(problem);
    SimDevice device;
    if (!findDevice(args.udid, device))
        return fail(QStringLiteral("No device found with udid %1, is it plugged in?").arg(args.udid));
    return args.backup ? backup(args, device) : restore(args, device);
}
