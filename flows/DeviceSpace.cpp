#include "DeviceSpace.h"

#include "CFType.h"
#include "MobileDeviceManager.h"
#include "SimulatedDeviceData.h"

DeviceStorage DeviceStorage::of(const IOSDevice& d)
{
    DeviceStorage storage;
    if (d.device) {
        const QList<CFType> usage =
            mobiledevice_copy_values(d.device, {QString()}, QStringLiteral("com.apple.disk_usage"));
        storage.available = usage.value(0).value(QStringLiteral("AmountDataAvailable")).toLongLong();
        storage.total = usage.value(0).value(QStringLiteral("TotalDataCapacity")).toLongLong();
        return storage;
    }
    const SimulatedDeviceData data = SimulatedDeviceData::read(d);
    storage.total = data.total;
    storage.available = data.available;
    return storage;
}

qint64 DeviceStorage::freeBytes(const IOSDevice& device)
{
    if (!device.device)
        return -1;
    try {
        const QList<CFType> usage =
            mobiledevice_copy_values(device.device, {QString()}, QStringLiteral("com.apple.disk_usage"));
        const CFType available = usage.value(0).value(QStringLiteral("AmountDataAvailable"));
        return available.isNumber() ? available.toLongLong(-1) : -1;
    } catch (const std::exception& e) {
        qWarning("free space of the device unknown: %s", e.what());
        return -1;
    }
}
