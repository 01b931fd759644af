#include "AppListFlow.h"

#include "IOSLoadAppThread.h"
#include "StepMonitor.h"

AppListFlow::AppList AppListFlow::load(const IOSDevice& device)
{
    AppList list;
    StepMonitor monitor;
    monitor.setCancellable(false);
    IOSLoadAppThread loader(device, &monitor, nullptr);
    if (!step(loader, monitor, list.outcome))
        return list;
    list.apps = loader.apps;
    list.someContainerOpens = loader.someContainerOpens;
    return list;
}
