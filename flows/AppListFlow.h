#pragma once

#include "AppInfo.h"
#include "FlowSteps.h"

// The user's apps on a phone, with their icons cached on this computer.
class AppListFlow : public FlowSteps
{
public:
    using FlowSteps::FlowSteps;

    struct AppList
    {
        FlowResult outcome;
        QList<AppInfo> apps;
        // Whether the phone opens at least one app's container.
        bool someContainerOpens = false;
    };

    AppList load(const IOSDevice& device);
};
