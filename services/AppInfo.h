#pragma once

#include <QList>
#include <QString>

// One installed app as the device lists it.
struct AppInfo
{
    QString identifier; // bundle identifier
    QString name;       // bundle name, or the identifier when the name is empty
};
