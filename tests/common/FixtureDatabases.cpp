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
    QStringList column(const QString& sql)
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
        QStringList values;
        while (sqlite3_step(stmt) == SQLITE_ROW)
            values << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        return values;
    }
    // What Messages registers on its own connection: this program plays Messages here.
    void registerMessagesFunctions()
    {
        for (const char* name : {"delete_attachment_path", "before_delete_attachment_path",
                                 "after_delete_message_plugin", "delete_chat_background_before_deleting_chat",
                                 "verify_chat", "guid_for_chat", "is_mic_enabled"})
            sqlite3_create_function_v2(
                db, name, -1, SQLITE_UTF8, nullptr,
                [](sqlite3_context* context, int, sqlite3_value**) { sqlite3_result_int(context, 0); },
                nullptr, nullptr, nullptr);
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

QStringList column(const QString& path, const QString& sql)
{
    return Db(path).column(sql);
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

void createCurrentMessages(const QString& path, const QList<Attachment>& attachments,
                           const QString& extraSchema)
{
    Db db(path);
    // Tables, with the columns that matter here, as Messages declares them.
    db.run(QStringLiteral(R"(
PRAGMA journal_mode=WAL;
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE deleted_messages (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL);
CREATE TABLE sync_deleted_messages (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, recordID TEXT);
CREATE TABLE sync_deleted_chats (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, recordID TEXT,
    timestamp INTEGER);
CREATE TABLE sync_deleted_attachments (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL,
    recordID TEXT);
CREATE TABLE message_processing_task (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT UNIQUE NOT NULL,
    task_flags INTEGER NOT NULL, reasons INTEGER NOT NULL);
CREATE TABLE kvtable (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, key TEXT UNIQUE NOT NULL, value BLOB NOT NULL);
CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT,
    service TEXT NOT NULL, uncanonicalized_id TEXT, person_centric_id TEXT, UNIQUE (id, service));
CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT,
    handle_id INTEGER DEFAULT 0, attributedBody BLOB, service TEXT, date INTEGER, is_from_me INTEGER DEFAULT 0,
    error INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, cache_roomnames TEXT,
    other_handle INTEGER DEFAULT 0, associated_message_guid TEXT, balloon_bundle_id TEXT, payload_data BLOB,
    ck_record_id TEXT, date_recovered INTEGER, index_state INTEGER DEFAULT 0);
CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER,
    state INTEGER, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT, display_name TEXT,
    ck_sync_state INTEGER DEFAULT 0, is_recovered INTEGER DEFAULT 0);
CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL,
    created_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT, transfer_name TEXT,
    total_bytes INTEGER DEFAULT 0, ck_record_id TEXT, original_guid TEXT UNIQUE NOT NULL);
CREATE TABLE chat_handle_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE,
    handle_id INTEGER REFERENCES handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id));
CREATE TABLE chat_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE,
    message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, message_date INTEGER DEFAULT 0,
    index_state INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (chat_id, message_id));
CREATE TABLE message_attachment_join (message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE,
    attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id));
CREATE TABLE chat_recoverable_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE,
    message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, delete_date INTEGER,
    ck_sync_state INTEGER DEFAULT 0, PRIMARY KEY (chat_id, message_id), CHECK (delete_date != 0));
CREATE TABLE recoverable_message_part (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE,
    message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, part_index INTEGER, delete_date INTEGER,
    part_text BLOB NOT NULL, ck_sync_state INTEGER DEFAULT 0, PRIMARY KEY (chat_id, message_id, part_index),
    CHECK (delete_date != 0));
CREATE TABLE unsynced_removed_recoverable_messages (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE,
    chat_guid TEXT NOT NULL, message_guid TEXT NOT NULL, part_index INTEGER);
CREATE TABLE chat_lookup (identifier TEXT NOT NULL, domain TEXT NOT NULL,
    chat INTEGER NOT NULL REFERENCES chat(ROWID) ON UPDATE CASCADE ON DELETE CASCADE, priority INTEGER DEFAULT 0,
    UNIQUE (identifier, domain));
CREATE TABLE chat_service (service TEXT NOT NULL,
    chat INTEGER NOT NULL REFERENCES chat(ROWID) ON UPDATE CASCADE ON DELETE CASCADE, UNIQUE (service, chat));
CREATE TABLE sync_chat_slice (service_name TEXT NOT NULL, ck_record_id TEXT,
    chat INTEGER NOT NULL REFERENCES chat(ROWID) ON UPDATE CASCADE ON DELETE CASCADE, UNIQUE (chat, service_name),
    UNIQUE (ck_record_id));
CREATE TABLE index_state_metrics (id INTEGER UNIQUE DEFAULT 1, pending_count INTEGER DEFAULT 0,
    donated_count INTEGER DEFAULT 0, redonation_count INTEGER DEFAULT 0, UNIQUE (id));
CREATE INDEX chat_message_join_idx_message_id_only ON chat_message_join(message_id);
CREATE INDEX chat_recoverable_message_join_message_id_idx ON chat_recoverable_message_join(message_id);
CREATE INDEX message_attachment_join_idx_attachment_id ON message_attachment_join(attachment_id);
CREATE INDEX message_idx_handle_id ON message(handle_id);
INSERT INTO _SqliteDatabaseProperties VALUES ('_ClientVersion', '18003');
INSERT INTO index_state_metrics (id) VALUES (1);
INSERT INTO kvtable (key, value) VALUES ('lastFailedMessageDate', 0);
INSERT INTO handle (id, country, service) VALUES ('+15550100', 'us', 'SMS'), ('friend@example.com', 'us', 'iMessage'),
    ('+15550199', 'us', 'iMessage');
INSERT INTO chat (guid, style, chat_identifier, service_name, display_name) VALUES
    ('SMS;-;+15550100', 45, '+15550100', 'SMS', NULL),
    ('iMessage;-;friend@example.com', 45, 'friend@example.com', 'iMessage', NULL),
    ('iMessage;+;chat123456', 43, 'chat123456', 'iMessage', 'Holiday');
INSERT INTO chat_handle_join VALUES (1, 1), (2, 2), (3, 2), (3, 3);
INSERT INTO chat_lookup (identifier, domain, chat) VALUES ('+15550100', 'phone', 1), ('friend@example.com', 'email', 2);
INSERT INTO chat_service (service, chat) VALUES ('SMS', 1), ('iMessage', 2), ('iMessage', 3);
INSERT INTO sync_chat_slice (service_name, ck_record_id, chat) VALUES ('iMessage', 'CK-CHAT-2', 2);
INSERT INTO message (guid, text, handle_id, service, date, is_from_me, ck_record_id) VALUES
    ('M-1', 'See you at eight', 1, 'SMS', 700000000000000000, 0, 'CK-1'),
    ('M-2', 'On my way', 1, 'SMS', 700000100000000000, 1, 'CK-2'),
    ('M-3', 'Holiday photos attached', 2, 'iMessage', 700000200000000000, 0, 'CK-3'),
    ('M-4', 'Who is bringing the cake?', 3, 'iMessage', 700000300000000000, 0, 'CK-4');
INSERT INTO message (guid, text, handle_id, service, date, balloon_bundle_id) VALUES
    ('M-5', NULL, 2, 'iMessage', 700000400000000000, 'com.apple.messages.MSMessageExtensionBalloonPlugin:0000000000:com.apple.Jellyfish');
INSERT INTO message (guid, text, handle_id, service, date) VALUES
    ('M-6', 'Deleted but recoverable for 30 days', 3, 'iMessage', 700000500000000000);
INSERT INTO chat_message_join (chat_id, message_id, message_date) VALUES (1, 1, 700000000000000000),
    (1, 2, 700000100000000000), (2, 3, 700000200000000000), (3, 4, 700000300000000000), (2, 5, 700000400000000000);
INSERT INTO chat_recoverable_message_join (chat_id, message_id, delete_date) VALUES (3, 6, 700000600000000000);
INSERT INTO recoverable_message_part (chat_id, message_id, part_index, delete_date, part_text) VALUES
    (3, 6, 0, 700000600000000000, CAST('Deleted but recoverable for 30 days' AS BLOB));
INSERT INTO message_processing_task (guid, task_flags, reasons) VALUES ('M-4', 1, 0);
)"));
    int row = 0;
    for (const Attachment& a : attachments) {
        ++row;
        db.run(
            QStringLiteral("INSERT INTO attachment (guid, original_guid, filename, mime_type, transfer_name, "
                           "total_bytes) VALUES ('A-%1', 'A-%1', %2, 'image/jpeg', 'IMG_%1.jpeg', 1000);")
                .arg(row)
                .arg(quoted(a.fileName)));
        if (a.linked)
            db.run(QStringLiteral("INSERT INTO message_attachment_join VALUES (3, %1);"
                                  "UPDATE message SET cache_has_attachments = 1 WHERE ROWID = 3;")
                       .arg(row));
    }
    // The triggers come last, as the rows above stand for what Messages wrote over time.
    db.run(QStringLiteral(R"(
CREATE TRIGGER add_to_sync_deleted_attachments AFTER DELETE ON attachment BEGIN
    INSERT INTO sync_deleted_attachments (guid, recordID) VALUES (OLD.guid, OLD.ck_record_id); END;
CREATE TRIGGER after_delete_on_attachment AFTER DELETE ON attachment BEGIN
    SELECT delete_attachment_path(OLD.filename); END;
CREATE TRIGGER before_delete_on_attachment BEFORE DELETE ON attachment BEGIN
    SELECT before_delete_attachment_path(OLD.ROWID, OLD.guid); END;
CREATE TRIGGER after_delete_on_chat AFTER DELETE ON chat BEGIN
    DELETE FROM chat_message_join WHERE chat_id = OLD.ROWID; END;
CREATE TRIGGER before_delete_chat_update_sync_chat_deletes BEFORE DELETE ON chat WHEN is_mic_enabled() = 1 BEGIN
    INSERT INTO sync_deleted_chats (guid, recordID, timestamp)
    SELECT guid_for_chat(OLD.chat_identifier, scl.service_name, OLD.style), scl.ck_record_id, 0
    FROM sync_chat_slice scl WHERE OLD.rowid = scl.chat AND scl.ck_record_id IS NOT NULL; END;
CREATE TRIGGER before_deleting_chat_delete_chat_background_trigger BEFORE DELETE ON chat BEGIN
    SELECT delete_chat_background_before_deleting_chat(OLD.guid, OLD.properties); END;
CREATE TRIGGER verify_chat_insert BEFORE INSERT ON chat BEGIN SELECT verify_chat(NEW.guid); END;
CREATE TRIGGER verify_chat_update BEFORE UPDATE OF guid ON chat BEGIN SELECT verify_chat(NEW.guid); END;
CREATE TRIGGER after_delete_on_chat_handle_join AFTER DELETE ON chat_handle_join BEGIN
    DELETE FROM handle WHERE handle.ROWID = OLD.handle_id
        AND (SELECT 1 FROM chat_handle_join WHERE handle_id = OLD.handle_id LIMIT 1) IS NULL
        AND (SELECT 1 FROM message WHERE handle_id = OLD.handle_id LIMIT 1) IS NULL
        AND (SELECT 1 FROM message WHERE other_handle = OLD.handle_id LIMIT 1) IS NULL; END;
CREATE TRIGGER after_delete_on_chat_message_join AFTER DELETE ON chat_message_join BEGIN
    UPDATE message SET cache_roomnames = (SELECT group_concat(c.room_name) FROM chat c
        INNER JOIN chat_message_join j ON c.ROWID = j.chat_id WHERE j.message_id = OLD.message_id)
        WHERE message.ROWID = OLD.message_id;
    DELETE FROM message WHERE message.ROWID = OLD.message_id
        AND OLD.message_id NOT IN (SELECT message_id FROM chat_message_join WHERE message_id = OLD.message_id LIMIT 1)
        AND OLD.message_id NOT IN (SELECT message_id FROM chat_recoverable_message_join
                                   WHERE message_id = OLD.message_id LIMIT 1); END;
CREATE TRIGGER after_insert_on_chat_message_join AFTER INSERT ON chat_message_join BEGIN
    UPDATE message SET cache_roomnames = (SELECT group_concat(c.room_name) FROM chat c
        INNER JOIN chat_message_join j ON c.ROWID = j.chat_id WHERE j.message_id = NEW.message_id)
        WHERE message.ROWID = NEW.message_id; END;
CREATE TRIGGER chat_service_on_insert_chat_message_join AFTER INSERT ON chat_message_join BEGIN
    INSERT INTO chat_service (service, chat) SELECT m.service, NEW.chat_id FROM message m
    WHERE m.rowid = NEW.message_id ON CONFLICT (service, chat) DO NOTHING; END;
CREATE TRIGGER index_metrics_delete_propagation AFTER DELETE ON chat_message_join WHEN OLD.index_state != 2 BEGIN
    UPDATE index_state_metrics SET pending_count = pending_count - CASE WHEN OLD.index_state = 0 THEN 1 ELSE 0 END
    WHERE id = 1; END;
CREATE TRIGGER after_delete_on_chat_recoverable_message_join AFTER DELETE ON chat_recoverable_message_join BEGIN
    DELETE FROM message WHERE message.ROWID = OLD.message_id
        AND OLD.message_id NOT IN (SELECT message_id FROM chat_message_join WHERE message_id = OLD.message_id LIMIT 1)
        AND OLD.message_id NOT IN (SELECT message_id FROM chat_recoverable_message_join
                                   WHERE message_id = OLD.message_id LIMIT 1); END;
CREATE TRIGGER add_to_deleted_messages AFTER DELETE ON message BEGIN
    INSERT INTO deleted_messages (guid) VALUES (OLD.guid); END;
CREATE TRIGGER add_to_sync_deleted_messages AFTER DELETE ON message BEGIN
    INSERT INTO sync_deleted_messages (guid, recordID) VALUES (OLD.guid, OLD.ck_record_id); END;
CREATE TRIGGER after_delete_on_message AFTER DELETE ON message BEGIN
    DELETE FROM handle WHERE handle.ROWID = OLD.handle_id
        AND (SELECT 1 FROM chat_handle_join WHERE handle_id = OLD.handle_id LIMIT 1) IS NULL
        AND (SELECT 1 FROM message WHERE handle_id = OLD.handle_id LIMIT 1) IS NULL
        AND (SELECT 1 FROM message WHERE other_handle = OLD.handle_id LIMIT 1) IS NULL; END;
CREATE TRIGGER after_delete_on_message_plugin AFTER DELETE ON message WHEN OLD.balloon_bundle_id IS NOT NULL BEGIN
    SELECT after_delete_message_plugin(OLD.ROWID, OLD.guid); END;
CREATE TRIGGER delete_associated_messages_after_delete_on_message AFTER DELETE ON message BEGIN
    DELETE FROM message WHERE (OLD.associated_message_guid IS NULL AND associated_message_guid IS NOT NULL
        AND guid = OLD.associated_message_guid); END;
CREATE TRIGGER update_last_failed_message_date AFTER UPDATE OF error ON message
    WHEN NEW.error != 0 AND NEW.date > COALESCE((SELECT value FROM kvtable WHERE key = 'lastFailedMessageDate'), 0)
    BEGIN INSERT OR REPLACE INTO kvtable (key, value) VALUES ('lastFailedMessageDate', NEW.date); END;
CREATE TRIGGER after_delete_on_message_attachment_join AFTER DELETE ON message_attachment_join BEGIN
    DELETE FROM attachment WHERE attachment.ROWID = OLD.attachment_id
        AND (SELECT 1 FROM message_attachment_join WHERE attachment_id = OLD.attachment_id LIMIT 1) IS NULL; END;
CREATE TRIGGER after_insert_on_message_attachment_join AFTER INSERT ON message_attachment_join BEGIN
    UPDATE message SET cache_has_attachments = 1 WHERE message.ROWID = NEW.message_id; END;
)"));
    if (!extraSchema.isEmpty())
        db.run(extraSchema);
}

void addMessageInLog(const QString& path, const QString& text, const QStringList& attachmentFiles)
{
    Db db(path);
    // The log stays as it is when this connection closes.
    sqlite3_db_config(db.db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    db.run(QStringLiteral("PRAGMA wal_autocheckpoint=0;"));
    db.registerMessagesFunctions();
    const QString guid =
        QStringLiteral("M-LOG-%1").arg(db.scalar(QStringLiteral("select count(*) from message")));
    db.run(QStringLiteral("BEGIN;"
                          "INSERT INTO message (guid, text, handle_id, service, date) VALUES (%1, %2, 2, "
                          "'iMessage', 700000900000000000);"
                          "INSERT INTO chat_message_join (chat_id, message_id, message_date) VALUES "
                          "(2, last_insert_rowid(), 700000900000000000);")
               .arg(quoted(guid), quoted(text)));
    const QString message =
        db.scalar(QStringLiteral("select ROWID from message where guid = %1").arg(quoted(guid)));
    int n = 0;
    for (const QString& file : attachmentFiles) {
        const QString attachment = QStringLiteral("%1-A%2").arg(guid).arg(++n);
        db.run(QStringLiteral("INSERT INTO attachment (guid, original_guid, filename, mime_type) VALUES "
                              "(%1, %1, %2, 'image/jpeg');"
                              "INSERT INTO message_attachment_join VALUES (%3, last_insert_rowid());")
                   .arg(quoted(attachment), quoted(file), message));
    }
    db.run(QStringLiteral("COMMIT;"));
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

void createSafariHistory(const QString& path, int visits, bool current)
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
    if (!current)
        return;
    db.run(QStringLiteral(R"(
ALTER TABLE history_items ADD COLUMN status_code INTEGER NOT NULL DEFAULT 0;
ALTER TABLE history_tombstones ADD COLUMN udid TEXT;
CREATE TABLE history_client_versions (client_version INTEGER PRIMARY KEY, last_seen REAL NOT NULL);
CREATE TABLE history_event_listeners (listener_name TEXT PRIMARY KEY NOT NULL UNIQUE, last_seen REAL NOT NULL);
CREATE TABLE history_events (id INTEGER PRIMARY KEY AUTOINCREMENT, event_type TEXT NOT NULL,
    event_time REAL NOT NULL, pending_listeners TEXT NOT NULL, value BLOB);
CREATE TABLE history_tags (id INTEGER PRIMARY KEY, type INTEGER NOT NULL, level INTEGER NOT NULL,
    identifier TEXT NOT NULL, title TEXT NOT NULL, modification_timestamp REAL NOT NULL,
    item_count INTEGER NOT NULL DEFAULT 0);
CREATE TABLE history_items_to_tags (history_item INTEGER NOT NULL, tag_id INTEGER NOT NULL, timestamp REAL NOT NULL,
    FOREIGN KEY(tag_id) REFERENCES history_tags(id) ON DELETE CASCADE,
    FOREIGN KEY(history_item) REFERENCES history_items(id) ON DELETE CASCADE,
    UNIQUE(history_item, tag_id) ON CONFLICT REPLACE);
CREATE TRIGGER increment_count_on_insert AFTER INSERT ON history_items_to_tags BEGIN
    UPDATE history_tags SET item_count = item_count + 1 WHERE id = NEW.tag_id; END;
CREATE TRIGGER decrement_count_on_delete BEFORE DELETE ON history_items_to_tags BEGIN
    UPDATE history_tags SET item_count = item_count - 1 WHERE id = OLD.tag_id; END;
INSERT INTO history_client_versions VALUES (1, 700000000), (20, 700000100);
INSERT INTO history_event_listeners VALUES ('com.apple.Safari.History', 700000100);
INSERT INTO history_events (event_type, event_time, pending_listeners, value) VALUES
    ('visit', 700000050, 'com.apple.Safari.History', CAST('https://site1.example.com/page' AS BLOB));
INSERT INTO history_tags (id, type, level, identifier, title, modification_timestamp) VALUES
    (1, 1, 200, 'Q1001', 'Travel', 700000000), (2, 1, 200, 'Q1002', 'Cooking', 700000000);
)"));
    for (int i = 1; i <= visits; ++i)
        db.run(QStringLiteral("INSERT INTO history_items_to_tags VALUES (%1, %2, 700000000);")
                   .arg(i)
                   .arg(i % 2 + 1));
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
