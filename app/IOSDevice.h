#pragma once

#include <QMetaType>
#include <QString>

// One connected or simulated device, as the device selector keeps it.
struct IOSDevice
{
    QString deviceName;
    QString uniqueDeviceId;
    QString countryCode;
    QString productVersion;
    QString productType;
    // The device manager's opaque handle; null for a simulated device.
    void* device = nullptr;
};

Q_DECLARE_METATYPE(IOSDevice)
