#include "IOSClearSysThread.h"

QString IOSClearSysThread::statusText() const
{
    return scanOnly ? tr("IDS_SCANING_SYS_CACHE") : tr("IDS_CLEARING_SYS_CACHE");
}

QString IOSClearSysThread::missingManifestMessage() const
{
    return QStringLiteral("IOSClearSysThread, can not find %1.");
}

BackupCleaner::Outcome IOSClearSysThread::work()
{
    const RecordRule caches{{"RootDomain", "HomeDomain"}, {"Library/Caches/"}, Qt::CaseInsensitive};
    walkRecords(
        {caches}, [](qint64 i, qint64 n) { return int(double(i) * 100 / double(n)); },
        [this](const MbdbRecord& r) {
            const bool selected = !r.isEmptyEntry();
            if (selected) {
                foundBytes += qint64(r.size);
                clearedBytes += qint64(r.size);
            }
            return selected;
        });
    return Outcome::WriteManifest;
}
