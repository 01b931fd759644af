// The five cleaners on backups as phones make them: an iOS 9 backup (Manifest.mbdb, the messages
// database of iOS 6 to 9, Safari's history in its own domain) and an iOS 14 and later backup
// (Manifest.db, the messages database Messages writes today with its app-only trigger functions
// and "Recently Deleted" tables, a write-ahead log beside it holding rows not yet in the main file,
// Safari's history in the home domain, the Core Data call history).
#include "BackupFileName.h"
#include "BackupFixture.h"
#include "BackupStatus.h"
#include "CleanerRun.h"
#include "FixtureDatabases.h"
#include "IOSClearAllMessagesThread.h"
#include "IOSClearCallsThread.h"
#include "IOSClearMMSAttaThread.h"
#include "IOSClearSafariThread.h"
#include "IOSClearSysThread.h"
#include "IOSMobileBackupThread.h"
#include "KnownDatabases.h"
#include "SimDeviceFolder.h"
#include "SqliteFiles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {
const QString home = QStringLiteral("HomeDomain");
const QString media = QStringLiteral("MediaDomain");
const QString safariDomain = QStringLiteral("AppDomain-com.apple.mobilesafari");
const QString smsPath = QStringLiteral("Library/SMS/sms.db");
const QString logAttachment = QStringLiteral("Library/SMS/Attachments/77/07/GUID-LOG/IMG_LOG.jpeg");

enum class Phone
{
    Ios9,
    Ios14
};

using Run = CleanerResult (*)(const QDir&, bool);
template <class Cleaner> CleanerResult runPass(const QDir& dir, bool scanOnly)
{
    return runCleaner<Cleaner>(dir, scanOnly);
}

QByteArray sha1Of(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

// Tables, indexes and triggers of a database, by type and name.
QStringList schemaObjects(const QString& db)
{
    return FixtureDatabases::column(
        db, QStringLiteral("select type || ' ' || name from sqlite_master order by 1"));
}

// What a phone would open after a restore: the file, with a log only where the manifest still lists one.
QString asRestored(const BackupFixture& b, const ManifestMap& map, const BackupDatabase& database,
                   const QString& into)
{
    QDir().mkpath(into);
    const QString target =
        QDir(into).filePath(QString::fromLatin1(database.path).section(QLatin1Char('/'), -1));
    QFile::copy(b.fileOf(database.fileName()), target);
    for (const char* suffix : {"-wal", "-shm"}) {
        if (map.contains(database.sideFileName(suffix)))
            QFile::copy(b.fileOf(database.sideFileName(suffix)), target + QLatin1String(suffix));
    }
    return target;
}

qint64 sizeOf(const BackupFixture& b, const BackupDatabase& database)
{
    qint64 size = 0;
    for (const QString& name :
         {database.fileName(), database.sideFileName("-wal"), database.sideFileName("-shm")}) {
        if (b.records().contains(name))
            size += QFileInfo(b.fileOf(name)).size();
    }
    return size;
}
} // namespace

class TestPhoneBackups : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString folder() const { return m_tmp->filePath(QStringLiteral("backup")); }
    QDir dir() const { return QDir(folder()); }

    // Sizes of the files each cleaner frees in the backup that phoneBackup builds.
    QHash<QString, qint64> m_expected;
    // The databases each cleaner empties, with the tables left without rows.
    QMap<QString, QMap<QString, QStringList>> m_emptied;

    BackupFixture phoneBackup(Phone phone)
    {
        BackupFixture b(folder(),
                        phone == Phone::Ios9 ? BackupFixture::Format::Mbdb : BackupFixture::Format::Db);
        m_expected.clear();
        m_emptied.clear();
        auto add = [&](const QString& cleaner, const QString& domain, const QString& path, int size) {
            b.addFile(domain, path, QByteArray(size, char('a' + size % 26)));
            if (!cleaner.isEmpty())
                m_expected[cleaner] += size;
        };
        add(QStringLiteral("sys"), home, QStringLiteral("Library/Caches/com.apple.Maps/cache.db"), 1000);
        add(QStringLiteral("sys"), QStringLiteral("RootDomain"),
            QStringLiteral("Library/Caches/locationd/a.db"), 300);
        add(QString(), home, QStringLiteral("Library/Preferences/com.apple.springboard.plist"), 90);

        // Messages: one attachment in use, one orphan, a part (orphaned under the newer schema), a draft.
        const QString sms = b.filePath(home, smsPath);
        const QList<FixtureDatabases::Attachment> attachments = {
            {QStringLiteral("~/Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg"), true},
            {QStringLiteral("~/Library/SMS/Attachments/cd/12/GUID-2/IMG_0002.jpeg"), false}};
        if (phone == Phone::Ios9) {
            FixtureDatabases::createNewerMessages(sms, attachments, false);
        } else {
            FixtureDatabases::createCurrentMessages(sms, attachments);
            FixtureDatabases::addMessageInLog(sms, QStringLiteral("Only in the log"),
                                              {QStringLiteral("~/") + logAttachment});
        }
        b.addDatabase(home, smsPath);
        m_expected[QStringLiteral("messages")] += sizeOf(b, KnownDatabases::messages);
        add(QStringLiteral("messages"), media,
            QStringLiteral("Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg"), 500);
        add(QStringLiteral("junk+messages"), media,
            QStringLiteral("Library/SMS/Attachments/cd/12/GUID-2/IMG_0002.jpeg"), 700);
        add(QStringLiteral("junk+messages"), media, QStringLiteral("Library/SMS/Parts/2c/03/35-2.jpg"), 40);
        add(QStringLiteral("messages"), home,
            QStringLiteral("Library/SMS/Drafts/+15550100/composition.plist"), 20);
        if (phone == Phone::Ios14)
            add(QStringLiteral("messages"), media, logAttachment, 600);
        QStringList messageTables = {QStringLiteral("message"),
                                     QStringLiteral("chat"),
                                     QStringLiteral("handle"),
                                     QStringLiteral("attachment"),
                                     QStringLiteral("chat_handle_join"),
                                     QStringLiteral("chat_message_join"),
                                     QStringLiteral("message_attachment_join")};
        if (phone == Phone::Ios14)
            messageTables << QStringLiteral("chat_recoverable_message_join")
                          << QStringLiteral("recoverable_message_part") << QStringLiteral("chat_lookup")
                          << QStringLiteral("chat_service") << QStringLiteral("sync_chat_slice");
        m_emptied[QStringLiteral("messages")][KnownDatabases::messages.fileName()] = messageTables;

        // Safari: the history database where this phone keeps it, thumbnails and website storage.
        const BackupDatabase& history =
            phone == Phone::Ios9 ? KnownDatabases::safariHistory : KnownDatabases::safariHistoryHome;
        FixtureDatabases::createSafariHistory(b.fileOf(history.fileName()), 6, phone == Phone::Ios14);
        b.addDatabase(QLatin1String(history.domain), QLatin1String(history.path));
        m_expected[QStringLiteral("safari")] += sizeOf(b, history);
        add(QStringLiteral("safari"), safariDomain, QStringLiteral("Library/Safari/Thumbnails/TAB-1.png"),
            60);
        add(QStringLiteral("safari"), safariDomain,
            QStringLiteral("Library/WebKit/WebsiteData/LocalStorage/https_a.example.com_0.localstorage"), 90);
        QStringList historyTables = {QStringLiteral("history_items"), QStringLiteral("history_visits"),
                                     QStringLiteral("history_tombstones"), QStringLiteral("metadata")};
        if (phone == Phone::Ios14)
            historyTables << QStringLiteral("history_items_to_tags") << QStringLiteral("history_tags")
                          << QStringLiteral("history_events");
        m_emptied[QStringLiteral("safari")][history.fileName()] = historyTables;

        // Call history: iOS 9 still has the older database beside the Core Data store.
        if (phone == Phone::Ios9) {
            FixtureDatabases::createCallHistory(b.fileOf(KnownDatabases::callHistory.fileName()), 5);
            b.addDatabase(QLatin1String(KnownDatabases::callHistory.domain),
                          QLatin1String(KnownDatabases::callHistory.path));
            m_expected[QStringLiteral("calls")] += sizeOf(b, KnownDatabases::callHistory);
            m_emptied[QStringLiteral("calls")][KnownDatabases::callHistory.fileName()] = {
                QStringLiteral("call")};
        }
        const QString store = b.fileOf(KnownDatabases::callHistoryStore.fileName());
        FixtureDatabases::createCallHistoryStore(store, 5);
        if (phone == Phone::Ios14)
            FixtureDatabases::exec(store, QStringLiteral("PRAGMA journal_mode=WAL;"));
        b.addDatabase(home, QLatin1String(KnownDatabases::callHistoryStore.path));
        m_expected[QStringLiteral("calls")] += sizeOf(b, KnownDatabases::callHistoryStore);
        m_emptied[QStringLiteral("calls")][KnownDatabases::callHistoryStore.fileName()] = {
            QStringLiteral("ZCALLRECORD"), QStringLiteral("ZCALLDBPROPERTIES")};

        b.writeManifest();
        // Current phones' manifests use a log too: reading one must not leave its side files.
        if (phone == Phone::Ios14)
            FixtureDatabases::exec(b.manifestPath(), QStringLiteral("PRAGMA journal_mode=WAL;"));
        writeBackupLists(b, phone == Phone::Ios9 ? QStringLiteral("9.3.5") : QStringLiteral("14.8"), false);
        return b;
    }

    static void writeBackupLists(const BackupFixture& b, const QString& version, bool encrypted)
    {
        SimDeviceFolder::writeFile(
            b.dir().filePath(QStringLiteral("Status.plist")),
            toPlistXml(QVariantMap{{QStringLiteral("SnapshotState"), QStringLiteral("finished")}}));
        SimDeviceFolder::writeFile(
            b.dir().filePath(QStringLiteral("Manifest.plist")),
            toPlistXml(QVariantMap{
                {QStringLiteral("IsEncrypted"), encrypted},
                {QStringLiteral("Lockdown"), QVariantMap{{QStringLiteral("ProductVersion"), version}}}}));
    }

    // Files the cleaners made beside the backup's own: working copies ("<name>-<time>" and their
    // side files), copies read with a log, and the manifest's log. A rollback journal that SQLite
    // leaves after a failed write is its own way back, not ours to remove.
    static QStringList workingCopies(const QDir& dir)
    {
        QStringList copies;
        for (const QString& path : BackupFixture::snapshot(dir).keys()) {
            const QString name = QFileInfo(path).fileName();
            if ((name.contains(QLatin1Char('-')) || name.contains(QLatin1String(".reading"))) &&
                name != QLatin1String("Manifest.db-journal"))
                copies << path;
        }
        return copies;
    }

private slots:
    void init() { m_tmp = std::make_unique<QTemporaryDir>(); }

    void eachCleaner_data()
    {
        QTest::addColumn<int>("phone");
        QTest::addColumn<QString>("cleaner");
        for (Phone phone : {Phone::Ios9, Phone::Ios14}) {
            const char* name = phone == Phone::Ios9 ? "iOS 9" : "iOS 14";
            for (const char* cleaner : {"sys", "junk", "messages", "safari", "calls"})
                QTest::addRow("%s, %s", name, cleaner) << int(phone) << QString::fromLatin1(cleaner);
        }
    }

    void eachCleaner()
    {
        QFETCH(int, phone);
        QFETCH(QString, cleaner);
        const QMap<QString, Run> runs = {{QStringLiteral("sys"), runPass<IOSClearSysThread>},
                                         {QStringLiteral("junk"), runPass<IOSClearMMSAttaThread>},
                                         {QStringLiteral("messages"), runPass<IOSClearAllMessagesThread>},
                                         {QStringLiteral("safari"), runPass<IOSClearSafariThread>},
                                         {QStringLiteral("calls"), runPass<IOSClearCallsThread>}};
        const BackupFixture b = phoneBackup(Phone(phone));
        qint64 expected = m_expected.value(cleaner);
        for (auto it = m_expected.cbegin(); it != m_expected.cend(); ++it) {
            if (it.key().contains(QLatin1Char('+')) && it.key().split(QLatin1Char('+')).contains(cleaner))
                expected += it.value();
        }
        const auto before = BackupFixture::snapshot(dir());
        QMap<QString, QStringList> schemasBefore;
        for (const QString& db : m_emptied.value(cleaner).keys())
            schemasBefore[db] = schemaObjects(b.fileOf(db));

        const CleanerResult scan = runs[cleaner](dir(), true);
        QVERIFY2(scan.succeeded, qPrintable(scan.reports.join(QLatin1Char('\n'))));
        QCOMPARE(scan.found, expected);
        QCOMPARE(BackupFixture::snapshot(dir()), before);

        QTest::qWait(1100); // so that refreshed times differ from the fixture's
        const CleanerResult clear = runs[cleaner](dir(), false);
        QVERIFY2(clear.succeeded, qPrintable(clear.reports.join(QLatin1Char('\n'))));
        QCOMPARE(clear.found, expected);
        QCOMPARE(clear.cleared, expected);
        QCOMPARE(workingCopies(dir()), QStringList());
        QVERIFY(BackupStatus::isFinished(dir()));
        const ManifestMap map = b.readManifest();
        const auto emptied = m_emptied.value(cleaner);
        for (auto it = emptied.cbegin(); it != emptied.cend(); ++it) {
            const QString db = b.fileOf(it.key());
            QCOMPARE(FixtureDatabases::scalar(db, QStringLiteral("pragma integrity_check")),
                     QStringLiteral("ok"));
            QCOMPARE(schemaObjects(db), schemasBefore.value(it.key()));
            for (const QString& table : it.value())
                QVERIFY2(FixtureDatabases::countRows(db, table) == 0, qPrintable(table));
            const MbdbRecord& r = map.value(it.key());
            QCOMPARE(r.dataHash.bytes, sha1Of(db));
            QCOMPARE(qint64(r.size), QFileInfo(db).size());
            QVERIFY(r.modifiedTime > b.records().value(it.key()).modifiedTime);
            QCOMPARE(r.changedTime, r.modifiedTime);
            QVERIFY(r.createdTime > b.records().value(it.key()).createdTime);
        }
        // No record of a log is left whose rows the emptied database does not hold.
        for (const BackupDatabase& database : KnownDatabases::all) {
            if (emptied.contains(database.fileName()))
                for (const char* suffix : {"-wal", "-shm"})
                    QVERIFY(!map.contains(database.sideFileName(suffix)));
        }
        // A manifest with a log is one file afterwards.
        QVERIFY(!QFileInfo::exists(b.manifestPath() + QStringLiteral("-wal")));
        QVERIFY(!QFileInfo::exists(b.manifestPath() + QStringLiteral("-shm")));
        if (cleaner == QLatin1String("junk")) {
            // Only read: an attachment that only the log's rows refer to stays.
            QCOMPARE(BackupFixture::snapshot(dir()).value(b.relativeOf(KnownDatabases::messages.fileName())),
                     before.value(b.relativeOf(KnownDatabases::messages.fileName())));
            QVERIFY(map.contains(
                backupFileName(media, QStringLiteral("Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg"))));
            QCOMPARE(map.contains(backupFileName(media, logAttachment)), Phone(phone) == Phone::Ios14);
        }
    }

    void messagesAsThePhoneWouldDeleteThem()
    {
        const BackupFixture b = phoneBackup(Phone::Ios14);
        const QString sms = b.fileOf(KnownDatabases::messages.fileName());
        QStringList guids;
        {
            // What the phone holds, log included.
            QTemporaryDir look;
            guids =
                FixtureDatabases::column(asRestored(b, b.records(), KnownDatabases::messages, look.path()),
                                         QStringLiteral("select guid from message order by guid"));
        }
        QVERIFY(guids.contains(QStringLiteral("M-LOG-6")));
        const CleanerResult r = runCleaner<IOSClearAllMessagesThread>(dir(), false);
        QVERIFY2(r.succeeded, qPrintable(r.reports.join(QLatin1Char('\n'))));

        // The triggers recorded every deletion, the message that was only in the log included.
        QCOMPARE(
            FixtureDatabases::column(sms, QStringLiteral("select guid from deleted_messages order by guid")),
            guids);
        QCOMPARE(FixtureDatabases::column(
                     sms, QStringLiteral("select guid from sync_deleted_messages order by guid")),
                 guids);
        QCOMPARE(FixtureDatabases::countRows(sms, QStringLiteral("sync_deleted_attachments")), 3);
        // Bookkeeping that points at no chat or message stays.
        QCOMPARE(FixtureDatabases::countRows(sms, QStringLiteral("message_processing_task")), 1);
        QCOMPARE(FixtureDatabases::countRows(sms, QStringLiteral("kvtable")), 1);

        // The phone gets the emptied file and no old log to replay over it.
        QTemporaryDir restored;
        const QString onPhone = asRestored(b, b.readManifest(), KnownDatabases::messages, restored.path());
        QCOMPARE(FixtureDatabases::scalar(onPhone, QStringLiteral("pragma integrity_check")),
                 QStringLiteral("ok"));
        QCOMPARE(FixtureDatabases::countRows(onPhone, QStringLiteral("message")), 0);
        QVERIFY(SqliteFiles::usesWal(onPhone));
    }

    void madeUpTriggerFunctionsDoNotStopTheClearPass_data()
    {
        QTest::addColumn<QString>("cleaner");
        QTest::newRow("messages") << QStringLiteral("messages");
        QTest::newRow("safari") << QStringLiteral("safari");
        QTest::newRow("calls") << QStringLiteral("calls");
    }

    void madeUpTriggerFunctionsDoNotStopTheClearPass()
    {
        QFETCH(QString, cleaner);
        BackupFixture b = phoneBackup(Phone::Ios14);
        // A function some future iOS might call from a trigger, unknown to this program.
        const QString trigger = QStringLiteral("CREATE TRIGGER zz_future AFTER DELETE ON %1 BEGIN SELECT "
                                               "qx_future_cleanup_7f3a(OLD.rowid, 'x'); END;");
        const QMap<QString, QPair<BackupDatabase, QString>> targets = {
            {QStringLiteral("messages"), {KnownDatabases::messages, QStringLiteral("message")}},
            {QStringLiteral("safari"), {KnownDatabases::safariHistoryHome, QStringLiteral("history_visits")}},
            {QStringLiteral("calls"), {KnownDatabases::callHistoryStore, QStringLiteral("ZCALLRECORD")}}};
        const auto target = targets.value(cleaner);
        const QString db = b.fileOf(target.first.fileName());
        // The database's log (if any) goes back in place to add the trigger, then out again.
        QFile::rename(b.fileOf(target.first.sideFileName("-wal")), db + QStringLiteral("-wal"));
        FixtureDatabases::exec(db, trigger.arg(target.second));
        b.addDatabase(QLatin1String(target.first.domain), QLatin1String(target.first.path));
        b.writeManifest();

        const QMap<QString, Run> runs = {{QStringLiteral("messages"), runPass<IOSClearAllMessagesThread>},
                                         {QStringLiteral("safari"), runPass<IOSClearSafariThread>},
                                         {QStringLiteral("calls"), runPass<IOSClearCallsThread>}};
        const CleanerResult r = runs[cleaner](dir(), false);
        QVERIFY2(r.succeeded, qPrintable(r.reports.join(QLatin1Char('\n'))));
        QCOMPARE(FixtureDatabases::countRows(db, target.second), 0);
        QVERIFY(schemaObjects(db).contains(QStringLiteral("trigger zz_future")));
    }

    void safariHistoryInBothPlaces()
    {
        BackupFixture b(folder());
        const QString older = b.fileOf(KnownDatabases::safariHistory.fileName());
        const QString newer = b.fileOf(KnownDatabases::safariHistoryHome.fileName());
        FixtureDatabases::createSafariHistory(older, 3);
        FixtureDatabases::createSafariHistory(newer, 4, true);
        b.addDatabase(safariDomain, QStringLiteral("Library/Safari/History.db"));
        b.addDatabase(home, QStringLiteral("Library/Safari/History.db"));
        b.writeManifest();
        const qint64 both = QFileInfo(older).size() + QFileInfo(newer).size();
        QCOMPARE(runCleaner<IOSClearSafariThread>(dir(), true).found, both);
        const CleanerResult r = runCleaner<IOSClearSafariThread>(dir(), false);
        QVERIFY(r.succeeded);
        QCOMPARE(r.cleared, both);
        for (const QString& db : {older, newer})
            QCOMPARE(FixtureDatabases::countRows(db, QStringLiteral("history_visits")), 0);
        QCOMPARE(FixtureDatabases::countRows(newer, QStringLiteral("history_items_to_tags")), 0);
        // Safari's own bookkeeping of its clients is no history.
        QCOMPARE(FixtureDatabases::countRows(newer, QStringLiteral("history_client_versions")), 2);
    }

    void neitherMessagesLayoutIsAClearError()
    {
        BackupFixture b(folder());
        FixtureDatabases::exec(b.filePath(home, smsPath),
                               QStringLiteral("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT);"
                                              "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY);"));
        b.addDatabase(home, smsPath);
        b.writeManifest();
        const auto before = BackupFixture::snapshot(dir());
        const CleanerResult r = runCleaner<IOSClearAllMessagesThread>(dir(), false);
        QVERIFY(!r.succeeded);
        QVERIFY2(r.reports.value(0).contains(QStringLiteral("lacks the tables handle, chat_handle_join, "
                                                            "chat_message_join of iOS 6 and later")),
                 qPrintable(r.reports.value(0)));
        QVERIFY(r.reports.value(0).contains(QStringLiteral("Your device was not changed.")));
        QCOMPARE(BackupFixture::snapshot(dir()), before);
    }

    void failureHalfWayLeavesABackupNothingUses_data()
    {
        QTest::addColumn<int>("phone");
        QTest::newRow("iOS 9") << int(Phone::Ios9);
        QTest::newRow("iOS 14") << int(Phone::Ios14);
    }

    void failureHalfWayLeavesABackupNothingUses()
    {
        QFETCH(int, phone);
        BackupFixture b = phoneBackup(Phone(phone));
        // Enough records that the manifest cannot be written under the file size limit below,
        // while the database's working copy can.
        for (int i = 0; i < 60000; ++i)
            b.addSizedRecord(QStringLiteral("CameraRollDomain"),
                             QStringLiteral("Media/DCIM/100APPLE/IMG_%1.JPG").arg(i), 1);
        b.writeManifest();
        const QString version =
            Phone(phone) == Phone::Ios9 ? QStringLiteral("9.3.5") : QStringLiteral("14.8");
        QVERIFY(IOSMobileBackupThread::isReusableBackup(dir(), version));

        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limited = old;
        limited.rlim_cur = 2 * 1024 * 1024;
        setrlimit(RLIMIT_FSIZE, &limited);
        const CleanerResult r = runCleaner<IOSClearAllMessagesThread>(dir(), false);
        setrlimit(RLIMIT_FSIZE, &old);

        QVERIFY(!r.succeeded);
        QCOMPARE(r.reports.size(), 1);
        QVERIFY2(r.reports.at(0).contains(QStringLiteral("Your device was not changed.")),
                 qPrintable(r.reports.at(0)));
        QCOMPARE(BackupStatus::snapshotState(dir()), QStringLiteral("uncommitted"));
        QVERIFY(!IOSMobileBackupThread::isReusableBackup(dir(), version));
        QVERIFY2(workingCopies(dir()).isEmpty(), qPrintable(workingCopies(dir()).join(QLatin1Char(' '))));
    }

    void encryptedBackupsAreRefusedUntouched_data()
    {
        QTest::addColumn<int>("phone");
        QTest::newRow("Manifest.mbdb") << int(Phone::Ios9);
        QTest::newRow("Manifest.db") << int(Phone::Ios14);
    }

    void encryptedBackupsAreRefusedUntouched()
    {
        QFETCH(int, phone);
        const BackupFixture b = phoneBackup(Phone(phone));
        writeBackupLists(b, QStringLiteral("14.8"), true);
        const auto before = BackupFixture::snapshot(dir());
        const QList<Run> runs = {runPass<IOSClearSysThread>, runPass<IOSClearMMSAttaThread>,
                                 runPass<IOSClearAllMessagesThread>, runPass<IOSClearSafariThread>,
                                 runPass<IOSClearCallsThread>};
        for (Run run : runs) {
            for (bool scanOnly : {true, false}) {
                const CleanerResult r = run(dir(), scanOnly);
                QVERIFY(!r.succeeded);
                QCOMPARE(r.found, 0);
                QVERIFY2(r.reports.value(0).contains(BackupManifest::encryptedBackupText(b.manifestPath())),
                         qPrintable(r.reports.value(0)));
            }
        }
        QCOMPARE(BackupFixture::snapshot(dir()), before);
    }

    void badManifestHeadersChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("shorter than its header") << QByteArray("mbdb\x05", 5);
        QTest::newRow("another magic") << QByteArray("MBDB\x05\x00\x00\x0aHomeDomain", 18);
    }

    void badManifestHeadersChangeNothing()
    {
        QFETCH(QByteArray, content);
        QDir().mkpath(folder());
        SimDeviceFolder::writeFile(dir().filePath(QStringLiteral("Manifest.mbdb")), content);
        const auto before = BackupFixture::snapshot(dir());
        const CleanerResult r = runCleaner<IOSClearSysThread>(dir(), false);
        QVERIFY(!r.succeeded);
        QVERIFY2(r.reports.value(0).contains(dir().absoluteFilePath(QStringLiteral("Manifest.mbdb")) +
                                             QStringLiteral(": not a backup manifest")),
                 qPrintable(r.reports.value(0)));
        QCOMPARE(BackupFixture::snapshot(dir()), before);
    }

    void knownDatabaseNamesFollowTheNamingRule()
    {
        for (const BackupDatabase& database : KnownDatabases::all)
            QCOMPARE(backupFileName(QString::fromLatin1(database.domain), QString::fromLatin1(database.path)),
                     database.fileName());
    }
};

QTEST_GUILESS_MAIN(TestPhoneBackups)
#include "TestPhoneBackups.moc"
