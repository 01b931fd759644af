#include "SqliteFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>

namespace {
[[noreturn]] void fail(const QString& path, const QString& why)
{
    throw std::runtime_error(QStringLiteral("%1: %2").arg(path, why).toUtf8().toStdString());
}

bool copyFile(const QString& from, const QString& to)
{
    // The kernel copies the file (QFile::copy would read and write it in small blocks).
    std::error_code error;
    return std::filesystem::copy_file(QFile::encodeName(from).toStdString(),
                                      QFile::encodeName(to).toStdString(),
                                      std::filesystem::copy_options::overwrite_existing, error);
}
} // namespace

namespace SqliteFiles {

bool usesWal(const QString& path)
{
    // Bytes 18 and 19 of the header are the write and read versions: 2 means write-ahead log.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(20);
    return header.size() == 20 && header.startsWith("SQLite format 3") && header.at(18) == 2 &&
           header.at(19) == 2;
}

sqlite3* openForReading(const QString& path)
{
    const bool immutable = usesWal(path) && !QFileInfo::exists(path + QStringLiteral("-wal")) &&
                           !QFileInfo::exists(path + QStringLiteral("-shm"));
    QUrl uri = QUrl::fromLocalFile(path);
    uri.setQuery(immutable ? QStringLiteral("mode=ro&immutable=1") : QStringLiteral("mode=ro"));
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(uri.toEncoded().constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    if (rc != SQLITE_OK) {
        const QString why = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        fail(path, why);
    }
    // Another program holding the file briefly should not fail the run.
    sqlite3_busy_timeout(db, 5000);
    return db;
}

bool copyWithWal(const QString& database, const QString& wal, const QString& copy)
{
    removeWithSideFiles(copy);
    if (copyFile(database, copy) && (wal.isEmpty() || copyFile(wal, copy + QStringLiteral("-wal"))))
        return true;
    removeWithSideFiles(copy);
    return false;
}

void removeWithSideFiles(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

void checkpointAndClose(sqlite3* db, const QString& path)
{
    // In rollback-journal mode there is no log and the checkpoint does nothing.
    int logFrames = 0;
    int checkpointed = 0;
    const int rc =
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logFrames, &checkpointed);
    const QString why = QString::fromUtf8(sqlite3_errmsg(db));
    if (sqlite3_close(db) != SQLITE_OK) {
        // A statement still open holds the connection; it goes when that statement does.
        sqlite3_close_v2(db);
        fail(path, QStringLiteral("the database could not be closed"));
    }
    if (rc != SQLITE_OK)
        fail(path, why);
    const QFileInfo wal(path + QStringLiteral("-wal"));
    if (wal.exists() && wal.size() > 0)
        fail(path, QStringLiteral("its write-ahead log could not be written into the database"));
}

} // namespace SqliteFiles
