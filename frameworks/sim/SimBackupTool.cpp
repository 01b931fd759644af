// The backup tool for simulated devices. A backup writes <root>/<UDID>/ as the phone would (see
// SimBackup.h); a restore puts the backup on the phone in update mode with system files, as
// idevicebackup2 restore --system asks a phone to: what the backup does not list stays. Both work aside and
// swap in at the end, so a run that is killed half-way leaves the previous state. Switches: "BackupSeconds"
// (how long a run takes, to see progress), "BackupError" (a backup fails with this text), "FindMyIPhone" (a
// restore is refused), "DeviceFreeBytes" (a restore larger than this is refused).
#include "BackupManifest.h"
#include "BackupStatus.h"
#include "BackupToolArguments.h"
#include "FileUtils.h"
#include "SimBackup.h"
#include "SimDevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <unistd.h>

#include <cstdio>

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
    // A failed backup leaves no staging folder behind (on a full disk, least of all).
    struct Staging
    {
        QString path;
        ~Staging()
        {
            if (QFileInfo::exists(path))
                removeDirectory(path);
        }
    } cleanup{staging};
    say(QStringLiteral("Backup started for %1").arg(args.udid));
    const std::vector<std::string> failure = device.strings("BackupError");
    if (!failure.empty())
        return fail(QString::fromStdString(failure.front()));
    // As idevicebackup2 prints the phone's answer.
    const SimRefusal refusal = simBackupRefusal(
        device, [](bool shown) { say(QLatin1String(shown ? passcodeWaitLine : passcodeEnteredLine)); });
    if (refusal.code)
        return fail(QStringLiteral("ErrorCode %1: %2").arg(refusal.code).arg(refusal.text));
    const QString problem = writeSimBackup(device, args.udid, QDir(staging));
    if (!problem.isEmpty())
        return failOrGone(device, "backup", problem);
    takeTime(device, "Backup");
    if (!device.exists())
        return fail(QStringLiteral("the device was disconnected during the backup."));
    if (!swapIn(staging, root.absoluteFilePath(args.udid)))
        return fail(QStringLiteral("cannot put the backup in place"));
    say(QStringLiteral("Backup Successful."));
    return 0;
}

int restore(const BackupToolArguments& args, const SimDevice& device)
{
    const QDir backupDir(QDir(args.root).absoluteFilePath(args.source));
    // As idevicebackup2 does: only a backup whose Status.plist says "finished" is restored.
    if (!BackupStatus::isFinished(backupDir))
        return fail(QStringLiteral("Cannot ensure we restore from a successful backup. Aborting."));
    // The phone's own refusals, as it words them.
    if (device.flag("FindMyIPhone"))
        return fail(QStringLiteral(
            "ErrorCode 211: Find My iPhone must be disabled before restoring (MBErrorDomain/211)"));
    SimRestoreOptions options;
    options.password = args.readPassword();
    SimBackupReader backup;
    const QString unreadable = backup.open(backupDir, options.password);
    if (backup.wrongPassword())
        return fail(QStringLiteral(
            "ErrorCode 207: Invalid password when restoring encrypted backup (MBErrorDomain/207)"));
    if (!unreadable.isEmpty())
        return fail(unreadable);
    qint64 required = 0;
    for (const MbdbRecord& r : backup.records())
        required += qint64(r.size);
    const long long free = simRestoreRoom(device);
    if (free >= 0 && free < required)
        return fail(
            QStringLiteral("ErrorCode 105: Insufficient free disk space on device to restore (%1 < %2) "
                           "(MBErrorDomain/105)")
                .arg(free)
                .arg(required));
    say(QStringLiteral("Restore started for %1").arg(args.udid));
    takeTime(device, "Restore");
    if (!device.exists())
        return fail(QStringLiteral("the device was disconnected during the restore."));
    // The options the real-device tool gives idevicebackup2: system files, nothing removed.
    options.systemFiles = true;
    const QString problem =
        restoreSimBackup(device, backupDir, options, [&device] { return !device.exists(); });
    if (!problem.isEmpty())
        return failOrGone(device, "restore", problem);
    say(QStringLiteral("Restore Successful."));
    return 0;
}

int encryptionOn(const BackupToolArguments& args, const SimDevice& device)
{
    const SimRefusal refusal = simChangePassword(device, QByteArray(), args.readPassword(), [](bool shown) {
        if (shown)
            say(QStringLiteral(
                "Please confirm enabling the backup encryption by entering the passcode on the "
                "device."));
    });
    if (refusal.code)
        return fail(QStringLiteral("ErrorCode %1: %2").arg(refusal.code).arg(refusal.text));
    say(QStringLiteral("Backup encryption has been enabled successfully."));
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
    if (args.encryptionOn)
        return encryptionOn(args, device);
    return args.backup ? backup(args, device) : restore(args, device);
}
