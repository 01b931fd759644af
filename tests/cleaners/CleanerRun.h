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

// Runs one cleaner pass under its progress dialog as the pipeline does.
template <class Cleaner>
CleanerResult runCleaner(const QDir& backupDir, bool scanOnly,
                         const std::function<void(ProgressForm&)>& beforeStart = {})
{
    ProgressForm form(QString(), nullptr);
    Cleaner cleaner(backupDir, &form, nullptr);
    cleaner.scanOnly = scanOnly;
    if (beforeStart)
        beforeStart(form);
    const WorkerRun run = runUnderDialog(form, cleaner);
    return {run.succeeded, run.boxTexts, cleaner.foundBytes, cleaner.clearedBytes};
}
