#include "BackupEdit.h"
#include "BackupEditThread.h"
#include "BackupFileName.h"
#include "BackupFixture.h"
#include "BackupStatus.h"
#include "CleanerRun.h"
#include "FixtureDatabases.h"
#include "IOSClearAllMessagesThread.h"
#include "IOSClearCallsThread.h"
#include "IOSClearSafariThread.h"
#include "KnownDatabases.h"
#include "ManifestMbdb.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>

namespace {
const QString home = QStringLiteral("HomeDomain");
const QString media = QStringLiteral("MediaDomain");
const QString safari = QStringLiteral("AppDomain-com.apple.mobilesafari");

QString name(const QString& domain, const QString& path)
{
    return backupFileName(domain, path);
}

QByteArray sha1Of(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

// No working copy ("<database>-<time>") may be left in the folder.
bool hasWorkingCopies(const QDir& dir)
{
    for (const QString& path : BackupFixture::snapshot(dir).keys()) {
        if (QFileInfo(path).fileName().contains(QLatin1Char('-')))
            return true;
    }
    return false;
}
} // namespace

class TestDataCleaners : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString folder() const { return m_tmp->filePath(QStringLiteral("backup")); }
    QDir dir() const { return QDir(folder()); }

    // Checks a database replaced by a clear pass: its record describes the new file (digest,
    // size, fresh times).
    void verifyRefreshed(const BackupFixture& b, const QString& dbName)
    {
        const ManifestMap map = b.readManifest();
        const MbdbRecord& r = map.value(dbName);
        const MbdbRecord& old = b.records().value(dbName);
        QCOMPARE(r.dataHash.bytes, sha1Of(b.fileOf(dbName)));
        QVERIFY(r.dataHash.bytes != old.dataHash.bytes);
        QCOMPARE(qint64(r.size), QFileInfo(b.fileOf(dbName)).size());
        QVERIFY(r.modifiedTime > old.modifiedTime);
        QCOMPARE(r.changedTime, r.modifiedTime);
        QVERIFY(r.createdTime > old.createdTime);
        QCOMPARE(r.inode, old.inode);
    }

    BackupFixture messagesBackup()
    {
        BackupFixture b(folder());
        FixtureDatabases::createNewerMessages(
            b.filePath(home, QStringLiteral("Library/SMS/sms.db")),
            {{QStringLiteral("~/Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg"), true},
             {QStringLiteral("~/Library/SMS/Attachments/cd/12/GUID-2/IMG_0002.jpeg"), false}});
        b.addExisting(home, QStringLiteral("Library/SMS/sms.db"));
        b.addFile(media, QStringLiteral("Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg"),
                  QByteArray(100, '1'));
        b.addFile(media, QStringLiteral("Library/SMS/Parts/2c/03/35-2.JPG"), QByteArray(40, '2'));
        b.addFolder(media, QStringLiteral("Library/SMS/Attachments/ab"));
        b.addFile(home, QStringLiteral("Library/SMS/Drafts/+15550100/composition.plist"),
                  QByteArray(20, '3'));
        b.addFile(media, QStringLiteral("Library/SMS/Drafts/x.plist"), QByteArray(11, '4'));
        b.addFile(home, QStringLiteral("Library/SMS/Parts/00/01/1-1.jpg"), QByteArray(12, '5'));
        b.addFile(media, QStringLiteral("DCIM/100APPLE/IMG_0001.JPG"), QByteArray(13, '6'));
        b.writeManifest();
        return b;
    }

private slots:
    void init() { m_tmp = std::make_unique<QTemporaryDir>(); }

    void messagesScanChangesNothing()
    {
        const BackupFixture b = messagesBackup();
        const auto before = BackupFixture::snapshot(dir());
        const qint64 dbSize = QFileInfo(b.fileOf(KnownDatabases::messages.fileName())).size();
        const CleanerResult r = runCleaner<IOSClearAllMessagesThread>(dir(), true);
        QVERIFY(r.succeeded);
        QCOMPARE(r.found, dbSize + 100 + 40 + 20);
        QCOMPARE(r.cleared, 0);
        QCOMPARE(BackupFixture::snapshot(dir()), before);
    }

    void messagesClearEmptiesDatabaseAndDropsFiles()
    {
        const BackupFixture b = messagesBackup();
        const QString db = b.fileOf(KnownDatabases::messages.fileName());
        const qint64 dbSize = QFileInfo(db).size();
        QTest::qWait(1100); // so that the refreshed times differ from the fixture's
        const CleanerResult r = runCleaner<IOSClearAllMessagesThread>(dir(), false);
        QVERIFY2(r.succeeded, qPrintable(r.reports.join(QLatin1Char('\n'))));
        QCOMPARE(r.found, dbSize + 160);
        QCOMPARE(r.cleared, r.found);
        for (const char* table : {"message", "chat", "handle", "attachment", "chat_handle_join",
                                  "chat_message_join", "message_attachment_join"})
            QCOMPARE(FixtureDatabases::countRows(db, QLatin1String(table)), 0);
        QCOMPARE(FixtureDatabases::scalar(db, QStringLiteral("select sum(seq) from sqlite_sequence")),
                 QStringLiteral("0"));
        QVERIFY(!hasWorkingCopies(dir()));
        verifyRefreshed(b, KnownDatabases::messages.fileName());

        const ManifestMap map = b.readManifest();
        QVERIFY(
            !map.contains(name(media, QStringLiteral("Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg"))));
        QVERIFY(!map.contains(name(media, QStringLiteral("Library/SMS/Parts/2c/03/35-2.JPG"))));
        QVERIFY(!map.contains(name(media, QStringLiteral("Library/SMS/Attachments/ab"))));
        QVERIFY(!map.contains(name(home, QStringLiteral("Library/SMS/Drafts/+15550100/composition.plist"))));
        QVERIFY(map.contains(name(media, QStringLiteral("Library/SMS/Drafts/x.plist"))));
        QVERIFY(map.contains(name(home, QStringLiteral("Library/SMS/Parts/00/01/1-1.jpg"))));
        QVERIFY(map.contains(name(media, QStringLiteral("DCIM/100APPLE/IMG_0001.JPG"))));
        QCOMPARE(map.size(), b.records().size() - 4);
    }

    void messagesOlderSchema()
    {
        BackupFixture b(folder());
        const QString db = b.filePath(home, QStringLiteral("Library/SMS/sms.db"));
        FixtureDatabases::createOlderMessages(db, {}, {{1, 7, 1, QStringLiteral("a.jpg")}}, false);
        b.addExisting(home, QStringLiteral("Library/SMS/sms.db"));
        b.writeManifest();
        const CleanerResult r = runCleaner<IOSClearAllMessagesThread>(dir(), false);
        QVERIFY(r.succeeded);
        for (const char* table : {"message", "msg_pieces", "group_member", "msg_group"})
            QCOMPARE(FixtureDatabases::countRows(db, QLatin1String(table)), 0);
    }

    void messagesFailuresLeaveBackupUnchanged_data()
    {
        QTest::addColumn<QByteArray>("garbage");
        QTest::newRow("older schema without msg_pieces") << QByteArray();
        QTest::newRow("not a database") << QByteArray(8192, 'z');
    }

    void messagesFailuresLeaveBackupUnchanged()
    {
        QFETCH(QByteArray, garbage);
        BackupFixture b(folder());
        const QString db = b.filePath(home, QStringLiteral("Library/SMS/sms.db"));
        if (garbage.isEmpty()) {
            FixtureDatabases::exec(
                db, QStringLiteral("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT);"
                                   "INSERT INTO message (text) VALUES ('keep me');"));
        } else {
            QFile f(db);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(garbage);
        }
        b.addExisting(home, QStringLiteral("Library/SMS/sms.db"));
        b.addFile(media, QStringLiteral("Library/SMS/Parts/00/01/1-1.jpg"), "x");
        b.writeManifest();
        const QString manifestName = QFileInfo(b.manifestPath()).fileName();
        const QString dbName = b.relativeOf(KnownDatabases::messages.fileName());
        const QByteArray manifestBefore = BackupFixture::snapshot(dir()).value(manifestName);
        const QByteArray dbBefore = BackupFixture::snapshot(dir()).value(dbName);
        const CleanerResult r = runCleaner<IOSClearAllMessagesThread>(dir(), false);
        QVERIFY(!r.succeeded);
        QCOMPARE(r.reports.size(), 1);
        const auto after = BackupFixture::snapshot(dir());
        QCOMPARE(after.value(manifestName), manifestBefore);
        QCOMPARE(after.value(dbName), dbBefore);
    }

    void messagesCancelledWalkKeepsDatabase()
    {
        BackupFixture b = messagesBackup();
        for (int i = 0; i < 60000; ++i)
            b.addSizedRecord(media, QStringLiteral("Library/SMS/Attachments/00/00/G%1/f.jpg").arg(i), 1);
        b.writeManifest();
        const QString dbName = b.relativeOf(KnownDatabases::messages.fileName());
        const QString manifestName = QFileInfo(b.manifestPath()).fileName();
        const QByteArray dbBefore = BackupFixture::snapshot(dir()).value(dbName);
        const QByteArray manifestBefore = BackupFixture::snapshot(dir()).value(manifestName);
        const CleanerResult r = runCleaner<IOSClearAllMessagesThread>(
            dir(), false, [](StepMonitor& monitor) { cancelWhenProgressPasses(monitor, 2); });
        QVERIFY(!r.succeeded);
        QVERIFY(r.reports.isEmpty());
        const auto after = BackupFixture::snapshot(dir());
        QCOMPARE(after.value(dbName), dbBefore);
        QCOMPARE(after.value(manifestName), manifestBefore);
    }

    // Cancel stops the emptying of a database at once, even inside a statement that would run for
    // ever: the working copy is dropped and the backup stays as it was.
    void cancelStopsALongStatement()
    {
        BackupFixture b = messagesBackup();
        const QString db = b.fileOf(KnownDatabases::messages.fileName());
        QString filler = QStringLiteral("CREATE TABLE filler (x);");
        for (int i = 0; i < 2000; ++i)
            filler += QStringLiteral("INSERT INTO filler VALUES (%1);").arg(i);
        FixtureDatabases::exec(db,
                               filler + QStringLiteral("CREATE TRIGGER endless AFTER DELETE ON message BEGIN "
                                                       "SELECT count(*) FROM filler a, filler b, filler c, "
                                                       "filler d; END;"));
        b.addExisting(home, QStringLiteral("Library/SMS/sms.db"));
        b.writeManifest();
        const auto before = BackupFixture::snapshot(dir());
        const CleanerResult r =
            runCleaner<IOSClearAllMessagesThread>(dir(), false, [this](StepMonitor& monitor) {
                // Cancel as soon as the working copy is being edited.
                auto* poll = new QTimer(&monitor);
                QObject::connect(poll, &QTimer::timeout, &monitor, [this, &monitor] {
                    if (hasWorkingCopies(dir()))
                        monitor.cancel();
                });
                poll->start(5);
            });
        QVERIFY(!r.succeeded);
        QVERIFY(r.reports.isEmpty());
        QCOMPARE(BackupFixture::snapshot(dir()), before);
    }

    void diskFullWhileCopyingTheDatabase()
    {
        const BackupFixture b = messagesBackup();
        const auto before = BackupFixture::snapshot(dir());
        // A file size limit makes the working copy's writes fail as a full disk would.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limited = old;
        limited.rlim_cur = 8192;
        setrlimit(RLIMIT_FSIZE, &limited);
        const CleanerResult r = runCleaner<IOSClearAllMessagesThread>(dir(), false);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!r.succeeded);
        QVERIFY2(r.reports.value(0).contains(QStringLiteral("cant copy sms db to ")),
                 qPrintable(r.reports.value(0)));
        auto after = BackupFixture::snapshot(dir());
        // Whatever part of a working copy got written is left beside the database, never in its place.
        for (const QString& key : after.keys()) {
            if (!before.contains(key))
                after.remove(key);
        }
        QCOMPARE(after, before);
    }

    void messagesMissingDatabaseIsNotAnError()
    {
        BackupFixture b(folder());
        b.addFile(media, QStringLiteral("Library/SMS/Parts/00/01/1-1.jpg"), "x");
        b.writeManifest();
        const auto before = BackupFixture::snapshot(dir());
        const CleanerResult r = runCleaner<IOSClearAllMessagesThread>(dir(), false);
        QVERIFY(r.succeeded);
        QCOMPARE(r.found, 0);
        QCOMPARE(BackupFixture::snapshot(dir()), before);
    }

    void safariWithoutHistoryDatabase()
    {
        BackupFixture b(folder());
        b.addFile(safari, QStringLiteral("Library/Safari/Thumbnails/a.png"), QByteArray(100, 't'));
        b.addFile(safari, QStringLiteral("Library/Safari/History.plist.old"), QByteArray(10, 'h'));
        b.addFile(safari, QStringLiteral("Library/WebKit/WebsiteData/LocalStorage/https_x.localstorage"),
                  QByteArray(20, 'l'));
        b.addFile(QStringLiteral("appdomain-com.apple.mobilesafari"),
                  QStringLiteral("Library/Safari/Thumbnails/b.png"), QByteArray(30, 't'));
        b.addFile(safari, QStringLiteral("library/safari/thumbnails/x.png"), QByteArray(40, 'x'));
        b.addFile(home, QStringLiteral("Library/Safari/Thumbnails/c.png"), QByteArray(50, 'y'));
        b.addFile(safari, QStringLiteral("Library/Safari/Bookmarks.db"), QByteArray(60, 'b'));
        b.writeManifest();
        const CleanerResult r = runCleaner<IOSClearSafariThread>(dir(), false);
        QVERIFY(r.succeeded);
        QCOMPARE(r.found, 160);
        QCOMPARE(r.cleared, 160);
        const ManifestMap map = b.readManifest();
        QCOMPARE(map.size(), 3);
        QVERIFY(map.contains(name(safari, QStringLiteral("library/safari/thumbnails/x.png"))));
        QVERIFY(map.contains(name(home, QStringLiteral("Library/Safari/Thumbnails/c.png"))));
        QVERIFY(map.contains(name(safari, QStringLiteral("Library/Safari/Bookmarks.db"))));
    }

    void safariHistoryEmptied()
    {
        BackupFixture b(folder());
        const QString db = b.filePath(safari, QStringLiteral("Library/Safari/History.db"));
        FixtureDatabases::createSafariHistory(db, 8);
        b.addExisting(safari, QStringLiteral("Library/Safari/History.db"));
        b.addFile(safari, QStringLiteral("Library/Safari/Thumbnails/a.png"), QByteArray(100, 't'));
        b.writeManifest();
        const qint64 dbSize = QFileInfo(db).size();
        const auto before = BackupFixture::snapshot(dir());

        const CleanerResult scan = runCleaner<IOSClearSafariThread>(dir(), true);
        QCOMPARE(scan.found, dbSize + 100);
        QCOMPARE(BackupFixture::snapshot(dir()), before);

        QTest::qWait(1100);
        const CleanerResult r = runCleaner<IOSClearSafariThread>(dir(), false);
        QVERIFY(r.succeeded);
        QCOMPARE(r.cleared, dbSize + 100);
        for (const char* table : {"history_items", "history_visits", "history_tombstones", "metadata"})
            QCOMPARE(FixtureDatabases::countRows(db, QLatin1String(table)), 0);
        QVERIFY(!hasWorkingCopies(dir()));
        verifyRefreshed(b, KnownDatabases::safariHistory.fileName());
    }

    void safariHistoryWithoutATableFails()
    {
        BackupFixture b(folder());
        const QString db = b.filePath(safari, QStringLiteral("Library/Safari/History.db"));
        FixtureDatabases::createSafariHistory(db, 2);
        FixtureDatabases::exec(db, QStringLiteral("DROP TABLE metadata;"));
        b.addExisting(safari, QStringLiteral("Library/Safari/History.db"));
        b.addFile(safari, QStringLiteral("Library/Safari/Thumbnails/a.png"), "t");
        b.writeManifest();
        const QString manifestName = QFileInfo(b.manifestPath()).fileName();
        const QString dbName = b.relativeOf(KnownDatabases::safariHistory.fileName());
        const auto manifestBefore = BackupFixture::snapshot(dir()).value(manifestName);
        const auto dbBefore = BackupFixture::snapshot(dir()).value(dbName);
        const CleanerResult r = runCleaner<IOSClearSafariThread>(dir(), false);
        QVERIFY(!r.succeeded);
        QVERIFY(r.reports.value(0).contains(QStringLiteral("no such table: metadata")));
        const auto after = BackupFixture::snapshot(dir());
        QCOMPARE(after.value(manifestName), manifestBefore);
        QCOMPARE(after.value(dbName), dbBefore);
    }

    // A database file the manifest does not list is emptied, but no record without a domain and a
    // path is made up for it.
    void databaseWithoutRecordGetsNoMadeUpRecord()
    {
        BackupFixture b(folder());
        const QString store = b.fileOf(KnownDatabases::callHistoryStore.fileName());
        FixtureDatabases::createCallHistoryStore(store, 3);
        b.addFile(home, QStringLiteral("Library/Preferences/a.plist"), "p");
        b.writeManifest();
        const CleanerResult r = runCleaner<IOSClearCallsThread>(dir(), false);
        QVERIFY(r.succeeded);
        QCOMPARE(FixtureDatabases::countRows(store, QStringLiteral("ZCALLRECORD")), 0);
        const ManifestMap map = b.readManifest();
        QCOMPARE(map.size(), 1);
        for (const MbdbRecord& record : map) {
            QVERIFY(!record.domain.toText().isEmpty());
            QVERIFY(!record.path.toText().isEmpty());
        }
    }

    // A Free Up runs its cleaners on one edit: the manifest is read once and written once, after
    // the last of them, and until then the folder is marked as not whole.
    void cleanersOfOneFlowShareOneEdit()
    {
        BackupFixture b = messagesBackup();
        const QString historyDb = b.filePath(safari, QStringLiteral("Library/Safari/History.db"));
        FixtureDatabases::createSafariHistory(historyDb, 8);
        b.addExisting(safari, QStringLiteral("Library/Safari/History.db"));
        b.addFile(safari, QStringLiteral("Library/Safari/Thumbnails/a.png"), QByteArray(100, 't'));
        b.writeManifest();
        const QString manifestPath = b.format() == BackupFixture::Format::Mbdb
                                         ? QStringLiteral("Manifest.mbdb")
                                         : QStringLiteral("Manifest.db");
        const QByteArray manifestBefore = BackupFixture::snapshot(dir()).value(manifestPath);
        QVERIFY(!manifestBefore.isEmpty());
        const qint64 smsSize = QFileInfo(b.fileOf(KnownDatabases::messages.fileName())).size();
        const qint64 historySize = QFileInfo(historyDb).size();

        {
            BackupEdit scan(dir());
            const auto before = BackupFixture::snapshot(dir());
            QCOMPARE(runCleaner<IOSClearAllMessagesThread>(scan, true).found, smsSize + 160);
            QCOMPARE(runCleaner<IOSClearSafariThread>(scan, true).found, historySize + 100);
            QCOMPARE(BackupFixture::snapshot(dir()), before);
        }

        QTest::qWait(1100);
        BackupEdit edit(dir());
        const CleanerResult messages = runCleaner<IOSClearAllMessagesThread>(edit, false);
        QVERIFY(messages.succeeded);
        QCOMPARE(messages.cleared, smsSize + 160);
        QCOMPARE(BackupStatus::snapshotState(dir()), QStringLiteral("uncommitted"));
        QCOMPARE(BackupFixture::snapshot(dir()).value(manifestPath), manifestBefore);
        const CleanerResult history = runCleaner<IOSClearSafariThread>(edit, false);
        QVERIFY(history.succeeded);
        QCOMPARE(history.cleared, historySize + 100);
        QCOMPARE(BackupFixture::snapshot(dir()).value(manifestPath), manifestBefore);

        StepMonitor monitor;
        BackupEditThread save(edit, &monitor, nullptr);
        QVERIFY(runWorker(save, monitor).succeeded);
        QVERIFY(BackupStatus::snapshotState(dir()) != QLatin1String("uncommitted"));
        const ManifestMap map = b.readManifest();
        QCOMPARE(map.size(), b.records().size() - 5);
        QVERIFY(!map.contains(name(safari, QStringLiteral("Library/Safari/Thumbnails/a.png"))));
        QVERIFY(!map.contains(name(media, QStringLiteral("Library/SMS/Parts/2c/03/35-2.JPG"))));
        verifyRefreshed(b, KnownDatabases::messages.fileName());
        verifyRefreshed(b, KnownDatabases::safariHistory.fileName());
    }

    // A cleaner that fails after another changed the folder leaves it marked, and the manifest
    // as it was: nothing restores or builds on that backup.
    void aFailedCleanerOfAFlowLeavesTheFolderMarked()
    {
        BackupFixture b = messagesBackup();
        const QString historyDb = b.filePath(safari, QStringLiteral("Library/Safari/History.db"));
        FixtureDatabases::createSafariHistory(historyDb, 2);
        FixtureDatabases::exec(historyDb, QStringLiteral("DROP TABLE metadata;"));
        b.addExisting(safari, QStringLiteral("Library/Safari/History.db"));
        b.writeManifest();
        const ManifestMap before = b.readManifest();

        BackupEdit edit(dir());
        QVERIFY(runCleaner<IOSClearAllMessagesThread>(edit, false).succeeded);
        const CleanerResult history = runCleaner<IOSClearSafariThread>(edit, false);
        QVERIFY(!history.succeeded);
        QVERIFY(history.reports.join(QString()).contains(QStringLiteral("Your device was not changed.")));
        QCOMPARE(BackupStatus::snapshotState(dir()), QStringLiteral("uncommitted"));
        QVERIFY(!BackupStatus::isFinished(dir()));
        const ManifestMap after = b.readManifest();
        QCOMPARE(QSet<QString>(after.keyBegin(), after.keyEnd()),
                 QSet<QString>(before.keyBegin(), before.keyEnd()));
        QVERIFY(!hasWorkingCopies(dir()));
    }

    void callsEitherOrBothDatabases_data()
    {
        QTest::addColumn<bool>("first");
        QTest::addColumn<bool>("second");
        QTest::newRow("neither") << false << false;
        QTest::newRow("only the store") << false << true;
        QTest::newRow("both") << true << true;
    }

    void callsEitherOrBothDatabases()
    {
        QFETCH(bool, first);
        QFETCH(bool, second);
        BackupFixture b(folder());
        const QString wireless = QStringLiteral("WirelessDomain");
        const QString firstDb = b.filePath(wireless, QStringLiteral("Library/CallHistory/call_history.db"));
        const QString secondDb =
            b.filePath(home, QStringLiteral("Library/CallHistoryDB/CallHistory.storedata"));
        qint64 expected = 0;
        if (first) {
            FixtureDatabases::createCallHistory(firstDb, 6);
            b.addExisting(wireless, QStringLiteral("Library/CallHistory/call_history.db"));
            expected += QFileInfo(firstDb).size();
        }
        if (second) {
            FixtureDatabases::createCallHistoryStore(secondDb, 6);
            b.addExisting(home, QStringLiteral("Library/CallHistoryDB/CallHistory.storedata"));
            expected += QFileInfo(secondDb).size();
        }
        b.addFile(home, QStringLiteral("Library/Preferences/a.plist"), "p");
        b.writeManifest();

        const CleanerResult scan = runCleaner<IOSClearCallsThread>(dir(), true);
        QCOMPARE(scan.found, expected);
        QTest::qWait(first || second ? 1100 : 0);
        const CleanerResult r = runCleaner<IOSClearCallsThread>(dir(), false);
        QVERIFY(r.succeeded);
        QCOMPARE(r.found, expected);
        QCOMPARE(r.cleared, expected);
        QVERIFY(!hasWorkingCopies(dir()));
        const ManifestMap map = b.readManifest();
        QCOMPARE(map.size(), b.records().size());
        if (first) {
            QCOMPARE(FixtureDatabases::countRows(firstDb, QStringLiteral("call")), 0);
            verifyRefreshed(b, KnownDatabases::callHistory.fileName());
        }
        if (second) {
            QCOMPARE(FixtureDatabases::countRows(secondDb, QStringLiteral("ZCALLRECORD")), 0);
            QCOMPARE(FixtureDatabases::countRows(secondDb, QStringLiteral("ZCALLDBPROPERTIES")), 0);
            QCOMPARE(
                FixtureDatabases::scalar(secondDb, QStringLiteral("select sum(Z_MAX) from Z_PRIMARYKEY")),
                QStringLiteral("0"));
            verifyRefreshed(b, KnownDatabases::callHistoryStore.fileName());
        }
        if (!first)
            QVERIFY(!map.contains(KnownDatabases::callHistory.fileName()));
    }
};

QTEST_GUILESS_MAIN(TestDataCleaners)
#include "TestDataCleaners.moc"
