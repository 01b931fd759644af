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

BackupCleaner::Outcome IOSClearCallsThread::work()
{
    const QString copyFailure = QStringLiteral("cant copy db to %1");
    editWorkingCopy(KnownDatabases::callHistory, copyFailure, [](Sqlite3DB&) {
        return QStringList{QStringLiteral("delete from call"),
                           QStringLiteral("update sqlite_sequence set seq=0"), QStringLiteral("vacuum")};
    });
    editWorkingCopy(KnownDatabases::callHistoryStore, copyFailure, [](Sqlite3DB&) {
        return QStringList{QStringLiteral("delete from ZCALLRECORD"),
                           QStringLiteral("delete from ZCALLDBPROPERTIES"),
                           QStringLiteral("update Z_PRIMARYKEY set Z_MAX=0 where Z_NAME in "
                                          "('CallDBProperties','CallRecord');"),
                           QStringLiteral("vacuum")};
    });
    if (!scanOnly) {
        replaceWithWorkingCopy(KnownDatabases::callHistory);
        replaceWithWorkingCopy(KnownDatabases::callHistoryStore);
    }
    return Outcome::WriteManifest;
}
