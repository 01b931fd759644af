#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

class Sqlite3DB;

// A phone's databases carry triggers that call functions only the phone's own apps register
// (the messages database's "delete_attachment_path", "verify_chat", "is_mic_enabled" and more,
// renamed and added from one iOS version to the next). Any statement that fires such a trigger
// fails with "no such function" in another program.

// The names of the functions that the database's schema (triggers, views, indexes, tables) calls
// and that SQLite does not provide, lower-cased.
QSet<QString> unknownSchemaFunctions(Sqlite3DB& db);

// Registers a function for each of them that takes any arguments, does nothing and yields 0, so
// that deleting rows works and leaves no file to remove: a backup holds no attachment files to
// delete, and 0 answers "no" to the checks ("is_mic_enabled() = 1") that guard other work.
void registerSchemaFunctions(Sqlite3DB& db);

// Statements that empty the rows of other tables that point at emptied tables through a foreign
// key with ON DELETE CASCADE, as the phone's own delete of the parents would. `emptied` holds
// lower-cased table names.
QStringList cascadeStatements(Sqlite3DB& db, const QSet<QString>& emptied);

// The lower-cased names of the database's tables.
QSet<QString> tableNames(Sqlite3DB& db);
