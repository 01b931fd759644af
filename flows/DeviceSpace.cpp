#include "DeviceSpace.h"

#include "AppFolders.h"
#include "CFType.h"
#include "MobileDeviceManager.h"

#include <QFile>
#include <QStringList>

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
    QFile data(simulatedDataPath(d));
    if (data.open(QIODevice::ReadOnly)) {
        const QStringList parts = QString::fromUtf8(data.readLine()).trimmed().split(QLatin1Char(','));
        if (parts.size() >= 2) {
            storage.total = parts.at(0).toLongLong();
            storage.available = parts.at(1).toLongLong();
        }
    }
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

QString simulatedDataPath(const IOSDevice& device)
{
    return appDataDir().filePath(QStringLiteral("virtual_ios/") + device.deviceName +
                                 QStringLiteral("/data.txt"));
}
