#include "IOSClearAllMessagesThread.h"

#include "KnownDatabases.h"
#include "MessagesSchema.h"
#include "Sqlite3DB.h"

#include <QFileInfo>

#include <sqlite3.h>

namespace {
// The messages database's delete triggers call these to remove attachment files on the phone;
// in a backup there is nothing to remove, so they succeed and do nothing.
void attachmentPathNoop(sqlite3_context* context, int, sqlite3_value**)
{
    sqlite3_result_int(context, 0);
}

void registerNoop(Sqlite3DB& db, const char* name, int arguments)
{
    if (sqlite3_create_function_v2(db.handle(), name, arguments, SQLITE_ANY, nullptr, attachmentPathNoop,
                                   nullptr, nullptr, nullptr) != SQLITE_OK)
        throw Sqlite3Error(sqlite3_errmsg(db.handle()));
}

QStringList emptyingStatements(Sqlite3DB& db)
{
    const QSet<QString> tables = messagesTableNames(db);
    if (isNewerMessagesSchema(tables)) {
        registerNoop(db, "delete_attachment_path", 1);
        registerNoop(db, "before_delete_attachment_path", 2);
        return {QStringLiteral("delete from attachment"),
                QStringLiteral("delete from chat"),
                QStringLiteral("delete from handle"),
                QStringLiteral("delete from message"),
                QStringLiteral("delete from message_attachment_join"),
                QStringLiteral("delete from chat_message_join"),
                QStringLiteral("delete from chat_handle_join"),
                QStringLiteral("update sqlite_sequence set seq=0 where name in ('handle', 'chat', 'message', "
                               "'attachment')"),
                QStringLiteral("vacuum")};
    }
    QStringList statements = {QStringLiteral("delete from message"), QStringLiteral("delete from msg_pieces"),
                              QStringLiteral("delete from group_member"),
                              QStringLiteral("delete from msg_group")};
    if (tables.contains(QStringLiteral("madrid_chat")))
        statements << QStringLiteral("delete from madrid_chat");
    if (tables.contains(QStringLiteral("madrid_attachment")))
        statements << QStringLiteral("delete from madrid_attachment");
    statements << QStringLiteral("update sqlite_sequence set seq=0 where name in ('message', 'msg_pieces', "
                                 "'group_member', 'msg_group', 'madrid_attachment', 'madrid_chat')")
               << QStringLiteral("vacuum");
    return statements;
}
} // namespace

QString IOSClearAllMessagesThread::statusText() const
{
    return scanOnly ? tr("IDS_SCANING_MESSAGES") : tr("IDS_CLEARING_MESSAGES");
}

QString IOSClearAllMessagesThread::missingManifestMessage() const
{
    return QStringLiteral("IOSClearAllMessagesThread, can not find %1.");
}

BackupCleaner::Outcome IOSClearAllMessagesThread::work(ManifestMap& map)
{
    const QString name = QLatin1String(KnownDatabases::messages);
    if (!QFileInfo(databasePath(name)).isFile()) {
        qWarning("IOSClearAllMessagesThread, could not find %s.", KnownDatabases::messages);
        return Outcome::EndEarly;
    }
    editWorkingCopy(name, QStringLiteral("cant copy sms db to %1"), {}, emptyingStatements);

    walkRecords(
        map, [](qint64 i, qint64 n) { return int(double(i) * 100 / double(n)); },
        [this](const MbdbRecord& r) {
            const bool media = r.domain.equalsIgnoreCase(QLatin1String("MediaDomain")) &&
                               (r.path.startsWith(QLatin1String("Library/SMS/Attachments/")) ||
                                r.path.startsWith(QLatin1String("Library/SMS/Parts/")));
            const bool draft = r.domain.equalsIgnoreCase(QLatin1String("HomeDomain")) &&
                               r.path.startsWith(QLatin1String("Library/SMS/Drafts/"));
            if (!media && !draft)
                return false;
            countRemoved(r);
            return true;
        });

    if (!scanOnly)
        replaceWithWorkingCopy(name, map);
    return Outcome::WriteManifest;
}
