#pragma once

#include <QSet>
#include <QString>

class Sqlite3DB;

// The two layouts of the messages database: the newer one (iOS 6 and later, chats and handles
// with their join tables) and the older one (iOS 5 and earlier, message groups and parts).
// A database is recognised by these core tables, whatever else it holds.

// The lower-cased table names of a messages database.
QSet<QString> messagesTableNames(Sqlite3DB& db);
bool isNewerMessagesSchema(const QSet<QString>& tables);
// True for the newer layout, false for the older one; throws std::runtime_error naming the
// tables each layout misses when the database has neither.
bool requireMessagesSchema(const QSet<QString>& tables);
