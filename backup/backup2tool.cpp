#include "backup2tool.h"

#include "AppFolders.h"
#include "BackupToolArguments.h"
#include "FileUtils.h"
#include "FrameworkLoader.h"
#include "MobileDeviceManager.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
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

QString backup2tool::passcodeStatus()
{
    return QStringLiteral("Enter the passcode on your iPhone to allow the backup");
}

void backup2tool::cancel()
{
    m_cancel = true;
}

int backup2tool::percentOfLine(const QString& line)
{
    // "Backup: 45%", "Restore: 6%", "Progress: 12.5%": the tools say how far they are.
    static const QRegularExpression percent(QStringLiteral("(\\d{1,3})(?:\\.\\d+)?\\s*%\\s*$"));
    const QRegularExpressionMatch m = percent.match(line);
    return m.hasMatch() && m.captured(1).toInt() <= 100 ? m.captured(1).toInt() : -1;
}

QString backup2tool::errorLines(const QString& output)
{
    QStringList lines;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (line.contains(QLatin1String("error"), Qt::CaseInsensitive))
            lines << line.trimmed();
    }
    return lines.join(QLatin1Char('\n'));
}

void backup2tool::run(int op)
{
    // A cancel that came before the run (while an old backup was being removed) still counts.
    m_pg = 0;
    m_restarts = false;

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
    else if (op == backup2tool_encryption_on && !m_password.isEmpty())
        arguments = {QStringLiteral("-u"), m_uniqueDeviceId, QStringLiteral("--encryption-on")};
    else
        throw std::runtime_error("unknown backup2tool_op.");
    const bool typesPassword = op != backup2tool_backup && !m_password.isEmpty();
    if (typesPassword)
        arguments << QStringLiteral("--password-stdin");
    if (m_cancel)
        return;

    QProcess tool;
    tool.start(toolPath(), arguments, typesPassword ? QIODevice::ReadWrite : QIODevice::ReadOnly);
    if (!tool.waitForStarted(60000))
        throw std::runtime_error("can not start AppleMobileBackup process.");
    if (typesPassword) {
        tool.write(m_password + '\n');
        tool.closeWriteChannel();
    }
    const qint64 start = QDateTime::currentSecsSinceEpoch();
    QByteArray output;
    QByteArray errors;
    QByteArray pending; // the part of a line not yet ended
    bool toolSaysHowFar = false;
    // From iOS 16.1 the phone asks for its passcode before it sends anything; the bar stands
    // still meanwhile.
    bool waitingForPasscode = false;
    qint64 waitedSeconds = 0;
    qint64 waitStarted = 0;
    auto readWhatCame = [&] {
        errors += tool.readAllStandardError();
        const QByteArray more = tool.readAllStandardOutput();
        output += more;
        pending += more;
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end));
            const int percent = percentOfLine(line);
            pending.remove(0, end + 1);
            const bool passcodeLine = line.contains(QLatin1String(passcodeWaitLine));
            if (passcodeLine != waitingForPasscode &&
                (passcodeLine || percent >= 0 || line.contains(QLatin1String(passcodeEnteredLine)))) {
                waitingForPasscode = passcodeLine;
                const qint64 now = QDateTime::currentSecsSinceEpoch();
                if (passcodeLine)
                    waitStarted = now;
                else
                    waitedSeconds += now - waitStarted;
            }
            if (percent >= 0) {
                toolSaysHowFar = true;
                m_pg = qMin(99.0, double(percent));
            }
        }
    };
    for (;;) {
        if (m_cancel) {
            // The tool stops what it runs before it goes (a tool killed outright would leave
            // idevicebackup2 running on); one that does not in time is killed.
            tool.terminate();
            if (!tool.waitForFinished(10000)) {
                tool.kill();
                tool.waitForFinished(-1);
            }
            return;
        }
        const bool finished = tool.waitForFinished(200) || tool.state() == QProcess::NotRunning;
        readWhatCame();
        if (finished)
            break;
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        // The tool's own figures win; without them the estimate from the data in use, which
        // with nothing in use is zero seconds and waits at 99.
        if (!toolSaysHowFar && !waitingForPasscode)
            m_pg = expected > 0 ? qMin(99.0, double(now - start - waitedSeconds) / expected * 99) : 99.0;
        emit update(
            m_pg, waitingForPasscode ? passcodeStatus() : QString(),
            QStringLiteral("%1 seconds passed").arg(QDateTime::currentMSecsSinceEpoch() / 1000 - start));
    }
    QByteArray all = errors + '\n' + output;
    const qsizetype zero = all.indexOf('\0');
    if (zero >= 0)
        all.truncate(zero);
    // The tools print UTF-8 (device names, paths).
    QString text = QString::fromUtf8(all);
    // A tool that died (not killed by Cancel) did not finish, whatever it printed before.
    if (tool.exitStatus() == QProcess::CrashExit)
        text += QStringLiteral("\nError: AppleMobileBackup stopped unexpectedly.");
    // The whole output goes to the log; the user sees what went wrong, not a transcript.
    qDebug("%s", qUtf8Printable(text));
    // idevicebackup2's words after a restore that restarts the phone (tools/idevicebackup2.c).
    m_restarts = text.contains(QLatin1String("The device should reboot now."));
    if (text.contains(QLatin1String("error"), Qt::CaseInsensitive))
        throw std::runtime_error(errorLines(text).toUtf8().toStdString());
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
