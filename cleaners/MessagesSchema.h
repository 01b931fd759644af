#pragma once

#include <QSet>
#include <QString>

class Sqlite3DB;

// The lower-cased table names of a messages database.
QSet<QString> messagesTableNames(Sqlite3DB& db);
// The newer schema (iOS 6 and later) has chats, handles and their join tables.
bool isNewerMessagesSchema(const QSet<QString>& tables);
