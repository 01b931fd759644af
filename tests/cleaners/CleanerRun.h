#pragma once

#include "ProgressForm.h"
#include "WorkerRun.h"

#include <QDir>

#include <functional>

struct CleanerResult
{
    bool succeeded = false;
    QStringList boxes;
    qint64 found = 0;
    qint64 cleared = 0;
};

// Runs one cleaner pass under its progress dialog as the pipeline does: on a backup folder of
// its own, or on the BackupEdit that a flow's cleaners share.
template <class Cleaner, class Backup>
CleanerResult runCleaner(Backup&& backup, bool scanOnly,
                         const std::function<void(ProgressForm&)>& beforeStart = {})
{
    ProgressForm form(QString(), nullptr);
    Cleaner cleaner(backup, &form, nullptr);
    cleaner.scanOnly = scanOnly;
    if (beforeStart)
        beforeStart(form);
    const WorkerRun run = runUnderDialog(form, cleaner);
    return {run.succeeded, run.boxTexts, cleaner.foundBytes, cleaner.clearedBytes};
}
