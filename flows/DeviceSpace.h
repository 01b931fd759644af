#pragma once

#include "IOSDevice.h"

#include <QString>

// A phone's storage as it reports it ("com.apple.disk_usage"), or as a simulated device's data
// file gives it.
struct DeviceStorage
{
    qint64 total = 0;
    qint64 available = 0;

    // Whole percent in use; 0 when the total is unknown.
    int usedPercent() const { return total == 0 ? 0 : int(double(total - available) / double(total) * 100); }

    // Throws std::runtime_error when a real device cannot be asked.
    static DeviceStorage of(const IOSDevice& device);
    // The device's free bytes, -1 when it cannot say (a simulated device, one that restarts).
    static qint64 freeBytes(const IOSDevice& device);
};
