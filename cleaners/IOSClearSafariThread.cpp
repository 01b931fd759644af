#include "IOSClearSafariThread.h"

#include "KnownDatabases.h"
#include "SchemaFunctions.h"
#include "Sqlite3DB.h"

namespace {
QStringList emptyingStatements(Sqlite3DB& db)
{
    QStringList statements = {
        QStringLiteral("delete from history_items"), QStringLiteral("delete from history_tombstones"),
        QStringLiteral("delete from history_visits"), QStringLiteral("delete from metadata")};
    // Safari from iOS 10 on also files history items under tags and queues history events.
    const QSet<QString> tables = tableNames(db);
    for (const char* table : {"history_items_to_tags", "history_tags", "history_events"}) {
        if (tables.contains(QLatin1String(table)))
            statements << QStringLiteral("delete from ") + QLatin1String(table);
    }
    statements << cascadeStatements(db, {QStringLiteral("history_items"), QStringLiteral("history_visits")});
    statements << QStringLiteral("update sqlite_sequence set seq=0") << QStringLiteral("vacuum");
    return statements;
}
} // namespace

QString IOSClearSafariThread::statusText() const
{
    return scanOnly ? tr("IDS_SCANING_SAFARI") : tr("IDS_CLEARING_SAFARI_CACHE");
}

QString IOSClearSafariThread::missingManifestMessage() const
{
    return QStringLiteral("IOSClearSafariThread, can not find %1.");
}

BackupCleaner::Outcome IOSClearSafariThread::work()
{
    // Up to iOS 9 the history lies in Safari's own domain, from iOS 10 on in the home domain; a
    // backup may hold either or both.
    const QString copyFailure = QStringLiteral("cant copy db to %1");
    editWorkingCopy(KnownDatabases::safariHistory, copyFailure, emptyingStatements);
    editWorkingCopy(KnownDatabases::safariHistoryHome, copyFailure, emptyingStatements);

    const RecordRule safari{{"AppDomain-com.apple.mobilesafari"},
                            {"Library/WebKit/WebsiteData/LocalStorage/", "Library/Safari/Thumbnails/",
                             "Library/Safari/History.plist"}};
    walkRecords(
        {safari}, [](qint64 i, qint64 n) { return int(double(i) * 100 / double(n)); },
        [this](const MbdbRecord& r) {
            countRemoved(r);
            return true;
        });

    if (!scanOnly) {
        replaceWithWorkingCopy(KnownDatabases::safariHistory);
        replaceWithWorkingCopy(KnownDatabases::safariHistoryHome);
    }
    return Outcome::WriteManifest;
}
