#include "AppFolders.h"

#include "FileUtils.h"
#include "IOSDevice.h"
#include "Product.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

namespace {
QMutex cacheMutex;
QString cachedAppDataPath;

QString vendorDir()
{
    return QDir(roamingDir()).filePath(QStringLiteral("VantelMoor"));
}
} // namespace

QString roamingDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString readRedirectFile()
{
    QFile file(QDir(vendorDir()).filePath(QLatin1String(Product::productKey) + QLatin1String(".redirect")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Not trimmed: a trailing line break makes the path not exist, as intended.
    const QString candidate = QString::fromUtf8(file.readAll());
    if (candidate.isEmpty() || !QFileInfo::exists(candidate))
        return {};
    return candidate;
}

QDir appDataDir()
{
    QString path;
    {
        QMutexLocker lock(&cacheMutex);
        if (cachedAppDataPath.isEmpty()) {
            QString base = readRedirectFile();
            if (base.isEmpty())
                base = vendorDir();
            cachedAppDataPath = QDir(base).absoluteFilePath(QLatin1String(Product::productKey));
        }
        path = cachedAppDataPath;
    }
    QDir().mkpath(path);
    return QDir(path);
}

QDir deviceCacheDir(const IOSDevice& device)
{
    const QString path = appDataDir().filePath(QStringLiteral("ios_cache/") + device.uniqueDeviceId);
    QDir().mkpath(path);
    return QDir(path);
}

QDir appCacheDir(const IOSDevice& device, const QString& name)
{
    return QDir(deviceCacheDir(device).filePath(sanitizeFileName(name)));
}

void resetAppDataDirForTests()
{
    QMutexLocker lock(&cacheMutex);
    cachedAppDataPath.clear();
}
