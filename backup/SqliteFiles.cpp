#include "SqliteFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace {
[[noreturn]] void fail(const QString& path, const QString& why)
{
    throw std::runtime_error(QStringLiteral("%1: %2").arg(path, why).toUtf8().toStdString());
}

// The kernel copies the file in large blocks (QFile::copy would read and write it in small ones),
// with a chance to stop between them: a phone's messages database can take seconds.
bool copyFile(const QString& from, const QString& to, const std::function<bool()>& stop)
{
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat info = {};
    const int out = ::fstat(in, &info) == 0
                        ? ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                                 info.st_mode & 0777)
                        : -1;
    bool ok = out >= 0;
    bool kernelCopies = true;
    std::vector<char> buffer;
    while (ok) {
        if (stop && stop()) {
            ok = false;
            break;
        }
        ssize_t n = -1;
        if (kernelCopies) {
            n = ::copy_file_range(in, nullptr, out, nullptr, size_t(64) << 20, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopies = false;
                continue;
            }
        } else {
            buffer.resize(size_t(4) << 20);
            n = ::read(in, buffer.data(), buffer.size());
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w = ::write(out, buffer.data() + written, size_t(n - written));
                if (w <= 0) {
                    n = -1;
                    break;
                }
                written += w;
            }
        }
        if (n == 0)
            break;
        ok = n > 0;
    }
    ::close(in);
    if (out >= 0 && ::close(out) != 0)
        ok = false;
    return ok;
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

bool copyWithWal(const QString& database, const QString& wal, const QString& copy,
                 const std::function<bool()>& stop)
{
    removeWithSideFiles(copy);
    if (copyFile(database, copy, stop) &&
        (wal.isEmpty() || copyFile(wal, copy + QStringLiteral("-wal"), stop)))
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
