#include "IOSClearSysThread.h"

QString IOSClearSysThread::statusText() const
{
    return scanOnly ? tr("IDS_SCANING_SYS_CACHE") : tr("IDS_CLEARING_SYS_CACHE");
}

QString IOSClearSysThread::missingManifestMessage() const
{
    return QStringLiteral("IOSClearSysThread, can not find %1.");
}

BackupCleaner::Outcome IOSClearSysThread::work(ManifestMap& map)
{
    walkRecords(
        map, [](qint64 i, qint64 n) { return int(double(i) * 100 / double(n)); },
        [this](const MbdbRecord& r) {
            const bool selected = (r.domain.equalsIgnoreCase(QLatin1String("RootDomain")) ||
                                   r.domain.equalsIgnoreCase(QLatin1String("HomeDomain"))) &&
                                  !r.isEmptyEntry() &&
                                  r.path.startsWith(QLatin1String("Library/Caches/"), Qt::CaseInsensitive);
            if (selected) {
                foundBytes += qint64(r.size);
                clearedBytes += qint64(r.size);
            }
            return selected;
        });
    return Outcome::WriteManifest;
}
