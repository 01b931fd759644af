#include "IOSClearMMSAttaThread.h"

#include "KnownDatabases.h"
#include "MessagesSchema.h"
#include "Sqlite3DB.h"

#include <QDebug>
#include <QFileInfo>

QString IOSClearMMSAttaThread::statusText() const
{
    return scanOnly ? tr("IDS_SCANING_MMS_ATTA") : tr("IDS_CLEARING_MMS_ATTA");
}

QString IOSClearMMSAttaThread::missingManifestMessage() const
{
    return QStringLiteral("IOSClearMMSAttaThread, can not find %1.");
}

void IOSClearMMSAttaThread::addAttachmentFolder(QSet<QString>& referenced, const QString& fileName)
{
    const qsizetype start = fileName.indexOf(QLatin1String("Library/SMS/"));
    if (start < 0)
        return;
    const QString folder = fileName.mid(start, fileName.lastIndexOf(QLatin1Char('/')) - start);
    qDebug("%s", qUtf8Printable(folder));
    referenced.insert(folder);
}

BackupCleaner::Outcome IOSClearMMSAttaThread::work()
{
    if (!QFileInfo(databasePath(KnownDatabases::messages)).isFile()) {
        qWarning("IOSClearMMSAttaThread, could not find %s.", KnownDatabases::messages.name);
        return Outcome::EndEarly;
    }
    // Attachments that only the log's rows refer to are still in use.
    Sqlite3DB db;
    openForReading(KnownDatabases::messages, db);
    const QSet<QString> tables = messagesTableNames(db);
    QSet<QString> referenced;

    if (requireMessagesSchema(tables)) {
        Sqlite3Cursor rows =
            db.queryThrow("select a.filename from attachment as a inner join message_attachment_join "
                          "as ma on a.rowid=ma.attachment_id");
        const int c = rows.count();
        for (int i = 1; rows.moveNext(); ++i) {
            throwIfRejected();
            reportPercent(int(double(i) * 50 / c));
            addAttachmentFolder(referenced, rows.getText(QStringLiteral("filename")));
        }
    } else {
        int i = 0;
        int m = 0;
        if (tables.contains(QStringLiteral("madrid_attachment"))) {
            Sqlite3Cursor rows = db.queryThrow("select filename from madrid_attachment");
            m = rows.count();
            while (rows.moveNext()) {
                throwIfRejected();
                ++i;
                reportPercent(int(double(i) * 25 / m));
                addAttachmentFolder(referenced, rows.getText(QStringLiteral("filename")));
            }
        }
        Sqlite3Cursor parts =
            db.queryThrow("select p.message_id, p.part_id, p.content_loc, m.group_id from msg_pieces "
                          "as p inner join message as m  on p.message_id=m.rowid");
        while (parts.moveNext()) {
            throwIfRejected();
            ++i;
            // With no attachment rows the first phase is empty; this phase then shows its start.
            reportPercent(m > 0 ? int(double(i) * 25 / m + 25) : 25);
            const int messageId = parts.getInt(QStringLiteral("message_id"));
            const int groupId = parts.getInt(QStringLiteral("group_id"));
            const int partId = parts.getInt(QStringLiteral("part_id"));
            const QString contentLoc = parts.getText(QStringLiteral("content_loc")).trimmed();
            if (contentLoc.isEmpty())
                continue;
            const QString partPath = QStringLiteral("Library/SMS/Parts/%1/%2/%3-%4.%5")
                                         .arg(groupId % 256, 2, 16, QLatin1Char('0'))
                                         .arg(messageId % 16, 2, 10, QLatin1Char('0'))
                                         .arg(messageId)
                                         .arg(partId)
                                         .arg(QFileInfo(contentLoc).suffix());
            qDebug("%s", qUtf8Printable(partPath));
            referenced.insert(partPath);
        }
    }

    const RecordRule media{{"MediaDomain"}, {"Library/SMS/Attachments/", "Library/SMS/Parts/"}};
    walkRecords(
        {media}, [](qint64 i, qint64 n) { return int(double(i) * 50 / double(n) + 50); },
        [this, &referenced](const MbdbRecord& r) {
            if (r.isEmptyEntry())
                return false;
            const bool attachment = r.path.startsWith(QLatin1String("Library/SMS/Attachments/"));
            const QString path = r.path.toText();
            bool orphaned = false;
            if (attachment) {
                if (!referenced.contains(path.left(path.lastIndexOf(QLatin1Char('/'))))) {
                    qDebug("invalid mms folder file: %s", qUtf8Printable(path));
                    orphaned = true;
                }
            } else {
                if (!referenced.contains(path)) {
                    qDebug("invalid mms attachment: %s", qUtf8Printable(path));
                    orphaned = true;
                }
            }
            if (orphaned) {
                foundBytes += qint64(r.size);
                if (!scanOnly)
                    clearedBytes += qint64(r.size);
            }
            return orphaned;
        });
    return Outcome::WriteManifest;
}
