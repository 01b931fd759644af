#pragma once

#include "FlowSteps.h"
#include "Panel.h"
#include "PendingRestore.h"

// Scan and Free Up of a backup panel: check the backup settings, back the phone up, run the
// panel's cleaners on one shared edit of the backup and, for a Free Up, write the edit and
// restore what changed.
class BackupCleanFlow : public FlowSteps
{
public:
    using FlowSteps::FlowSteps;

    // Every cleaner of the panel in count-only mode, whatever is ticked.
    FlowResult scan(const BackupPanel& panel, const IOSDevice& device);
    // The cleaners of the ticked entries (ids), then the restore when anything went.
    FlowResult freeUp(const BackupPanel& panel, const IOSDevice& device, const QStringList& ticked);

    // A Free Up of the panel on the phone whose restore did not happen: the question that offers
    // its restore without a new backup, or empty when there is none.
    static QString pendingQuestion(const BackupPanel& panel, const IOSDevice& device);
    FlowResult restorePending(const IOSDevice& device);
    static void dropPending(const IOSDevice& device);
    // Said when the changes of a Free Up wait for the next one.
    static QString keptText();
    // Said of Safari and Call History on a current phone whose backups are not encrypted.
    static QString encryptedOnlyText();

private:
    // The partial backup and the undo wait for the next Free Up; the result says so.
    static void keepForLater(const IOSDevice& device, const QDir& folder, const PendingRestore::Info& pending,
                             FlowResult& result);
    FlowResult run(const BackupPanel& panel, const IOSDevice& device, const QStringList& ticked,
                   bool scanOnly);
};
