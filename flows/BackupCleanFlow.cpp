#include "BackupCleanFlow.h"

#include "BackupEdit.h"
#include "BackupEditThread.h"
#include "BackupStatus.h"
#include "DeviceSpace.h"
#include "FormatSize.h"
#include "IOSClearAllMessagesThread.h"
#include "IOSClearCallsThread.h"
#include "IOSClearMMSAttaThread.h"
#include "IOSClearSafariThread.h"
#include "IOSClearSysThread.h"
#include "PendingRestore.h"
#include "StepMonitor.h"
#include "UndoStore.h"
#include "backup2tool.h"

#include <QCoreApplication>
#include <QLocale>
#include <QMap>

#include <memory>

namespace {
std::unique_ptr<BackupCleaner> makeCleaner(BackupCleanerKind kind, BackupEdit& edit, StepMonitor* monitor)
{
    switch (kind) {
    case BackupCleanerKind::SystemCaches:
        return std::make_unique<IOSClearSysThread>(edit, monitor, nullptr);
    case BackupCleanerKind::JunkAttachments:
        return std::make_unique<IOSClearMMSAttaThread>(edit, monitor, nullptr);
    case BackupCleanerKind::Messages:
        return std::make_unique<IOSClearAllMessagesThread>(edit, monitor, nullptr);
    case BackupCleanerKind::Safari:
        return std::make_unique<IOSClearSafariThread>(edit, monitor, nullptr);
    case BackupCleanerKind::CallHistory:
        return std::make_unique<IOSClearCallsThread>(edit, monitor, nullptr);
    }
    return nullptr;
}
} // namespace

FlowResult BackupCleanFlow::scan(const BackupPanel& panel, const IOSDevice& device)
{
    return run(panel, device, {}, true);
}

FlowResult BackupCleanFlow::freeUp(const BackupPanel& panel, const IOSDevice& device,
                                   const QStringList& ticked)
{
    return run(panel, device, ticked, false);
}

FlowResult BackupCleanFlow::run(const BackupPanel& panel, const IOSDevice& device, const QStringList& ticked,
                                bool scanOnly)
{
    FlowResult result;
    if (!backupAllowed(device, result))
        return result;
    if (!scanOnly) {
        // The Free Up whose restore did not happen is done again from the start.
        PendingRestore::drop(chooseTempBackupFolder(), device.uniqueDeviceId);
        result.freeBefore = DeviceStorage::freeBytes(device);
    }
    QDir folder;
    if (!backUp(device, folder, result))
        return result;

    const QDir backupDir(folder.filePath(device.uniqueDeviceId));
    if (!unlock(device, backupDir, result) || !checkBackup(backupDir, result))
        return result;
    BackupEdit edit(backupDir);
    edit.setEncryption(m_encryption);
    edit.setKeepsOriginals(!scanOnly);
    const QList<BackupCleanerKind> cleaners = scanOnly ? panel.allCleaners() : panel.cleanersFor(ticked);
    QMap<BackupCleanerKind, QPair<qint64, qint64>> totals;
    for (BackupCleanerKind kind : cleaners) {
        StepMonitor monitor;
        const std::unique_ptr<BackupCleaner> cleaner = makeCleaner(kind, edit, &monitor);
        cleaner->scanOnly = scanOnly;
        if (!step(*cleaner, monitor, result))
            return result;
        totals.insert(kind, {cleaner->foundBytes, cleaner->clearedBytes});
        result.found += cleaner->foundBytes;
        result.cleared += cleaner->clearedBytes;
    }
    // An unencrypted backup of a current phone holds no Safari history or call history.
    const bool plainCurrentPhone =
        !m_encryption && device.productVersion.section(QLatin1Char('.'), 0, 0).toInt() >= 13;
    // An entry that shares its cleaner with one before it is counted there.
    QMap<BackupCleanerKind, QString> counted;
    for (const PanelEntry& entry : panel.entries) {
        FlowItem item;
        item.id = entry.id;
        item.name = entry.name;
        if (counted.contains(entry.cleaner)) {
            item.countedWith = counted.value(entry.cleaner);
        } else if (totals.contains(entry.cleaner)) {
            counted.insert(entry.cleaner, entry.id);
            item.found = totals.value(entry.cleaner).first;
            if (!scanOnly)
                item.cleared = totals.value(entry.cleaner).second;
        }
        result.items << item;
        const bool asked = scanOnly || ticked.contains(entry.id);
        if (asked && entry.outOfReach && !result.notes.contains(QLatin1String(entry.outOfReach)))
            result.notes << QLatin1String(entry.outOfReach);
        if (asked && entry.onlyInEncryptedBackups && plainCurrentPhone && item.found <= 0 &&
            !result.notes.contains(encryptedOnlyText())) {
            result.notes << encryptedOnlyText();
            result.offersEncryption = true;
        }
    }
    if (scanOnly)
        return result;

    const QDir partialRoot = PendingRestore::root(folder, device.uniqueDeviceId);
    const QDir undoRoot = UndoStore::stagingRoot(folder, device.uniqueDeviceId);
    PartialBackup::Written partial;
    {
        StepMonitor monitor;
        // Written whole or not at all, and soon done.
        monitor.setCancellable(false);
        BackupEditThread worker(edit, &monitor, nullptr);
        worker.setPartialFolder(QDir(partialRoot.filePath(device.uniqueDeviceId)));
        worker.setUndoFolder(QDir(undoRoot.filePath(device.uniqueDeviceId)));
        if (!step(worker, monitor, result))
            return result;
        partial = worker.partialWritten();
    }
    QStringList freed;
    for (const FlowItem& item : std::as_const(result.items)) {
        if (item.cleared > 0)
            freed << item.name;
    }
    // The phone gets only what changed, and keeps everything else as it is.
    const bool restoring = result.cleared > 0 && partial.entries > 0;
    if (!restoring)
        PendingRestore::drop(folder, device.uniqueDeviceId);
    if (restoring) {
        if (!roomForRestore(device, partial.bytes, result) || !restore(device, partialRoot, result)) {
            // The edited backup no longer says what the phone holds: the next backup starts afresh.
            try {
                BackupEditMark(QDir(folder.filePath(device.uniqueDeviceId))).markChanging();
            } catch (const std::exception& e) {
                qWarning("%s", e.what());
            }
            PendingRestore::Info pending;
            pending.panel = panel.id;
            pending.items = freed;
            pending.results = result.items;
            pending.found = result.found;
            pending.cleared = result.cleared;
            pending.bytes = partial.bytes;
            keepForLater(device, folder, pending, result);
            return result;
        }
        PendingRestore::drop(folder, device.uniqueDeviceId, true);
        if (!UndoStore::keep(folder, device.uniqueDeviceId, freed))
            qWarning("the undo of this Free Up could not be kept");
    }
    result.closingText = QCoreApplication::translate("BackupCleanFlow", panel.closingKey)
                             .arg(formatSize(result.found), formatSize(result.cleared)) +
                         (restoring ? gainedText(device, result) : QString());
    for (const QString& note : std::as_const(result.notes))
        result.closingText += QStringLiteral("<br/><br/>") + note;
    return result;
}

void BackupCleanFlow::keepForLater(const IOSDevice& device, const QDir& folder,
                                   const PendingRestore::Info& pending, FlowResult& result)
{
    // The undo of the Free Up before stays; this one changed nothing yet.
    if (!PendingRestore::keep(folder, device.uniqueDeviceId, pending)) {
        PendingRestore::drop(folder, device.uniqueDeviceId);
        return;
    }
    result.changesKept = true;
    result.message += (result.message.isEmpty() ? QString() : QStringLiteral(" ")) + keptText();
}

QString BackupCleanFlow::encryptedOnlyText()
{
    return QStringLiteral(
        "Current iPhones keep Safari history and call history only in encrypted backups, so these cannot "
        "be freed while the device's backups are not encrypted. Turn backup encryption on (Tools > Encrypt "
        "the Device's Backups, or spacewell-cli encrypt), then Scan again.");
}

QString BackupCleanFlow::keptText()
{
    return QStringLiteral("The changes are kept on this computer: the next Free Up of the device can restore "
                          "them without a new backup.");
}

QString BackupCleanFlow::pendingQuestion(const BackupPanel& panel, const IOSDevice& device)
{
    // Another panel's changes are not what the user asked for: its Free Up starts afresh.
    const PendingRestore::Info pending = PendingRestore::of(device);
    if (!pending.present || pending.panel != panel.id)
        return QString();
    return QStringLiteral(
               "The Free Up of %1 on %2 (%3) did not reach the device: its restore did not happen. "
               "Restore those changes now, without a new backup? What changed in them on the device since "
               "(for example new messages) goes too. No starts a new Free Up with a new backup.")
        .arg(device.deviceName, QLocale().toString(pending.taken.toLocalTime(), QLocale::ShortFormat),
             pending.items.join(QStringLiteral(", ")));
}

void BackupCleanFlow::dropPending(const IOSDevice& device)
{
    PendingRestore::drop(chooseTempBackupFolder(), device.uniqueDeviceId);
}

FlowResult BackupCleanFlow::restorePending(const IOSDevice& device)
{
    FlowResult result;
    const PendingRestore::Info pending = PendingRestore::of(device);
    const BackupPanel* panel = BackupPanel::byId(pending.panel);
    if (!pending.present || !panel) {
        result.ending = FlowResult::Ending::Failed;
        result.message = QStringLiteral("There is no Free Up of this device waiting for its restore.");
        return result;
    }
    if (!backupAllowed(device, result))
        return result;
    result.freeBefore = DeviceStorage::freeBytes(device);
    result.items = pending.results;
    result.found = pending.found;
    result.cleared = pending.cleared;
    const QDir folder = chooseTempBackupFolder();
    // Refused again: it stays for the next try.
    if (!roomForRestore(device, pending.bytes, result) || !restore(device, pending.root, result)) {
        keepForLater(device, folder, pending, result);
        return result;
    }
    PendingRestore::drop(folder, device.uniqueDeviceId, true);
    if (!UndoStore::keep(folder, device.uniqueDeviceId, pending.items))
        qWarning("the undo of this Free Up could not be kept");
    result.closingText = QCoreApplication::translate("BackupCleanFlow", panel->closingKey)
                             .arg(formatSize(result.found), formatSize(result.cleared)) +
                         gainedText(device, result);
    return result;
}
