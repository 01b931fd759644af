#include "AppCacheFlow.h"

#include "DeviceSpace.h"
#include "IOSClearAppCacheThread.h"
#include "StepMonitor.h"

namespace {
void addItems(FlowResult& result, const QList<AppInfo>& apps, const IOSClearAppCacheThread& worker,
              bool cleared)
{
    for (const AppInfo& app : apps) {
        FlowItem item;
        item.id = app.identifier;
        item.name = app.name;
        item.found = worker.sizes.value(app.identifier, -1);
        if (cleared && item.found >= 0)
            item.cleared = item.found;
        result.items << item;
    }
    result.found = worker.totalSize();
    result.refusedApps = worker.refused;
}
} // namespace

FlowResult AppCacheFlow::scan(const IOSDevice& device, const QList<AppInfo>& apps)
{
    FlowResult result;
    StepMonitor monitor;
    IOSClearAppCacheThread worker(device, apps, &monitor, nullptr);
    worker.scanOnly = true;
    if (step(worker, monitor, result))
        addItems(result, apps, worker, false);
    return result;
}

FlowResult AppCacheFlow::freeUp(const IOSDevice& device, const QList<AppInfo>& apps)
{
    FlowResult result;
    result.freeBefore = DeviceStorage::freeBytes(device);
    StepMonitor monitor;
    IOSClearAppCacheThread worker(device, apps, &monitor, nullptr);
    if (!step(worker, monitor, result))
        return result;
    addItems(result, apps, worker, true);
    result.cleared = qint64(worker.clearedBytes);
    if (worker.refused.isEmpty()) {
        result.closingText = worker.clearedText();
        return result;
    }
    // The device keeps these containers closed: a backup and a removing restore still frees
    // their caches, which no backup holds.
    QDir folder;
    if (!backUp(device, folder, result) || !restore(device, folder, result))
        return result;
    const QString closed =
        worker.refused.size() == 1
            ? QStringLiteral(" The caches of 1 app whose container the device keeps closed were freed "
                             "through a backup and restore.")
            : QStringLiteral(" The caches of %1 apps whose containers the device keeps closed were freed "
                             "through a backup and restore.")
                  .arg(worker.refused.size());
    // With every ticked container closed, only the backup and restore did anything.
    const QString done = worker.refused.size() == apps.size()
                             ? QStringLiteral("Successfully removed App Cache & Junk.")
                             : worker.clearedText() + closed;
    result.closingText = done + gainedText(device, result);
    return result;
}
