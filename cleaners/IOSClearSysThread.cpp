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
            const QString domain = r.domain.toText();
            const bool selected =
                (domain.compare(QLatin1String("RootDomain"), Qt::CaseInsensitive) == 0 ||
                 domain.compare(QLatin1String("HomeDomain"), Qt::CaseInsensitive) == 0) &&
                !r.isEmptyEntry() &&
                r.path.toText().startsWith(QLatin1String("Library/Caches/"), Qt::CaseInsensitive);
            if (selected) {
                foundBytes += qint64(r.size);
                clearedBytes += qint64(r.size);
            }
            return selected;
        });
    return Outcome::WriteManifest;
}
