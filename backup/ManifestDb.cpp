#include "ManifestDb.h"

#include "MbFileReader.h"
#include "SqliteFiles.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <plist/plist.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

[[noreturn]] void fail(const QString& path, const QString& why)
{
    throw std::runtime_error(QStringLiteral("%1: %2").arg(path, why).toUtf8().toStdString());
}

struct Db
{
    Db(sqlite3* handle, const QString& path) : path(path), db(handle) {}
    Db(const QString& path, int flags) : path(path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr) != SQLITE_OK) {
            const QString why = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("cannot open");
            sqlite3_close_v2(db);
            db = nullptr;
            fail(path, why);
        }
        sqlite3_busy_timeout(db, 5000);
    }
    ~Db() { sqlite3_close_v2(db); }
    [[noreturn]] void raise() const { fail(path, QString::fromUtf8(sqlite3_errmsg(db))); }
    void exec(const char* sql) const
    {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            raise();
    }
    sqlite3_stmt* prepare(const char* sql) const
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            raise();
        return stmt;
    }
    QString path;
    sqlite3* db = nullptr;
};

struct Statement
{
    explicit Statement(sqlite3_stmt* s) : stmt(s) {}
    ~Statement() { sqlite3_finalize(stmt); }
    sqlite3_stmt* stmt;
};

struct PlistHolder
{
    plist_t p = nullptr;
    ~PlistHolder()
    {
        if (p)
            plist_free(p);
    }
};

quint64 uintOf(plist_t node, quint64 fallback = 0)
{
    if (!node)
        return fallback;
    if (plist_get_node_type(node) == PLIST_UINT) {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return v;
    }
    if (plist_get_node_type(node) == PLIST_REAL) {
        double d = 0;
        plist_get_real_val(node, &d);
        // Only values a 64-bit count can hold; anything else (NaN included) counts as 0.
        return d > 0 && d < 18446744073709551616.0 ? quint64(d) : 0;
    }
    return fallback;
}

// The object a UID refers to in the archive's object table.
plist_t deref(plist_t objects, plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_UID)
        return nullptr;
    uint64_t index = 0;
    plist_get_uid_val(node, &index);
    return index < plist_array_get_size(objects) ? plist_array_get_item(objects, uint32_t(index)) : nullptr;
}

plist_t rootObject(plist_t archive, plist_t* objects)
{
    if (!archive || plist_get_node_type(archive) != PLIST_DICT)
        return nullptr;
    *objects = plist_dict_get_item(archive, "$objects");
    plist_t top = plist_dict_get_item(archive, "$top");
    if (!*objects || plist_get_node_type(*objects) != PLIST_ARRAY || !top ||
        plist_get_node_type(top) != PLIST_DICT)
        return nullptr;
    plist_t root = deref(*objects, plist_dict_get_item(top, "root"));
    return root && plist_get_node_type(root) == PLIST_DICT ? root : nullptr;
}

MbdbString text(const QByteArray& utf8)
{
    MbdbString s;
    s.setBytes(utf8);
    return s;
}

QByteArray columnBytes(sqlite3_stmt* stmt, int column)
{
    const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt, column));
    return QByteArray(data ? data : "", sqlite3_column_bytes(stmt, column));
}

} // namespace

bool unarchiveMbFile(const QByteArray& blob, MbdbRecord& r)
{
    return readMbFileQuickly(blob, r) || unarchiveMbFileWithLibplist(blob, r);
}

bool unarchiveMbFileWithLibplist(const QByteArray& blob, MbdbRecord& r)
{
    PlistHolder archive;
    plist_from_bin(blob.constData(), uint32_t(blob.size()), &archive.p);
    plist_t objects = nullptr;
    plist_t root = rootObject(archive.p, &objects);
    if (!root)
        return false;
    r.size = uintOf(plist_dict_get_item(root, "Size"));
    r.mode = quint16(uintOf(plist_dict_get_item(root, "Mode")));
    r.inode = uintOf(plist_dict_get_item(root, "InodeNumber"));
    r.userId = quint32(uintOf(plist_dict_get_item(root, "UserID")));
    r.groupId = quint32(uintOf(plist_dict_get_item(root, "GroupID")));
    r.modifiedTime = quint32(uintOf(plist_dict_get_item(root, "LastModified")));
    r.changedTime = quint32(uintOf(plist_dict_get_item(root, "LastStatusChange")));
    r.createdTime = quint32(uintOf(plist_dict_get_item(root, "Birth")));
    r.protectionClass = quint8(uintOf(plist_dict_get_item(root, "ProtectionClass")));
    if (plist_t target = deref(objects, plist_dict_get_item(root, "Target"));
        target && plist_get_node_type(target) == PLIST_STRING) {
        uint64_t length = 0;
        const char* t = plist_get_string_ptr(target, &length);
        r.linkTarget = text(QByteArray(t ? t : "", t ? qsizetype(length) : 0));
    }
    // The bytes of a data object, when it is one.
    auto setData = [](plist_t node, MbdbString& into) {
        if (!node || plist_get_node_type(node) != PLIST_DATA)
            return;
        char* d = nullptr;
        uint64_t n = 0;
        plist_get_data_val(node, &d, &n);
        into.setBytes(QByteArray(d ? d : "", qsizetype(n)));
        std::free(d);
    };
    setData(deref(objects, plist_dict_get_item(root, "Digest")), r.dataHash);
    // An encrypted backup's file key: an NSMutableData holding it under "NS.data".
    if (plist_t key = deref(objects, plist_dict_get_item(root, "EncryptionKey"));
        key && plist_get_node_type(key) == PLIST_DICT)
        setData(plist_dict_get_item(key, "NS.data"), r.encryptionKey);
    return true;
}

QByteArray archiveMbFile(const MbdbRecord& r)
{
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_t file = plist_new_dict();
    plist_array_append_item(objects, file);
    plist_dict_set_item(file, "Size", plist_new_uint(r.size));
    plist_dict_set_item(file, "Mode", plist_new_uint(r.mode));
    plist_dict_set_item(file, "InodeNumber", plist_new_uint(r.inode));
    plist_dict_set_item(file, "UserID", plist_new_uint(r.userId));
    plist_dict_set_item(file, "GroupID", plist_new_uint(r.groupId));
    plist_dict_set_item(file, "LastModified", plist_new_uint(r.modifiedTime));
    plist_dict_set_item(file, "LastStatusChange", plist_new_uint(r.changedTime));
    plist_dict_set_item(file, "Birth", plist_new_uint(r.createdTime));
    plist_dict_set_item(file, "ProtectionClass", plist_new_uint(r.protectionClass));
    plist_dict_set_item(file, "Flags", plist_new_uint(0));
    auto addObject = [&objects](plist_t object) {
        plist_array_append_item(objects, object);
        return plist_new_uid(plist_array_get_size(objects) - 1);
    };
    plist_dict_set_item(file, "RelativePath",
                        addObject(plist_new_string(r.path.toText().toUtf8().constData())));
    if (r.linkTarget.isPresent())
        plist_dict_set_item(file, "Target",
                            addObject(plist_new_string(r.linkTarget.toText().toUtf8().constData())));
    if (r.dataHash.isPresent())
        plist_dict_set_item(
            file, "Digest",
            addObject(plist_new_data(r.dataHash.bytes.constData(), uint64_t(r.dataHash.bytes.size()))));
    // An encrypted backup's file key, as phones archive it: NSMutableData (iphone_backup_decrypt,
    // avibrazil/iOSbackup read it from "NS.data").
    if (r.encryptionKey.isPresent()) {
        plist_t data = plist_new_dict();
        plist_dict_set_item(
            data, "NS.data",
            plist_new_data(r.encryptionKey.bytes.constData(), uint64_t(r.encryptionKey.bytes.size())));
        plist_t dataClasses = plist_new_array();
        plist_array_append_item(dataClasses, plist_new_string("NSMutableData"));
        plist_array_append_item(dataClasses, plist_new_string("NSData"));
        plist_array_append_item(dataClasses, plist_new_string("NSObject"));
        plist_t dataClass = plist_new_dict();
        plist_dict_set_item(dataClass, "$classname", plist_new_string("NSMutableData"));
        plist_dict_set_item(dataClass, "$classes", dataClasses);
        plist_t keyUid = addObject(data);
        plist_dict_set_item(data, "$class", addObject(dataClass));
        plist_dict_set_item(file, "EncryptionKey", keyUid);
    }
    plist_t classes = plist_new_array();
    plist_array_append_item(classes, plist_new_string("MBFile"));
    plist_array_append_item(classes, plist_new_string("NSObject"));
    plist_t classInfo = plist_new_dict();
    plist_dict_set_item(classInfo, "$classname", plist_new_string("MBFile"));
    plist_dict_set_item(classInfo, "$classes", classes);
    plist_dict_set_item(file, "$class", addObject(classInfo));

    plist_t archive = plist_new_dict();
    plist_dict_set_item(archive, "$version", plist_new_uint(100000));
    plist_dict_set_item(archive, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(1));
    plist_dict_set_item(archive, "$top", top);
    plist_dict_set_item(archive, "$objects", objects);
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(archive, &bin, &length);
    plist_free(archive);
    QByteArray result(bin ? bin : "", bin ? qsizetype(length) : 0);
    std::free(bin);
    return result;
}

namespace {
// A copy of the manifest with its log, read instead of the manifest itself so that reading leaves
// the folder as it was; removed when done.
struct LogCopy
{
    explicit LogCopy(const QString& manifest)
        : path(manifest + QStringLiteral(".reading-%1").arg(QDateTime::currentMSecsSinceEpoch()))
    {
        if (!SqliteFiles::copyWithWal(manifest, manifest + QStringLiteral("-wal"), path))
            fail(manifest, QStringLiteral("cannot copy the manifest with its log to %1").arg(path));
    }
    ~LogCopy() { SqliteFiles::removeWithSideFiles(path); }
    QString path;
};
} // namespace

struct ManifestDbReader::Private
{
    std::unique_ptr<LogCopy> copy;
    std::unique_ptr<Db> db;
    QString path;
    std::function<bool()> interrupted;

    // Runs a query and hands each row on as a record.
    void rows(sqlite3_stmt* stmt, const Take& take)
    {
        Statement rows(stmt);
        int rc;
        while ((rc = sqlite3_step(rows.stmt)) == SQLITE_ROW) {
            MbdbRecord r;
            const QByteArray fileId = columnBytes(rows.stmt, 0);
            r.domain = text(columnBytes(rows.stmt, 1));
            r.path = text(columnBytes(rows.stmt, 2));
            const int flags = sqlite3_column_int(rows.stmt, 3);
            const auto* object = static_cast<const char*>(sqlite3_column_blob(rows.stmt, 4));
            // Read in place where it can be; libplist reads the rest.
            if (!readMbFileQuickly(QByteArrayView(object, object ? sqlite3_column_bytes(rows.stmt, 4) : 0),
                                   r) &&
                !unarchiveMbFileWithLibplist(columnBytes(rows.stmt, 4), r))
                fail(path, QStringLiteral("the record %1 cannot be read").arg(QString::fromUtf8(fileId)));
            // The flags say what the entry is when the object does not.
            if ((r.mode & 0170000) == 0)
                r.mode = flags == 2 ? 040755 : flags == 4 ? 0120755 : 0100644;
            take(QString::fromUtf8(fileId), r);
        }
        if (rc != SQLITE_DONE)
            db->raise();
    }
};

ManifestDbReader::ManifestDbReader(const QString& path) : d(std::make_unique<Private>())
{
    d->path = path;
    // Rows not yet in the main file lie in its log.
    if (QFileInfo(path + QStringLiteral("-wal")).size() > 0)
        d->copy = std::make_unique<LogCopy>(path);
    d->db = d->copy ? std::make_unique<Db>(d->copy->path, SQLITE_OPEN_READWRITE)
                    : std::make_unique<Db>(SqliteFiles::openForReading(path), path);
    d->db->path = path;
}

ManifestDbReader::~ManifestDbReader() = default;

namespace {
const char columns[] = "SELECT fileID, domain, relativePath, flags, file FROM Files";

// The text of a column as RecordRule sees it.
QByteArrayView columnText(sqlite3_value* value)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
    return textUpToZero(QByteArrayView(text ? text : "", sqlite3_value_bytes(value)));
}
} // namespace

void ManifestDbReader::select(const QList<RecordRule>& rules, const Take& take)
{
    if (rules.isEmpty())
        return;
    // The rules themselves decide, as a function of the connection; a case-sensitive prefix also
    // bounds the path, so SQLite can look it up in the path index instead of reading every row.
    sqlite3_create_function_v2(
        d->db->db, "spacewell_rules_match", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
        const_cast<QList<RecordRule>*>(&rules),
        [](sqlite3_context* context, int, sqlite3_value** values) {
            const auto* rules = static_cast<const QList<RecordRule>*>(sqlite3_user_data(context));
            sqlite3_result_int(
                context,
                RecordRule::anyMatches(*rules, columnText(values[0]), columnText(values[1])) ? 1 : 0);
        },
        nullptr, nullptr, nullptr);
    bool bounded = true;
    QList<QByteArray> ranges;
    for (const RecordRule& rule : rules) {
        bounded = bounded && rule.prefixCase == Qt::CaseSensitive;
        for (const QByteArray& prefix : rule.prefixes) {
            bounded = bounded && !prefix.isEmpty() && uchar(prefix.back()) < 0x7f;
            QByteArray end = prefix;
            if (!end.isEmpty())
                end.back() = char(end.back() + 1);
            ranges << prefix << end;
        }
    }
    QByteArray sql = columns;
    sql += " WHERE ";
    if (bounded) {
        sql += '(';
        for (qsizetype i = 0; i < ranges.size(); i += 2)
            sql += (i ? " OR " : "") + QByteArray("(relativePath >= ? AND relativePath < ?)");
        sql += ") AND ";
    }
    sql += "spacewell_rules_match(domain, relativePath)";
    sqlite3_stmt* stmt = d->db->prepare(sql.constData());
    if (bounded) {
        for (qsizetype i = 0; i < ranges.size(); ++i)
            sqlite3_bind_text(stmt, int(i + 1), ranges.at(i).constData(), int(ranges.at(i).size()),
                              SQLITE_TRANSIENT);
    }
    d->rows(stmt, take);
}

void ManifestDbReader::byNames(const QStringList& names, const Take& take)
{
    // A statement per batch of names: fileID IN (?, ?, ...), within SQLite's limit of variables.
    constexpr qsizetype batch = 500;
    for (qsizetype first = 0; first < names.size(); first += batch) {
        const qsizetype n = std::min(batch, names.size() - first);
        QByteArray sql = QByteArray(columns) + " WHERE fileID IN (";
        for (qsizetype i = 0; i < n; ++i)
            sql += i ? ", ?" : "?";
        sql += ')';
        sqlite3_stmt* stmt = d->db->prepare(sql.constData());
        for (qsizetype i = 0; i < n; ++i) {
            const QByteArray key = names.at(first + i).toUtf8();
            sqlite3_bind_text(stmt, int(i + 1), key.constData(), int(key.size()), SQLITE_TRANSIENT);
        }
        d->rows(stmt, take);
    }
}

void ManifestDbReader::setInterrupt(std::function<bool()> interrupted)
{
    d->interrupted = std::move(interrupted);
    sqlite3_progress_handler(
        d->db->db, 10000,
        [](void* p) {
            const auto* self = static_cast<Private*>(p);
            return self->interrupted && self->interrupted() ? 1 : 0;
        },
        d.get());
}

void ManifestDbReader::all(const Take& take)
{
    d->rows(d->db->prepare(columns), take);
}

ManifestMap readManifestDb(const QString& path)
{
    ManifestMap map;
    ManifestDbReader(path).all([&map](const QString& name, MbdbRecord& r) { map.insert(name, r); });
    return map;
}

void updateManifestDb(const QString& path, const QSet<QString>& removed, const ManifestMap& refreshed)
{
    Db db(path, SQLITE_OPEN_READWRITE);
    // Removals touch pages all over the file: a cache that holds them spares writing pages out
    // (and syncing the journal) in the middle of the transaction.
    db.exec("PRAGMA cache_size=-131072");
    db.exec("BEGIN IMMEDIATE");
    try {
        // Rows go in the order they lie in the file, so each page is changed once, not once per row.
        std::vector<sqlite3_int64> rowids;
        rowids.reserve(size_t(removed.size()));
        Statement find(db.prepare("SELECT rowid FROM Files WHERE fileID = ?"));
        for (const QString& id : removed) {
            const QByteArray key = id.toUtf8();
            sqlite3_bind_text(find.stmt, 1, key.constData(), int(key.size()), SQLITE_TRANSIENT);
            int rc;
            while ((rc = sqlite3_step(find.stmt)) == SQLITE_ROW)
                rowids.push_back(sqlite3_column_int64(find.stmt, 0));
            if (rc != SQLITE_DONE)
                db.raise();
            sqlite3_reset(find.stmt);
        }
        std::sort(rowids.begin(), rowids.end());
        Statement remove(db.prepare("DELETE FROM Files WHERE rowid = ?"));
        for (const sqlite3_int64 rowid : rowids) {
            sqlite3_bind_int64(remove.stmt, 1, rowid);
            if (sqlite3_step(remove.stmt) != SQLITE_DONE)
                db.raise();
            sqlite3_reset(remove.stmt);
        }
        Statement select(db.prepare("SELECT file FROM Files WHERE fileID = ?"));
        Statement update(db.prepare("UPDATE Files SET file = ? WHERE fileID = ?"));
        for (auto it = refreshed.cbegin(); it != refreshed.cend(); ++it) {
            const QByteArray key = it.key().toUtf8();
            sqlite3_bind_text(select.stmt, 1, key.constData(), int(key.size()), SQLITE_TRANSIENT);
            const int rc = sqlite3_step(select.stmt);
            if (rc != SQLITE_ROW) {
                sqlite3_reset(select.stmt);
                continue; // the database lists no such file: nothing to refresh
            }
            // The stored object keeps everything but the times, the size, the digest and the key.
            PlistHolder archive;
            const QByteArray blob = columnBytes(select.stmt, 0);
            sqlite3_reset(select.stmt);
            plist_from_bin(blob.constData(), uint32_t(blob.size()), &archive.p);
            plist_t objects = nullptr;
            plist_t root = rootObject(archive.p, &objects);
            if (!root)
                fail(path, QStringLiteral("the record %1 cannot be read").arg(it.key()));
            const MbdbRecord& r = it.value();
            plist_dict_set_item(root, "LastModified", plist_new_uint(r.modifiedTime));
            plist_dict_set_item(root, "LastStatusChange", plist_new_uint(r.changedTime));
            plist_dict_set_item(root, "Birth", plist_new_uint(r.createdTime));
            plist_dict_set_item(root, "Size", plist_new_uint(r.size));
            if (plist_t digest = deref(objects, plist_dict_get_item(root, "Digest"));
                digest && r.dataHash.isPresent())
                plist_set_data_val(digest, r.dataHash.bytes.constData(), uint64_t(r.dataHash.bytes.size()));
            // An encrypted file written anew has a key of its own.
            if (plist_t holder = deref(objects, plist_dict_get_item(root, "EncryptionKey"));
                holder && r.encryptionKey.isPresent()) {
                if (plist_t data = plist_dict_get_item(holder, "NS.data"))
                    plist_set_data_val(data, r.encryptionKey.bytes.constData(),
                                       uint64_t(r.encryptionKey.bytes.size()));
            }
            char* bin = nullptr;
            uint32_t length = 0;
            plist_to_bin(archive.p, &bin, &length);
            sqlite3_bind_blob(update.stmt, 1, bin, int(length), SQLITE_TRANSIENT);
            std::free(bin);
            sqlite3_bind_text(update.stmt, 2, key.constData(), int(key.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(update.stmt) != SQLITE_DONE)
                db.raise();
            sqlite3_reset(update.stmt);
        }
        db.exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db.db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    // A manifest that uses a log is left as one file: the log's rows go into it.
    sqlite3* handle = db.db;
    db.db = nullptr;
    SqliteFiles::checkpointAndClose(handle, path);
}

void createManifestDb(const QString& path, const ManifestMap& records)
{
    QFile::remove(path);
    Db db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.exec("CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, "
            "file BLOB);"
            "CREATE INDEX FilesDomainIdx ON Files(domain);"
            "CREATE INDEX FilesRelativePathIdx ON Files(relativePath);"
            "CREATE INDEX FilesFlagsIdx ON Files(flags);"
            "CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);"
            "BEGIN");
    Statement insert(db.prepare("INSERT INTO Files VALUES (?, ?, ?, ?, ?)"));
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        const MbdbRecord& r = it.value();
        const QByteArray id = it.key().toUtf8();
        const QByteArray domain = r.domain.toText().toUtf8();
        const QByteArray relative = r.path.toText().toUtf8();
        const int type = r.mode & 0170000;
        const QByteArray blob = archiveMbFile(r);
        sqlite3_bind_text(insert.stmt, 1, id.constData(), int(id.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert.stmt, 2, domain.constData(), int(domain.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert.stmt, 3, relative.constData(), int(relative.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert.stmt, 4, type == 040000 ? 2 : type == 0120000 ? 4 : 1);
        sqlite3_bind_blob(insert.stmt, 5, blob.constData(), int(blob.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(insert.stmt) != SQLITE_DONE)
            db.raise();
        sqlite3_reset(insert.stmt);
    }
    db.exec("COMMIT");
}
