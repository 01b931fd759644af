#pragma once

#include "StepMonitor.h"
#include "WorkerRun.h"

#include <QDir>

#include <functional>

struct CleanerResult
{
    bool succeeded = false;
    QStringList reports;
    qint64 found = 0;
    qint64 cleared = 0;
};

// Runs one cleaner pass as the flows do: on a backup folder of
// its own, or on the BackupEdit that a flow's cleaners share.
template <class Cleaner, class Backup>
CleanerResult runCleaner(Backup&& backup, bool scanOnly,
                         const std::function<void(StepMonitor&)>& beforeStart = {})
{
    StepMonitor monitor;
    Cleaner cleaner(backup, &monitor, nullptr);
    cleaner.scanOnly = scanOnly;
    if (beforeStart)
        beforeStart(monitor);
    const WorkerRun run = runWorker(cleaner, monitor);
    return {run.succeeded, run.reports, cleaner.foundBytes, cleaner.clearedBytes};
}
