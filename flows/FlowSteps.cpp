#include "FlowSteps.h"

#include "BackupCheckThread.h"
#include "BackupEncryption.h"
#include "BackupSettings.h"
#include "BackupUnlockThread.h"
#include "DeviceSpace.h"
#include "FormatSize.h"
#include "IOSMobileBackupThread.h"
#include "IOSMobileRestoreThread.h"
#include "StepMonitor.h"
#include "StepRunner.h"
#include "backup2tool.h"

QString FlowSteps::findMyReminder()
{
    return QStringLiteral(
        "Find My must be off on the device for the restore (Settings > your name > Find My > "
        "Find My iPhone); with it on, the device refuses the restore: \"Find My iPhone must be disabled "
        "before restoring\".");
}

bool FlowSteps::step(QThread& worker, StepMonitor& monitor, FlowResult& result)
{
    if (m_runner.run(worker, monitor))
        return true;
    if (monitor.ending() == StepMonitor::Ending::Failed) {
        result.ending = FlowResult::Ending::Failed;
        result.message = monitor.endingText();
        result.reported = true;
    } else {
        result.ending = FlowResult::Ending::Cancelled;
    }
    return false;
}

FlowSteps::~FlowSteps()
{
    m_password.fill('\0');
}

bool FlowSteps::backupAllowed(const IOSDevice& device, FlowResult& result)
{
    const BackupSettings settings = BackupSettings::check(device);
    switch (settings.verdict) {
    case BackupSettings::Verdict::Allowed:
        break;
    case BackupSettings::Verdict::Unreadable:
        result.ending = FlowResult::Ending::Failed;
        break;
    case BackupSettings::Verdict::CloudBackupOn:
        result.ending = FlowResult::Ending::Blocked;
        break;
    }
    if (settings.verdict != BackupSettings::Verdict::Allowed) {
        result.message = settings.text;
        result.picture = settings.picture;
        return false;
    }
    if (!settings.encrypted || !m_password.isEmpty())
        return true;
    // Asked before the backup, so that nobody needs to wait for it; the last backup's key bag
    // says at once whether the password is right.
    if (!askPassword(device, 0, result))
        return false;
    const QDir last(chooseTempBackupFolder().filePath(device.uniqueDeviceId));
    return !BackupEncryption::isEncrypted(last) || unlock(device, last, result);
}

bool FlowSteps::askPassword(const IOSDevice& device, int tries, FlowResult& result)
{
    const QString question =
        tries == 0 ? QStringLiteral("The backups of %1 are encrypted. Enter the backup password (the one "
                                    "chosen when backup encryption was turned on):")
                         .arg(device.deviceName)
                   : QStringLiteral("That backup password is not right. Enter the backup password of %1 "
                                    "(try %2 of %3):")
                         .arg(device.deviceName)
                         .arg(tries + 1)
                         .arg(passwordTries);
    m_password.fill('\0');
    m_password.clear();
    switch (m_runner.askPassword(question, m_password)) {
    case StepRunner::Answer::Given:
        if (!m_password.isEmpty())
            return true;
        [[fallthrough]];
    case StepRunner::Answer::Cancelled:
        result.ending = FlowResult::Ending::Cancelled;
        return false;
    case StepRunner::Answer::NobodyToAsk:
        break;
    }
    result.ending = FlowResult::Ending::Failed;
    result.message = tries == 0 ? QStringLiteral("The backups of %1 are encrypted, and nobody was asked for "
                                                 "the backup password. Your device was not changed.")
                                      .arg(device.deviceName)
                                : wrongPasswordText();
    return false;
}

QString FlowSteps::wrongPasswordText()
{
    return QStringLiteral(
        "The backup password is not right, so the backup cannot be read. Your device was not changed. "
        "It is the password chosen when backup encryption was turned on; it cannot be recovered. Without "
        "it, Settings > General > Transfer or Reset iPhone > Reset > Reset All Settings on the device "
        "removes it (and resets the device's settings, not its data).");
}

bool FlowSteps::unlock(const IOSDevice& device, const QDir& backupDir, FlowResult& result)
{
    if (!BackupEncryption::isEncrypted(backupDir))
        return true;
    for (int tries = 0;; ++tries) {
        if (m_password.isEmpty() && !askPassword(device, tries, result))
            return false;
        StepMonitor monitor;
        BackupUnlockThread worker(backupDir, m_password, m_encryption, &monitor, nullptr);
        if (!step(worker, monitor, result))
            return false;
        if (!worker.wrongPassword()) {
            m_encryption = worker.encryption();
            return true;
        }
        m_password.fill('\0');
        m_password.clear();
        if (tries + 1 == passwordTries) {
            result.ending = FlowResult::Ending::Failed;
            result.message = wrongPasswordText();
            return false;
        }
    }
}

bool FlowSteps::backUp(const IOSDevice& device, QDir& folder, FlowResult& result)
{
    StepMonitor monitor;
    IOSMobileBackupThread worker(device, &monitor, nullptr);
    folder = worker.backupFolder();
    return step(worker, monitor, result);
}

bool FlowSteps::checkBackup(const QDir& backupDir, FlowResult& result)
{
    StepMonitor monitor;
    BackupCheckThread worker(backupDir, m_encryption, &monitor, nullptr);
    return step(worker, monitor, result);
}

bool FlowSteps::restore(const IOSDevice& device, const QDir& folder, FlowResult& result)
{
    StepMonitor monitor;
    IOSMobileRestoreThread worker(device, folder, &monitor, nullptr);
    if (BackupEncryption::isEncrypted(QDir(folder.filePath(device.uniqueDeviceId)))) {
        // The phone checks the password itself ("Password" of the restore options).
        if (!unlock(device, QDir(folder.filePath(device.uniqueDeviceId)), result))
            return false;
        worker.setPassword(m_password);
    }
    // The flows restore partial backups; the flow decides what a refusal means for the full one.
    worker.marksFailedBackup = false;
    if (!step(worker, monitor, result))
        return false;
    result.restored = true;
    result.restarts = worker.deviceRestarts();
    return true;
}

bool FlowSteps::roomForRestore(const IOSDevice& device, qint64 restoreBytes, FlowResult& result)
{
    const qint64 free = result.freeBefore >= 0 ? result.freeBefore : DeviceStorage::freeBytes(device);
    if (free < 0 || free >= restoreBytes)
        return true;
    result.ending = FlowResult::Ending::Failed;
    result.message =
        QStringLiteral("The device has %1 of free space and the restore needs %2: free up %3 on the "
                       "device (for example, move videos to this computer), then try again. Your "
                       "device was not changed.")
            .arg(formatSize(free), formatSize(restoreBytes), formatSize(restoreBytes - free));
    return false;
}

QString FlowSteps::gainedText(const IOSDevice& device, FlowResult& result)
{
    // A phone that restarts to finish the restore tells its free space once it is back; any
    // other tells it now.
    result.freeAfter = result.restarts ? -1 : DeviceStorage::freeBytes(device);
    if (result.freeBefore < 0)
        return QString();
    if (result.freeAfter < 0)
        return QStringLiteral(" The device restarts to finish; its free space shows once it is back.");
    return QStringLiteral(" The device gained %1 of free space.")
        .arg(formatSize(qMax<qint64>(0, result.freeAfter - result.freeBefore)));
}
