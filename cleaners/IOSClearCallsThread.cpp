#include "IOSClearCallsThread.h"

#include "KnownDatabases.h"

QString IOSClearCallsThread::statusText() const
{
    return scanOnly ? tr("IDS_SCANING_CALLS") : tr("IDS_CLEARING_CALLS");
}

QString IOSClearCallsThread::missingManifestMessage() const
{
    return QStringLiteral("IOSClearCallsThread, can not find %1.");
}

BackupCleaner::Outcome IOSClearCallsThread::work(ManifestMap& map)
{
    const QString first = QLatin1String(KnownDatabases::callHistory);
    const QString second = QLatin1String(KnownDatabases::callHistoryStore);
    const QString copyFailure = QStringLiteral("cant copy db to %1");
    editWorkingCopy(first, copyFailure,
                    {QStringLiteral("delete from call"), QStringLiteral("update sqlite_sequence set seq=0"),
                     QStringLiteral("vacuum")});
    editWorkingCopy(second, copyFailure,
                    {QStringLiteral("delete from ZCALLRECORD"),
                     QStringLiteral("delete from ZCALLDBPROPERTIES"),
                     QStringLiteral("update Z_PRIMARYKEY set Z_MAX=0 where Z_NAME in "
                                    "('CallDBProperties','CallRecord');"),
                     QStringLiteral("vacuum")});
    if (!scanOnly) {
        replaceWithWorkingCopy(first, map);
        replaceWithWorkingCopy(second, map);
    }
    return Outcome::WriteManifest;
}
