#include "backup2tool.h"

#include "AppFolders.h"
#include "FileUtils.h"
#include "FrameworkLoader.h"
#include "MobileDeviceManager.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>

#include <stdexcept>

namespace {
const QString tempFolderName = QStringLiteral("__vantelmoor_iosbk_temp");

QString memoryFile()
{
    return appDataDir().filePath(QStringLiteral("__vantelmoor_iosbk_temp.path"));
}

// Local volumes that keep their data: memory-backed and network file systems are not offered.
bool isCandidateVolume(const QStorageInfo& volume)
{
    static const QList<QByteArray> excluded = {
        "tmpfs", "ramfs", "devtmpfs", "squashfs",   "iso9660", "udf",  "nfs",   "nfs4",  "cifs",
        "smb3",  "smbfs", "9p",       "fuse.sshfs", "afs",     "proc", "sysfs", "autofs"};
    return volume.isValid() && volume.isReady() && !volume.isReadOnly() &&
           !excluded.contains(volume.fileSystemType());
}

// A root is writable when a probe folder can be made in it.
bool probeWritable(const QString& root)
{
    const QString probe =
        QDir(root).filePath(QStringLiteral("__test%1").arg(QDateTime::currentMSecsSinceEpoch()));
    if (!QDir().mkdir(probe))
        return false;
    QDir().rmdir(probe);
    return true;
}
} // namespace

backup2tool::backup2tool(void* device, const QString& uniqueDeviceId, const QDir& target, QObject* parent)
    : QObject(parent), m_device(device), m_uniqueDeviceId(uniqueDeviceId), m_target(target)
{
}

int backup2tool::expectedSeconds(qint64 usedBytes)
{
    const qint64 usedMB = usedBytes / 1024 / 1024;
    return usedMB > 0 ? int(double(usedMB) * 0.03) : 60;
}

QString backup2tool::toolPath()
{
    return QDir(frameworkDir()).filePath(QStringLiteral("AppleMobileBackup"));
}

void backup2tool::cancel()
{
    m_cancel = true;
}

void backup2tool::run(int op)
{
    m_pg = 0;
    m_cancel = false;

    int expected = 60;
    try {
        const QList<CFType> usage =
            mobiledevice_copy_values(m_device, {QString()}, QStringLiteral("com.apple.disk_usage"));
        if (!usage.isEmpty() && usage.at(0).isDictionary()) {
            const qint64 used = usage.at(0).value(QStringLiteral("TotalDataCapacity")).toLongLong() -
                                usage.at(0).value(QStringLiteral("AmountDataAvailable")).toLongLong();
            expected = expectedSeconds(used);
        }
    } catch (const std::exception&) {
        expected = 60;
    }

    const QString root = QDir::toNativeSeparators(m_target.absolutePath());
    QStringList arguments;
    if (op == backup2tool_backup)
        arguments = {QStringLiteral("-u"),
                     m_uniqueDeviceId,
                     QStringLiteral("--backup"),
                     QStringLiteral("--target"),
                     m_uniqueDeviceId,
                     QStringLiteral("--root"),
                     root};
    else if (op == backup2tool_restore)
        arguments = {QStringLiteral("-u"),
                     m_uniqueDeviceId,
                     QStringLiteral("--restore"),
                     QStringLiteral("--target"),
                     m_uniqueDeviceId,
                     QStringLiteral("--root"),
                     root,
                     QStringLiteral("--source"),
                     m_uniqueDeviceId};
    else
        throw std::runtime_error("unknown backup2tool_op.");

    QProcess tool;
    tool.start(toolPath(), arguments, QIODevice::ReadOnly);
    if (!tool.waitForStarted(60000))
        throw std::runtime_error("can not start AppleMobileBackup process.");
    const qint64 start = QDateTime::currentSecsSinceEpoch();
    for (;;) {
        if (m_cancel) {
            tool.kill();
            tool.waitForFinished(-1);
            return;
        }
        if (tool.waitForFinished(200) || tool.state() == QProcess::NotRunning)
            break;
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        // With nothing in use the estimate is zero seconds; the bar then waits at 99.
        m_pg = expected > 0 ? qMin(99.0, double(now - start) / expected * 99) : 99.0;
        emit update(
            m_pg, QString(),
            QStringLiteral("%1 seconds passed").arg(QDateTime::currentMSecsSinceEpoch() / 1000 - start));
    }
    QByteArray output = tool.readAllStandardError() + '\n' + tool.readAllStandardOutput();
    const qsizetype zero = output.indexOf('\0');
    if (zero >= 0)
        output.truncate(zero);
    // The tools print UTF-8 (device names, paths).
    QString text = QString::fromUtf8(output);
    qDebug("%s", qUtf8Printable(text));
    // A tool that died (not killed by Cancel) did not finish, whatever it printed before.
    if (tool.exitStatus() == QProcess::CrashExit)
        text += QStringLiteral("\nError: AppleMobileBackup stopped unexpectedly.");
    if (text.contains(QLatin1String("error"), Qt::CaseInsensitive))
        throw std::runtime_error(text.toUtf8().toStdString());
}

QDir chooseTempBackupFolder()
{
    QString root;
    QFile memory(memoryFile());
    if (memory.open(QIODevice::ReadOnly)) {
        const QString remembered = QString::fromUtf8(memory.readAll());
        // A remembered root that no longer exists is chosen afresh.
        if (QDir::isAbsolutePath(remembered) && QFileInfo(remembered).isDir())
            root = remembered;
        memory.close();
    }
    if (root.isEmpty()) {
        // The home folder comes first, so it wins a tie with the volume it lies on.
        QStringList candidates{QDir::homePath()};
        for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
            if (isCandidateVolume(volume))
                candidates << volume.rootPath();
        }
        root = chooseBackupRoot(candidates, QDir::homePath(), probeWritable,
                                [](const QString& path) { return diskFreeBytes(QDir(path)); });
        if (memory.open(QIODevice::WriteOnly | QIODevice::Truncate))
            memory.write(root.toUtf8());
    }
    return QDir(QDir(root).filePath(tempFolderName));
}

QString chooseBackupRoot(const QStringList& candidates, const QString& fallback,
                         const std::function<bool(const QString&)>& writable,
                         const std::function<qint64(const QString&)>& freeBytes)
{
    QString root = fallback;
    qint64 best = 0;
    for (const QString& candidate : candidates) {
        if (!writable(candidate))
            continue;
        const qint64 free = freeBytes(candidate);
        if (free > best) {
            best = free;
            root = candidate;
        }
    }
    return root;
}

void removeTempBackupFolder()
{
    removeDirectory(chooseTempBackupFolder().absolutePath());
    QFile::remove(memoryFile());
}

qint64 diskFreeBytes(const QDir& folder)
{
    const QStorageInfo info(folder.absolutePath());
    if (!info.isValid() || !info.isReady())
        return -1;
    return info.bytesAvailable();
}
