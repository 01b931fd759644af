#include "PhoneFiles.h"

#include "BackupFixture.h"

QMap<QString, QByteArray> phoneFiles(const SimDeviceFolder& phone)
{
    return BackupFixture::snapshot(QDir(phone.dir().filePath(QStringLiteral("files"))));
}

QMap<QString, QByteArray> containerFiles(const SimDeviceFolder& phone)
{
    return BackupFixture::snapshot(QDir(phone.dir().filePath(QStringLiteral("containers"))));
}

qint64 sizeOf(const QMap<QString, QByteArray>& files, const std::function<bool(const QString&)>& select)
{
    qint64 total = 0;
    for (auto it = files.begin(); it != files.end(); ++it)
        total += select(it.key()) ? it.value().size() : 0;
    return total;
}

bool isSystemCache(const QString& path)
{
    return path.startsWith(QLatin1String("HomeDomain/Library/Caches/")) ||
           path.startsWith(QLatin1String("RootDomain/Library/Caches/"));
}

bool isOrphan(const QString& path)
{
    return path.contains(QLatin1String("/GUID-OLD-")) ||
           path.startsWith(QLatin1String("MediaDomain/Library/SMS/Parts/"));
}
