#pragma once

#include <QList>
#include <QString>

// One installed app as the device lists it.
struct AppInfo
{
    QString identifier; // bundle identifier
    QString name;       // bundle name, or the identifier when the name is empty
    // What the installation proxy reports when asked: the app itself ("StaticDiskUsage") and its
    // documents and data ("DynamicDiskUsage"); -1 when the device does not say.
    qint64 bundleBytes = -1;
    qint64 dataBytes = -1;
};
