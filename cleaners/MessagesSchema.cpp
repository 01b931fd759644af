#include "MessagesSchema.h"

#include "SchemaFunctions.h"

#include <QStringList>

#include <stdexcept>

namespace {
const char* const newerTables[] = {"chat", "handle", "chat_handle_join", "message", "chat_message_join"};
const char* const olderTables[] = {"message", "msg_pieces", "msg_group", "group_member"};

template <size_t N> QStringList missing(const QSet<QString>& tables, const char* const (&wanted)[N])
{
    QStringList absent;
    for (const char* table : wanted) {
        if (!tables.contains(QLatin1String(table)))
            absent << QLatin1String(table);
    }
    return absent;
}
} // namespace

QSet<QString> messagesTableNames(Sqlite3DB& db)
{
    return tableNames(db);
}

bool isNewerMessagesSchema(const QSet<QString>& tables)
{
    return missing(tables, newerTables).isEmpty();
}

bool requireMessagesSchema(const QSet<QString>& tables)
{
    if (isNewerMessagesSchema(tables))
        return true;
    const QStringList older = missing(tables, olderTables);
    if (older.isEmpty())
        return false;
    throw std::runtime_error(
        QStringLiteral(
            "The messages database has a layout this program does not know: it lacks the tables %1 "
            "of iOS 6 and later, and %2 of iOS 5 and earlier.")
            .arg(missing(tables, newerTables).join(QLatin1String(", ")), older.join(QLatin1String(", ")))
            .toUtf8()
            .toStdString());
}
