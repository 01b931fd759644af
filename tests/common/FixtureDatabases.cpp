#include "FixtureDatabases.h"

#include <QSet>

#include <sqlite3.h>

#include <stdexcept>

namespace FixtureDatabases {

namespace {
struct Db
{
    explicit Db(const QString& path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open fixture database");
    }
    ~Db() { sqlite3_close_v2(db); }
    void run(const QString& sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string text = error ? error : "sqlite error";
            sqlite3_free(error);
            throw std::runtime_error(text);
        }
    }
    QString scalar(const QString& sql)
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
        QString value;
        if (sqlite3_step(stmt) == SQLITE_ROW)
            value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        return value;
    }
    sqlite3* db = nullptr;
};

QString quoted(const QString& text)
{
    QString q = text;
    q.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}
} // namespace

void exec(const QString& path, const QString& sql)
{
    Db(path).run(sql);
}

int countRows(const QString& path, const QString& table)
{
    return Db(path).scalar(QStringLiteral("select count(*) from ") + table).toInt();
}

QString scalar(const QString& path, const QString& sql)
{
    return Db(path).scalar(sql);
}

void createNewerMessages(const QString& path, const QList<Attachment>& attachments, bool wal)
{
    Db db(path);
    if (wal)
        db.run(QStringLiteral("PRAGMA journal_mode=WAL;"));
    db.run(QStringLiteral(R"(
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT,
    service TEXT NOT NULL, uncanonicalized_id TEXT, UNIQUE (id, service));
CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT,
    replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT,
    attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT,
    date INTEGER, date_read INTEGER, date_delivered INTEGER, is_from_me INTEGER DEFAULT 0,
    cache_has_attachments INTEGER DEFAULT 0);
CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER,
    state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT,
    account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT);
CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL,
    created_date INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT,
    transfer_state INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT,
    total_bytes INTEGER DEFAULT 0);
CREATE TABLE chat_handle_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE,
    handle_id INTEGER REFERENCES handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id));
CREATE TABLE chat_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE,
    message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, PRIMARY KEY (chat_id, message_id));
CREATE TABLE message_attachment_join (message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE,
    attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id));
CREATE TRIGGER after_delete_on_attachment AFTER DELETE ON attachment BEGIN
    SELECT delete_attachment_path(OLD.filename); END;
CREATE TRIGGER before_delete_on_attachment BEFORE DELETE ON attachment BEGIN
    SELECT before_delete_attachment_path(OLD.ROWID, OLD.guid); END;
INSERT INTO _SqliteDatabaseProperties VALUES ('counter_in_all', '3');
INSERT INTO handle (id, country, service) VALUES ('+15550100', 'us', 'SMS'), ('friend@example.com', 'us', 'iMessage');
INSERT INTO chat (guid, style, chat_identifier, service_name) VALUES ('SMS;-;+15550100', 45, '+15550100', 'SMS'),
    ('iMessage;-;friend@example.com', 45, 'friend@example.com', 'iMessage');
INSERT INTO chat_handle_join VALUES (1, 1), (2, 2);
INSERT INTO message (guid, text, handle_id, service, date, is_from_me) VALUES
    ('M-1', 'See you at eight', 1, 'SMS', 400000000, 0),
    ('M-2', 'On my way', 1, 'SMS', 400000100, 1),
    ('M-3', 'Holiday photos attached', 2, 'iMessage', 400000200, 0);
INSERT INTO chat_message_join VALUES (1, 1), (1, 2), (2, 3);
)"));
    int row = 0;
    for (const Attachment& a : attachments) {
        ++row;
        db.run(
            QStringLiteral("INSERT INTO attachment (guid, filename, mime_type, transfer_name, total_bytes) "
                           "VALUES ('A-%1', %2, 'image/jpeg', 'IMG_%1.jpeg', 1000);")
                .arg(row)
                .arg(quoted(a.fileName)));
        if (a.linked)
            db.run(QStringLiteral("INSERT INTO message_attachment_join VALUES (3, %1);").arg(row));
    }
}

void createOlderMessages(const QString& path, const QStringList& madridAttachmentFiles,
                         const QList<Part>& parts, bool withMadridTables)
{
    Db db(path);
    db.run(QStringLiteral(R"(
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, text TEXT,
    flags INTEGER, replace INTEGER, svc_center TEXT, group_id INTEGER, association_id INTEGER, height INTEGER,
    UIFlags INTEGER, version INTEGER, subject TEXT, country TEXT, headers BLOB, recipients BLOB, read INTEGER);
CREATE TABLE msg_group (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, type INTEGER, newest_message INTEGER,
    unread_count INTEGER, hash INTEGER);
CREATE TABLE group_member (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, group_id INTEGER, address TEXT, country TEXT);
CREATE TABLE msg_pieces (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, message_id INTEGER, data BLOB, part_id INTEGER,
    preview_part INTEGER, content_type TEXT, height INTEGER, version INTEGER, flags INTEGER, content_id TEXT,
    content_loc TEXT, headers BLOB);
)"));
    if (withMadridTables) {
        db.run(QStringLiteral(R"(
CREATE TABLE madrid_chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, style INTEGER, state INTEGER, account_id TEXT,
    properties BLOB, chat_identifier TEXT, service_name TEXT, guid TEXT, room_name TEXT, account_login TEXT,
    participants BLOB);
CREATE TABLE madrid_attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, attachment_guid TEXT,
    created_date INTEGER, start_date INTEGER, filename TEXT, uti_type TEXT, mime_type TEXT, transfer_state INTEGER,
    is_incoming INTEGER, message_id INTEGER);
INSERT INTO madrid_chat (style, chat_identifier, service_name, guid) VALUES (45, 'friend@example.com', 'Madrid', 'C-1');
)"));
        int n = 0;
        for (const QString& file : madridAttachmentFiles)
            db.run(QStringLiteral(
                       "INSERT INTO madrid_attachment (attachment_guid, filename) VALUES ('G-%1', %2);")
                       .arg(++n)
                       .arg(quoted(file)));
    }
    db.run(QStringLiteral("INSERT INTO msg_group (type, newest_message) VALUES (0, 1);"
                          "INSERT INTO group_member (group_id, address) VALUES (1, '+15550100');"));
    QSet<int> messages;
    for (const Part& p : parts) {
        if (!messages.contains(p.messageId)) {
            messages.insert(p.messageId);
            db.run(QStringLiteral(
                       "INSERT INTO message (ROWID, address, text, group_id) VALUES (%1, '+15550100', "
                       "'mms', %2);")
                       .arg(p.messageId)
                       .arg(p.groupId));
        }
        db.run(
            QStringLiteral("INSERT INTO msg_pieces (message_id, part_id, content_type, content_loc) VALUES "
                           "(%1, %2, 'image/jpeg', %3);")
                .arg(p.messageId)
                .arg(p.partId)
                .arg(quoted(p.contentLoc)));
    }
}

void createSafariHistory(const QString& path, int visits)
{
    Db db(path);
    db.run(QStringLiteral(R"(
PRAGMA journal_mode=WAL;
CREATE TABLE history_items (id INTEGER PRIMARY KEY AUTOINCREMENT, url TEXT NOT NULL UNIQUE,
    domain_expansion TEXT NULL, visit_count INTEGER NOT NULL, daily_visit_counts BLOB NOT NULL,
    weekly_visit_counts BLOB NULL, autocomplete_triggers BLOB NULL, should_recompute_derived_visit_counts INTEGER NOT NULL,
    visit_count_score INTEGER NOT NULL);
CREATE TABLE history_visits (id INTEGER PRIMARY KEY AUTOINCREMENT,
    history_item INTEGER NOT NULL REFERENCES history_items(id) ON DELETE CASCADE, visit_time REAL NOT NULL,
    title TEXT NULL, load_successful BOOLEAN NOT NULL DEFAULT 1, http_non_get BOOLEAN NOT NULL DEFAULT 0,
    synthesized BOOLEAN NOT NULL DEFAULT 0, redirect_source INTEGER NULL UNIQUE, redirect_destination INTEGER NULL UNIQUE,
    origin INTEGER NOT NULL DEFAULT 0, generation INTEGER NOT NULL DEFAULT 0, attributes INTEGER NOT NULL DEFAULT 0,
    score INTEGER NOT NULL DEFAULT 0);
CREATE TABLE history_tombstones (id INTEGER PRIMARY KEY AUTOINCREMENT, start_time REAL NOT NULL,
    end_time REAL NOT NULL, url TEXT, generation INTEGER NOT NULL DEFAULT 0);
CREATE TABLE metadata (key TEXT NOT NULL UNIQUE, value);
INSERT INTO metadata VALUES ('version', 10);
INSERT INTO history_tombstones (start_time, end_time, url) VALUES (1, 2, 'https://old.example.com/');
)"));
    for (int i = 1; i <= visits; ++i) {
        db.run(QStringLiteral(
                   "INSERT INTO history_items (url, domain_expansion, visit_count, daily_visit_counts, "
                   "should_recompute_derived_visit_counts, visit_count_score) VALUES "
                   "('https://site%1.example.com/page', 'site%1', 1, x'01', 0, 100);"
                   "INSERT INTO history_visits (history_item, visit_time, title) VALUES (%1, %2, 'Page %1');")
                   .arg(i)
                   .arg(600000000 + i));
    }
}

void createCallHistory(const QString& path, int calls)
{
    Db db(path);
    db.run(QStringLiteral(
        "CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, "
        "duration INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT, network_code "
        "TEXT, read INTEGER, assisted INTEGER, face_time_data BLOB, originalAddress TEXT);"));
    for (int i = 1; i <= calls; ++i)
        db.run(QStringLiteral(
                   "INSERT INTO call (address, date, duration, flags) VALUES ('+1555010%1', %2, 60, 5);")
                   .arg(i % 10)
                   .arg(1300000000 + i));
}

void createCallHistoryStore(const QString& path, int calls)
{
    Db db(path);
    db.run(QStringLiteral(R"(
CREATE TABLE ZCALLRECORD (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZANSWERED INTEGER,
    ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE INTEGER, ZFACE_TIME_DATA BLOB, ZNUMBER_AVAILABILITY INTEGER,
    ZORIGINATED INTEGER, ZREAD INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZADDRESS VARCHAR, ZDEVICE_ID VARCHAR,
    ZISO_COUNTRY_CODE VARCHAR, ZNAME VARCHAR, ZUNIQUE_ID VARCHAR);
CREATE TABLE ZCALLDBPROPERTIES (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZKEY VARCHAR, ZVALUE BLOB);
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
INSERT INTO Z_PRIMARYKEY VALUES (1, 'CallDBProperties', 0, 1), (2, 'CallRecord', 0, 0);
INSERT INTO ZCALLDBPROPERTIES VALUES (1, 1, 1, 'DataMigrated', x'01');
)"));
    for (int i = 1; i <= calls; ++i)
        db.run(QStringLiteral(
                   "INSERT INTO ZCALLRECORD (Z_PK, Z_ENT, Z_OPT, ZANSWERED, ZCALLTYPE, ZDATE, ZDURATION, "
                   "ZADDRESS, ZUNIQUE_ID) VALUES (%1, 2, 1, 1, 1, %2, 42.0, '+1555020%1', 'U-%1');"
                   "UPDATE Z_PRIMARYKEY SET Z_MAX=%1 WHERE Z_NAME='CallRecord';")
                   .arg(i)
                   .arg(500000000 + i));
}

} // namespace FixtureDatabases
