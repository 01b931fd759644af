#include "FlowSteps.h"

#include "BackupSettings.h"
#include "DeviceSpace.h"
#include "FormatSize.h"
#include "IOSMobileBackupThread.h"
#include "IOSMobileRestoreThread.h"
#include "StepMonitor.h"
#include "StepRunner.h"

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

bool FlowSteps::backupAllowed(const IOSDevice& device, FlowResult& result)
{
    const BackupSettings settings = BackupSettings::check(device);
    switch (settings.verdict) {
    case BackupSettings::Verdict::Allowed:
        return true;
    case BackupSettings::Verdict::Unreadable:
        result.ending = FlowResult::Ending::Failed;
        break;
    case BackupSettings::Verdict::CloudBackupOn:
    case BackupSettings::Verdict::Encrypted:
        result.ending = FlowResult::Ending::Blocked;
        break;
    }
    result.message = settings.text;
    result.picture = settings.picture;
    return false;
}

bool FlowSteps::backUp(const IOSDevice& device, QDir& folder, FlowResult& result)
{
    StepMonitor monitor;
    IOSMobileBackupThread worker(device, &monitor, nullptr);
    folder = worker.backupFolder();
    return step(worker, monitor, result);
}

bool FlowSteps::restore(const IOSDevice& device, const QDir& folder, FlowResult& result)
{
    StepMonitor monitor;
    IOSMobileRestoreThread worker(device, folder, &monitor, nullptr);
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
