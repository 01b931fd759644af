#pragma once

#include <QString>
#include <QStringList>

// Databases with the schemas that phones write, filled with a little content.
namespace FixtureDatabases {

// Runs SQL on a new or existing database file; fails the calling test through an exception.
void exec(const QString& path, const QString& sql);
int countRows(const QString& path, const QString& table);
QString scalar(const QString& path, const QString& sql);
// One column of every row, as text.
QStringList column(const QString& path, const QString& sql);

// iOS 6 and later. Each attachment file name is stored as the phone does
// ("~/Library/SMS/Attachments/..."); linked ones are joined to a message.
struct Attachment
{
    QString fileName;
    bool linked = true;
};
void createNewerMessages(const QString& path, const QList<Attachment>& attachments, bool wal = true);

// iOS 5 and earlier. Each part: group id, message id, part id, content_loc.
struct Part
{
    int groupId;
    int messageId;
    int partId;
    QString contentLoc;
};
void createOlderMessages(const QString& path, const QStringList& madridAttachmentFiles,
                         const QList<Part>& parts, bool withMadridTables = true);

// The messages database of iOS 16 and later, after the schema Apple's Messages writes today (as
// captured from a current store: the tables of chats, messages, handles and attachments with
// their joins, the "Recently Deleted" tables, the deletion records the triggers fill, and the
// triggers themselves, several of which call functions only Messages registers:
// delete_attachment_path, before_delete_attachment_path, after_delete_message_plugin,
// delete_chat_background_before_deleting_chat, verify_chat, guid_for_chat, is_mic_enabled).
// Holds three conversations, one message in Recently Deleted with its recoverable parts, a
// message from a plug-in, and the attachments given (joined to a message when linked).
// `extraSchema` runs after the rest (a test's own trigger, say). The database uses a log.
void createCurrentMessages(const QString& path, const QList<Attachment>& attachments,
                           const QString& extraSchema = QString());
// Adds a message and its attachments in a way that leaves them only in the database's log, as a
// phone's database is backed up while Messages has not yet checkpointed: the log (and shared
// memory) files stay beside the database.
void addMessageInLog(const QString& path, const QString& text, const QStringList& attachmentFiles);

// Safari's history. `current` gives the schema of iOS 10 and later (tags with their join table
// and its triggers, events, event listeners, client versions), after WebKit's history store.
void createSafariHistory(const QString& path, int visits = 5, bool current = false);
void createCallHistory(const QString& path, int calls = 5);
void createCallHistoryStore(const QString& path, int calls = 5);

} // namespace FixtureDatabases
