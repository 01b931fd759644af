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
    result.closingText = worker.clearedText();
    if (!worker.refused.isEmpty())
        result.closingText += QLatin1Char(' ') + unreachableText(apps, worker.refused);
    return result;
}

QString AppCacheFlow::unreachableText(const QList<AppInfo>& apps, const QStringList& refused)
{
    QStringList names;
    for (const AppInfo& app : apps) {
        if (refused.contains(app.identifier))
            names << (app.name.isEmpty() ? app.identifier : app.name);
    }
    // Only a restore that removes everything the backup does not list could reach them, and that
    // makes the phone download every app again: iOS clears these caches itself when storage runs
    // low.
    return QStringLiteral(
               "The device keeps the containers of %1 closed, so their caches were left as they are; "
               "iOS clears them itself when storage runs low.")
        .arg(names.join(QStringLiteral(", ")));
}
