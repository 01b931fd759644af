#include "SimulatedDeviceData.h"

#include "AppFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

QString SimulatedDeviceData::path(const IOSDevice& device)
{
    return appDataDir().filePath(QStringLiteral("virtual_ios/") + device.deviceName +
                                 QStringLiteral("/data.txt"));
}

SimulatedDeviceData SimulatedDeviceData::read(const IOSDevice& device)
{
    SimulatedDeviceData data;
    QFile file(path(device));
    if (!file.open(QIODevice::ReadOnly))
        return data;
    data.present = true;
    auto fields = [](const QString& line) { return line.split(QLatin1Char(','), Qt::SkipEmptyParts); };
    QTextStream in(&file);
    const QStringList storage = fields(in.readLine());
    if (storage.size() >= 2) {
        data.total = storage.at(0).trimmed().toLongLong();
        data.available = storage.at(1).trimmed().toLongLong();
    }
    const QString junk = in.readLine();
    if (!junk.isNull())
        data.systemJunk = junk.trimmed().toLongLong();
    const QStringList sizes = fields(in.readLine());
    if (sizes.size() > 2) {
        data.messages = sizes.at(0).trimmed().toLongLong();
        data.safari = sizes.at(1).trimmed().toLongLong();
        data.calls = sizes.at(2).trimmed().toLongLong();
    }
    const QDir folder = QFileInfo(file.fileName()).dir();
    while (!in.atEnd()) {
        const QStringList parts = fields(in.readLine());
        if (parts.size() <= 2)
            continue;
        // The icon names a file of the device's own folder, nothing elsewhere.
        data.apps.append({parts.at(0), folder.filePath(QFileInfo(parts.at(1).trimmed()).fileName()),
                          parts.at(2).trimmed().toLongLong()});
    }
    return data;
}
