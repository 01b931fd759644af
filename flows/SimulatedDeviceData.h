#pragma once

#include "IOSDevice.h"

#include <QList>
#include <QString>

// What the data file of a demo device ("virtual_ios/<name>/data.txt" in the data folder) says:
// its storage, the System Junk total, the sizes of Messages, Safari and Call History, and its
// apps with their caches.
struct SimulatedDeviceData
{
    struct App
    {
        QString identifier;
        QString iconPath; // a file of the device's own folder
        qint64 cacheSize = 0;
    };

    bool present = false;
    qint64 total = 0;
    qint64 available = 0;
    qint64 systemJunk = -1;
    // Messages, Safari, Call History; -1 each when the file does not say.
    qint64 messages = -1;
    qint64 safari = -1;
    qint64 calls = -1;
    QList<App> apps;

    static SimulatedDeviceData read(const IOSDevice& device);
    static QString path(const IOSDevice& device);
};
