#pragma once

#include <QString>

#include <functional>

struct sqlite3;

// SQLite databases as a backup holds them. A phone's database may use a write-ahead log: its
// committed rows can lie in "<database>-wal" rather than in the main file, and opening such a
// database leaves "-wal" and "-shm" files beside it unless the last writer checkpoints on close.
namespace SqliteFiles {

// The file header says the database uses a write-ahead log.
bool usesWal(const QString& path);

// Opens a database for reading only, leaving nothing beside it: a database that uses a log but
// has none beside it is opened immutable (there is nothing to read from a log then, and a plain
// read-only connection would create and leave both side files). Throws std::runtime_error
// naming the file.
sqlite3* openForReading(const QString& path);

// Copies a database and, when `wal` is not empty, its log under the names SQLite pairs (`copy`
// and `copy`-wal), so that opening the copy sees the log's rows. False when a copy fails or
// `stop` (asked between blocks) ends it; no part of the copy is left then.
bool copyWithWal(const QString& database, const QString& wal, const QString& copy,
                 const std::function<bool()>& stop = {});

// Removes a database file with every side file SQLite may have made beside it.
void removeWithSideFiles(const QString& path);

// Puts every row of the log into the main file and closes the connection, so that the file
// stands alone. Throws std::runtime_error naming the file when the log could not be emptied.
void checkpointAndClose(sqlite3* db, const QString& path);

} // namespace SqliteFiles
