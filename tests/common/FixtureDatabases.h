#pragma once

#include <QString>
#include <QStringList>

// Databases with the schemas that phones write, filled with a little content.
namespace FixtureDatabases {

// Runs SQL on a new or existing database file; fails the calling test through an exception.
void exec(const QString& path, const QString& sql);
int countRows(const QString& path, const QString& table);
QString scalar(const QString& path, const QString& sql);

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

void createSafariHistory(const QString& path, int visits = 5);
void createCallHistory(const QString& path, int calls = 5);
void createCallHistoryStore(const QString& path, int calls = 5);

} // namespace FixtureDatabases
