#include "IOSMobileBackupThread.h"

#include "BackupStatus.h"
#include "CFType.h"
#include "FileUtils.h"
#include "Markup.h"
#include "StepMonitor.h"
#include "WorkerReport.h"
#include "backup2tool.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

namespace {
CFType readPlist(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? CFType::fromPlistBytes(f.readAll()) : CFType();
}

// What an edit left behind when the program did not end it (killed, or a crash): the decrypted
// manifest of an encrypted backup and the working copies of databases ("<file>-<ms>", with their
// side files). The phone never sends such names; plain text must not outlive the edit.
void removeLeftWorkingCopies(const QString& deviceFolder)
{
    static const QRegularExpression copy(
        QStringLiteral("^(Manifest\\.db\\.decrypted|[0-9a-f]{40}-\\d{13})(-wal|-shm|-journal)?$"));
    QDirIterator it(deviceFolder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (copy.match(it.fileName()).hasMatch())
            QFile::remove(it.filePath());
    }
}
} // namespace

IOSMobileBackupThread::IOSMobileBackupThread(const IOSDevice& device, StepMonitor* monitor, QObject* parent)
    : QThread(parent), m_device(device), m_monitor(monitor), m_backupFolder(chooseTempBackupFolder()),
      m_tool(new backup2tool(device.device, device.uniqueDeviceId, m_backupFolder, nullptr))
{
    // Cancel reaches the tool from the first moment, also while an old backup is being removed.
    connect(m_tool, &backup2tool::update, this, &IOSMobileBackupThread::backupUpdate);
    connect(m_monitor, &StepMonitor::cancelRequested, m_tool, &backup2tool::cancel);
}

IOSMobileBackupThread::~IOSMobileBackupThread()
{
    m_tool->deleteLater();
}

bool IOSMobileBackupThread::isReusableBackup(const QDir& d, const QString& productVersion)
{
    for (const char* name : {"Status.plist", "Manifest.plist"}) {
        if (!QFileInfo::exists(d.filePath(QLatin1String(name))))
            return false;
    }
    // iOS 10 and later write Manifest.db instead of Manifest.mbdb.
    if (!QFileInfo::exists(d.filePath(QStringLiteral("Manifest.mbdb"))) &&
        !QFileInfo::exists(d.filePath(QStringLiteral("Manifest.db"))))
        return false;
    if (!BackupStatus::isFinished(d))
        return false;
    // Info.plist still hidden: a restore from it never ended (the program was killed), and the
    // phone may hold anything between the two.
    if (!d.entryList({QStringLiteral("Info.plist-*")}, QDir::Files | QDir::Hidden).isEmpty())
        return false;
    return readPlist(d.filePath(QStringLiteral("Manifest.plist")))
               .value(QStringLiteral("Lockdown"))
               .value(QStringLiteral("ProductVersion"))
               .toString() == productVersion;
}

void IOSMobileBackupThread::backupUpdate(double pg, QString status, QString)
{
    // The tool names a wait on the phone; otherwise the step's own status shows.
    WorkerReport::progress(m_monitor, status.isEmpty() ? backingUpStatus() : status, int(pg), QString());
}

QString IOSMobileBackupThread::backingUpStatus()
{
    return QStringLiteral("Loading data from Device...");
}

void IOSMobileBackupThread::run()
{
    WorkerReport::progress(m_monitor, backingUpStatus(), 0);
    const QString d = m_backupFolder.filePath(m_device.uniqueDeviceId);
    try {
        // A large old backup takes a while to remove: Cancel stops that too, and what is left of
        // it is removed the next time (it is no longer whole).
        if (QFileInfo(d).exists() && !isReusableBackup(QDir(d), m_device.productVersion))
            removeDirectory(d, [this] { return WorkerReport::isRejected(m_monitor); });
        else if (QFileInfo(d).exists())
            removeLeftWorkingCopies(d);
        m_tool->run(backup2tool_backup);
        WorkerReport::succeed(m_monitor);
    } catch (const std::exception& e) {
        removeDirectory(d);
        WorkerReport::error(m_monitor, failureText(QString::fromUtf8(e.what())));
    }
}

QString IOSMobileBackupThread::failureText(const QString& toolOutput)
{
    // The phone's own refusals are advice, not a fault: restarting changes nothing.
    if (toolOutput.contains(QLatin1String("MBErrorDomain/208")) ||
        toolOutput.contains(QLatin1String("Device locked"), Qt::CaseInsensitive))
        return QStringLiteral(
            "The device did not allow the backup. Unlock it and enter its passcode on the device "
            "when it asks (from iOS 16.1 it asks each time a backup starts), then try again. "
            "Your device was not changed.");
    if (toolOutput.contains(QLatin1String("MBErrorDomain/212")) ||
        toolOutput.contains(QLatin1String("until Setup is finished"), Qt::CaseInsensitive))
        return QStringLiteral(
            "The device is still being set up and makes no backup until it is done. Finish the "
            "set-up on the device, then try again. Your device was not changed.");
    if (toolOutput.contains(QLatin1String("disconnected during the backup"), Qt::CaseInsensitive))
        return QStringLiteral("The device was disconnected during the backup. Nothing was changed on it: "
                              "connect it again, unlock it and try again.");
    // This computer's disk, not the phone: a restart of the phone changes nothing.
    if (toolOutput.contains(QLatin1String("not enough free space for the backup"), Qt::CaseInsensitive) ||
        toolOutput.contains(QLatin1String("No space left on device"), Qt::CaseInsensitive))
        return QStringLiteral(
                   "This computer has too little free space for the backup (%1). Free up disk space "
                   "there, then try again. Your device was not changed.")
            .arg(escapeAngleBrackets(toolOutput.trimmed()));
    return escapeAngleBrackets(toolOutput) +
           QStringLiteral("<br/><br/>Note: You can restart your device to try again.");
}
