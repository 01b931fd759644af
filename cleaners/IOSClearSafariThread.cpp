#include "IOSClearSafariThread.h"

#include "KnownDatabases.h"

QString IOSClearSafariThread::statusText() const
{
    return scanOnly ? tr("IDS_SCANING_SAFARI") : tr("IDS_CLEARING_SAFARI_CACHE");
}

QString IOSClearSafariThread::missingManifestMessage() const
{
    return QStringLiteral("IOSClearSafariThread, can not find %1.");
}

BackupCleaner::Outcome IOSClearSafariThread::work(ManifestMap& map)
{
    const QString name = QLatin1String(KnownDatabases::safariHistory);
    editWorkingCopy(name, QStringLiteral("cant copy db to %1"),
                    {QStringLiteral("delete from history_items"),
                     QStringLiteral("delete from history_tombstones"),
                     QStringLiteral("delete from history_visits"), QStringLiteral("delete from metadata"),
                     QStringLiteral("update sqlite_sequence set seq=0"), QStringLiteral("vacuum")});

    walkRecords(
        map, [](qint64 i, qint64 n) { return int(double(i) * 100 / double(n)); },
        [this](const MbdbRecord& r) {
            if (!r.domain.equalsIgnoreCase(QLatin1String("AppDomain-com.apple.mobilesafari")))
                return false;
            if (!r.path.startsWith(QLatin1String("Library/WebKit/WebsiteData/LocalStorage/")) &&
                !r.path.startsWith(QLatin1String("Library/Safari/Thumbnails/")) &&
                !r.path.startsWith(QLatin1String("Library/Safari/History.plist")))
                return false;
            countRemoved(r);
            return true;
        });

    if (!scanOnly)
        replaceWithWorkingCopy(name, map);
    return Outcome::WriteManifest;
}
