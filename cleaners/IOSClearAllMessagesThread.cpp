#include "IOSClearAllMessagesThread.h"

#include "KnownDatabases.h"
#include "MessagesSchema.h"
#include "SchemaFunctions.h"
#include "Sqlite3DB.h"

#include <QFileInfo>

namespace {
QStringList emptyingStatements(Sqlite3DB& db)
{
    const QSet<QString> tables = messagesTableNames(db);
    if (requireMessagesSchema(tables)) {
        QStringList statements = {QStringLiteral("delete from attachment"),
                                  QStringLiteral("delete from chat"),
                                  QStringLiteral("delete from handle"),
                                  QStringLiteral("delete from message"),
                                  QStringLiteral("delete from message_attachment_join"),
                                  QStringLiteral("delete from chat_message_join"),
                                  QStringLiteral("delete from chat_handle_join")};
        // From iOS 16 on, "Recently Deleted" keeps messages and their text beside the chats.
        for (const char* table : {"chat_recoverable_message_join", "recoverable_message_part"}) {
            if (tables.contains(QLatin1String(table)))
                statements << QStringLiteral("delete from ") + QLatin1String(table);
        }
        // Whatever else points at a chat, message, handle or attachment goes with it, as the
        // schema's cascades say. The triggers' own records of the deletion stay.
        statements << cascadeStatements(db, {QStringLiteral("attachment"), QStringLiteral("chat"),
                                             QStringLiteral("handle"), QStringLiteral("message")});
        statements << QStringLiteral("update sqlite_sequence set seq=0 where name in ('handle', 'chat', "
                                     "'message', 'attachment')")
                   << QStringLiteral("vacuum");
        return statements;
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

BackupCleaner::Outcome IOSClearAllMessagesThread::work()
{
    const BackupDatabase& database = KnownDatabases::messages;
    if (!QFileInfo(databasePath(database)).isFile()) {
        qWarning("IOSClearAllMessagesThread, could not find %s.", database.name);
        return Outcome::EndEarly;
    }
    editWorkingCopy(database, QStringLiteral("cant copy sms db to %1"), emptyingStatements);

    const RecordRule media{{"MediaDomain"}, {"Library/SMS/Attachments/", "Library/SMS/Parts/"}};
    const RecordRule drafts{{"HomeDomain"}, {"Library/SMS/Drafts/"}};
    walkRecords(
        {media, drafts}, [](qint64 i, qint64 n) { return int(double(i) * 100 / double(n)); },
        [this](const MbdbRecord& r) {
            countRemoved(r);
            return true;
        });

    if (!scanOnly)
        replaceWithWorkingCopy(database);
    return Outcome::WriteManifest;
}
