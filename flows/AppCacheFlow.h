#pragma once

#include "AppInfo.h"
#include "FlowSteps.h"

// Scan and Free Up of the app panel: the caches in each app's container, over AFC. The apps whose
// containers the phone keeps closed are named and left alone.
class AppCacheFlow : public FlowSteps
{
public:
    using FlowSteps::FlowSteps;

    // Items: one per app, found -1 for the apps whose containers stayed closed.
    FlowResult scan(const IOSDevice& device, const QList<AppInfo>& apps);
    FlowResult freeUp(const IOSDevice& device, const QList<AppInfo>& apps);
    // The sentence that names the apps whose caches cannot be reached, and why.
    static QString unreachableText(const QList<AppInfo>& apps, const QStringList& refused);
};
