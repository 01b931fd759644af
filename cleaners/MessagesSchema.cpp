#include "MessagesSchema.h"

#include "Sqlite3DB.h"

QSet<QString> messagesTableNames(Sqlite3DB& db)
{
    QSet<QString> names;
    Sqlite3Cursor cursor = db.queryThrow("select name,sql from sqlite_master where type='table'");
    while (cursor.moveNext())
        names.insert(cursor.getText(QStringLiteral("name")).toLower());
    return names;
}

bool isNewerMessagesSchema(const QSet<QString>& tables)
{
    for (const char* table : {"chat", "handle", "chat_handle_join", "message", "chat_message_join"}) {
        if (!tables.contains(QLatin1String(table)))
            return false;
    }
    return true;
}
