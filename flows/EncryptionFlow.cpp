#include "EncryptionFlow.h"

#include "BackupEncryptionOnThread.h"
#include "BackupSettings.h"
#include "FileUtils.h"
#include "StepMonitor.h"
#include "StepRunner.h"
#include "backup2tool.h"

namespace {
void wipe(QByteArray& secret)
{
    secret.fill('\0');
    secret.clear();
}
} // namespace

FlowResult EncryptionFlow::turnOn(const IOSDevice& device)
{
    FlowResult result;
    const BackupSettings settings = BackupSettings::check(device);
    if (settings.verdict == BackupSettings::Verdict::Unreadable || settings.encrypted) {
        result.ending = FlowResult::Ending::Failed;
        result.message =
            settings.encrypted
                ? QStringLiteral("The backups of %1 are encrypted already.").arg(device.deviceName)
                : settings.text;
        return result;
    }
    QByteArray password;
    QByteArray again;
    const StepRunner::Answer first = m_runner.askPassword(
        QStringLiteral("Choose a backup password for %1. Every later restore of the device needs it, and "
                       "it cannot be recovered: keep it safe. New backup password:")
            .arg(device.deviceName),
        password);
    if (first != StepRunner::Answer::Given || password.isEmpty()) {
        result.ending = first == StepRunner::Answer::NobodyToAsk ? FlowResult::Ending::Failed
                                                                 : FlowResult::Ending::Cancelled;
        result.message = QStringLiteral("No backup password was given. Your device was not changed.");
        return result;
    }
    // Where the same user can be asked again, a typing error is caught before it counts.
    const StepRunner::Answer second =
        m_runner.askPassword(QStringLiteral("Enter the new backup password again:"), again);
    if (second == StepRunner::Answer::Cancelled ||
        (second == StepRunner::Answer::Given && again != password)) {
        result.ending = second == StepRunner::Answer::Cancelled ? FlowResult::Ending::Cancelled
                                                                : FlowResult::Ending::Failed;
        result.message = QStringLiteral("The two passwords differ. Your device was not changed.");
        wipe(password);
        wipe(again);
        return result;
    }
    wipe(again);
    StepMonitor monitor;
    BackupEncryptionOnThread worker(device, password, &monitor, nullptr);
    const bool done = step(worker, monitor, result);
    wipe(password);
    if (!done)
        return result;
    // The last backup on this computer is in plain text and no base for an encrypted one.
    removeDirectory(chooseTempBackupFolder().filePath(device.uniqueDeviceId));
    result.closingText =
        QStringLiteral("The backups of %1 are encrypted from now on. Keep the backup password safe: every "
                       "later Scan, Free Up and restore of the device needs it, and it cannot be recovered.")
            .arg(device.deviceName);
    return result;
}
