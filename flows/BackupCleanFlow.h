#pragma once

#include "FlowSteps.h"
#include "Panel.h"

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

private:
    FlowResult run(const BackupPanel& panel, const IOSDevice& device, const QStringList& ticked,
                   bool scanOnly);
};
