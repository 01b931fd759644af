#include "BackupFileName.h"
#include "BackupFixture.h"
#include "CleanerRun.h"
#include "FixtureDatabases.h"
#include "IOSClearMMSAttaThread.h"
#include "IOSClearSysThread.h"
#include "KnownDatabases.h"
#include "ManifestMbdb.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <QTimer>
#include <sqlite3.h>

namespace {
QString name(const char* domain, const char* path)
{
    return backupFileName(QString::fromLatin1(domain), QString::fromLatin1(path));
}

QSet<QString> keysOf(const BackupFixture& backup)
{
    const ManifestMap map = backup.readManifest();
    return QSet<QString>(map.keyBegin(), map.keyEnd());
}
} // namespace

class TestSystemJunkCleaners : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString folder() const { return m_tmp->filePath(QStringLiteral("backup")); }

    // System caches mixed with what must stay.
    BackupFixture systemBackup()
    {
        BackupFixture b(folder());
        b.addFile(QStringLiteral("HomeDomain"),
                  QStringLiteral("Library/Caches/com.apple.mobilesafari/Cache.db"), QByteArray(1000, 'a'));
        b.addFile(QStringLiteral("homedomain"), QStringLiteral("library/caches/x.db"), QByteArray(200, 'b'));
        b.addFile(QStringLiteral("RootDomain"), QStringLiteral("Library/Caches/locationd/cache.plist"),
                  QByteArray(30, 'c'));
        b.addLink(QStringLiteral("HomeDomain"), QStringLiteral("Library/Caches/current"),
                  QStringLiteral("x.db"));
        b.addFolder(QStringLiteral("HomeDomain"), QStringLiteral("Library/Caches/Snapshots"));
        b.addFile(QStringLiteral("HomeDomain"), QStringLiteral("Library/Caches"), QByteArray(5, 'd'));
        b.addFile(QStringLiteral("MediaDomain"), QStringLiteral("Library/Caches/photos.db"),
                  QByteArray(70, 'e'));
        b.addFile(QStringLiteral("AppDomain-com.example.app"), QStringLiteral("Library/Caches/app.db"),
                  QByteArray(80, 'f'));
        b.addFile(QStringLiteral("HomeDomain"),
                  QStringLiteral("Library/Preferences/com.apple.springboard.plist"), QByteArray(90, 'g'));
        b.writeManifest();
        return b;
    }

private slots:
    void init() { m_tmp = std::make_unique<QTemporaryDir>(); }

    void systemCacheScanCountsAndChangesNothing()
    {
        systemBackup();
        const auto before = BackupFixture::snapshot(QDir(folder()));
        const CleanerResult r = runCleaner<IOSClearSysThread>(QDir(folder()), true);
        QVERIFY(r.succeeded);
        QVERIFY(r.reports.isEmpty());
        QCOMPARE(r.found, 1230);
        QCOMPARE(BackupFixture::snapshot(QDir(folder())), before);
    }

    void systemCacheClearDropsOnlyCacheRecords()
    {
        const BackupFixture b = systemBackup();
        const auto filesBefore = BackupFixture::snapshot(QDir(folder()));
        const CleanerResult r = runCleaner<IOSClearSysThread>(QDir(folder()), false);
        QVERIFY(r.succeeded);
        QCOMPARE(r.found, 1230);
        QCOMPARE(r.cleared, 1230);
        QSet<QString> expected(b.records().keyBegin(), b.records().keyEnd());
        for (const QString& gone : {name("HomeDomain", "Library/Caches/com.apple.mobilesafari/Cache.db"),
                                    name("homedomain", "library/caches/x.db"),
                                    name("RootDomain", "Library/Caches/locationd/cache.plist"),
                                    name("HomeDomain", "Library/Caches/current")})
            QVERIFY(expected.remove(gone));
        QCOMPARE(keysOf(b), expected);
        // Backup files stay; only records go.
        const QString manifestName = QFileInfo(b.manifestPath()).fileName();
        auto filesAfter = BackupFixture::snapshot(QDir(folder()));
        filesAfter.remove(manifestName);
        auto filesKept = filesBefore;
        filesKept.remove(manifestName);
        QCOMPARE(filesAfter, filesKept);
    }

    void emptyManifestClearWritesHeaderOnly()
    {
        BackupFixture b(folder());
        b.writeManifest();
        const CleanerResult r = runCleaner<IOSClearSysThread>(QDir(folder()), false);
        QVERIFY(r.succeeded);
        QCOMPARE(r.found, 0);
        QVERIFY(b.readManifest().isEmpty());
        if (b.format() == BackupFixture::Format::Mbdb) {
            QFile f(b.manifestPath());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("mbdb\x05\x00", 6));
        }
    }

    void missingOrBrokenManifestIsAnError_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expectedText");
        QTest::newRow("missing") << QByteArray() << QStringLiteral("IOSClearSysThread, can not find %1.");
        QByteArray truncated("mbdb\x05\x00\x00\x0a"
                             "HomeDomain"
                             "\x00\x03"
                             "ab",
                             20);
        QTest::newRow("truncated") << truncated << QStringLiteral("%1: the manifest ends inside a record");
        QByteArray random(6, 'x');
        for (int i = 0; i < 500; ++i)
            random.append(char((i * 7919 + 13) % 251));
        QTest::newRow("random bytes") << random << QStringLiteral("%1: ");
    }

    void missingOrBrokenManifestIsAnError()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expectedText);
        QDir().mkpath(folder());
        const bool db = BackupFixture::defaultFormat() == BackupFixture::Format::Db;
        const QString manifest = QDir(folder()).absoluteFilePath(
            db && !content.isEmpty() ? QStringLiteral("Manifest.db") : QStringLiteral("Manifest.mbdb"));
        if (db && !content.isEmpty())
            expectedText = QStringLiteral("%1: file is not a database");
        if (!content.isEmpty()) {
            QFile f(manifest);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        const auto before = BackupFixture::snapshot(QDir(folder()));
        const CleanerResult r = runCleaner<IOSClearSysThread>(QDir(folder()), false);
        QVERIFY(!r.succeeded);
        QCOMPARE(r.reports.size(), 1);
        QVERIFY2(r.reports.at(0).contains(expectedText.arg(manifest)), qPrintable(r.reports.at(0)));
        QCOMPARE(BackupFixture::snapshot(QDir(folder())), before);
    }

    void cancelBeforeOrDuringTheWalkWritesNothing()
    {
        BackupFixture b(folder());
        for (int i = 0; i < 60000; ++i)
            b.addSizedRecord(QStringLiteral("HomeDomain"), QStringLiteral("Library/Caches/f%1").arg(i), 10);
        b.writeManifest();
        const auto before = BackupFixture::snapshot(QDir(folder()));

        CleanerResult r = runCleaner<IOSClearSysThread>(QDir(folder()), false, [](StepMonitor& monitor) {
            QTimer::singleShot(0, &monitor, [&monitor] { monitor.cancel(); });
        });
        QVERIFY(!r.succeeded);
        QVERIFY(r.reports.isEmpty());
        QCOMPARE(BackupFixture::snapshot(QDir(folder())), before);

        r = runCleaner<IOSClearSysThread>(QDir(folder()), false,
                                          [](StepMonitor& monitor) { cancelWhenProgressPasses(monitor, 2); });
        QVERIFY(!r.succeeded);
        QVERIFY(r.reports.isEmpty());
        QVERIFY(r.found < 600000);
        QCOMPARE(BackupFixture::snapshot(QDir(folder())), before);
    }

    void junkNewerSchema()
    {
        BackupFixture b(folder());
        FixtureDatabases::createNewerMessages(
            b.filePath(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db")),
            {{QStringLiteral("~/Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg"), true},
             {QStringLiteral("~/Library/SMS/Attachments/cd/12/GUID-2/IMG_0002.jpeg"), false},
             {QStringLiteral("/var/tmp/elsewhere.jpg"), true}});
        b.addExisting(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
        const QString media = QStringLiteral("MediaDomain");
        b.addFile(media, QStringLiteral("Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg"),
                  QByteArray(100, '1'));
        b.addFile(media, QStringLiteral("Library/SMS/Attachments/ab/11/GUID-1/IMG_0001-preview.jpeg"),
                  QByteArray(10, '1'));
        b.addFile(media, QStringLiteral("Library/SMS/Attachments/cd/12/GUID-2/IMG_0002.jpeg"),
                  QByteArray(200, '2'));
        b.addFile(media, QStringLiteral("Library/SMS/Attachments/ef/13/GUID-3/old.mov"),
                  QByteArray(300, '3'));
        b.addFile(media, QStringLiteral("Library/SMS/Parts/2c/03/35-2.JPG"), QByteArray(40, '4'));
        b.addFile(QStringLiteral("mediadomain"), QStringLiteral("Library/SMS/Attachments/00/00/G/f.jpg"),
                  QByteArray(5, '5'));
        b.addFolder(media, QStringLiteral("Library/SMS/Attachments/ab"));
        b.addFile(media, QStringLiteral("library/sms/attachments/00/00/X/other-case.jpg"),
                  QByteArray(7, '6'));
        b.addFile(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/Attachments/11/00/H/home.jpg"),
                  QByteArray(9, '7'));
        b.writeManifest();
        const auto before = BackupFixture::snapshot(QDir(folder()));

        const CleanerResult scan = runCleaner<IOSClearMMSAttaThread>(QDir(folder()), true);
        QVERIFY(scan.succeeded);
        QCOMPARE(scan.found, 200 + 300 + 40 + 5);
        QCOMPARE(scan.cleared, 0);
        QCOMPARE(BackupFixture::snapshot(QDir(folder())), before);

        const CleanerResult clear = runCleaner<IOSClearMMSAttaThread>(QDir(folder()), false);
        QVERIFY(clear.succeeded);
        QCOMPARE(clear.found, 545);
        QCOMPARE(clear.cleared, 545);
        QSet<QString> expected(b.records().keyBegin(), b.records().keyEnd());
        for (const QString& gone : {name("MediaDomain", "Library/SMS/Attachments/cd/12/GUID-2/IMG_0002.jpeg"),
                                    name("MediaDomain", "Library/SMS/Attachments/ef/13/GUID-3/old.mov"),
                                    name("MediaDomain", "Library/SMS/Parts/2c/03/35-2.JPG"),
                                    name("mediadomain", "Library/SMS/Attachments/00/00/G/f.jpg")})
            QVERIFY(expected.remove(gone));
        QCOMPARE(keysOf(b), expected);
        // The messages database is only read.
        const QString messagesFile = b.relativeOf(KnownDatabases::messages.fileName());
        QCOMPARE(BackupFixture::snapshot(QDir(folder())).value(messagesFile), before.value(messagesFile));
    }

    void junkOlderSchema_data()
    {
        QTest::addColumn<bool>("madridTables");
        QTest::newRow("with madrid tables") << true;
        QTest::newRow("without madrid tables") << false;
    }

    void junkOlderSchema()
    {
        QFETCH(bool, madridTables);
        BackupFixture b(folder());
        FixtureDatabases::createOlderMessages(
            b.filePath(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db")),
            {QStringLiteral("/var/mobile/Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg")},
            {{300, 35, 2, QStringLiteral(" image.JPG ")}, {1, 7, 1, QString()}}, madridTables);
        b.addExisting(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
        const QString media = QStringLiteral("MediaDomain");
        b.addFile(media, QStringLiteral("Library/SMS/Parts/2c/03/35-2.JPG"), QByteArray(40, '1'));
        b.addFile(media, QStringLiteral("Library/SMS/Parts/01/07/7-1.jpg"), QByteArray(50, '2'));
        b.addFile(media, QStringLiteral("Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg"),
                  QByteArray(60, '3'));
        b.addFile(media, QStringLiteral("Library/SMS/Attachments/ff/19/GUID-9/IMG_0009.jpeg"),
                  QByteArray(70, '4'));
        b.writeManifest();

        const CleanerResult clear = runCleaner<IOSClearMMSAttaThread>(QDir(folder()), false);
        QVERIFY(clear.succeeded);
        const qint64 orphanedAttachment = madridTables ? 0 : 60;
        QCOMPARE(clear.found, 50 + 70 + orphanedAttachment);
        const QSet<QString> kept = keysOf(b);
        QVERIFY(kept.contains(name("MediaDomain", "Library/SMS/Parts/2c/03/35-2.JPG")));
        QVERIFY(!kept.contains(name("MediaDomain", "Library/SMS/Parts/01/07/7-1.jpg")));
        QCOMPARE(kept.contains(name("MediaDomain", "Library/SMS/Attachments/ab/11/GUID-1/IMG_0001.jpeg")),
                 madridTables);
    }

    void junkWithoutMessagesDatabaseSucceedsUntouched()
    {
        const BackupFixture b = systemBackup();
        const auto before = BackupFixture::snapshot(QDir(folder()));
        const CleanerResult r = runCleaner<IOSClearMMSAttaThread>(QDir(folder()), false);
        QVERIFY(r.succeeded);
        QCOMPARE(r.found, 0);
        QCOMPARE(BackupFixture::snapshot(QDir(folder())), before);
    }

    void lockedMessagesDatabaseFailsClearly()
    {
        BackupFixture b(folder());
        const QString db = b.filePath(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
        FixtureDatabases::createNewerMessages(db, {}, false);
        b.addExisting(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
        b.writeManifest();
        // Another program holds the database and does not let go.
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(db.toUtf8().constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        const auto before = BackupFixture::snapshot(QDir(folder()));
        const CleanerResult r = runCleaner<IOSClearMMSAttaThread>(QDir(folder()), false);
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QVERIFY(!r.succeeded);
        QVERIFY2(r.reports.value(0).contains(QStringLiteral("database is locked")),
                 qPrintable(r.reports.value(0)));
        QCOMPARE(BackupFixture::snapshot(QDir(folder())), before);
    }

    void junkWithBrokenMessagesDatabaseFails()
    {
        BackupFixture b(folder());
        const QString db = b.filePath(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
        FixtureDatabases::exec(db, QStringLiteral("CREATE TABLE message (ROWID INTEGER PRIMARY KEY);"));
        b.addExisting(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
        b.addFile(QStringLiteral("MediaDomain"), QStringLiteral("Library/SMS/Parts/01/07/7-1.jpg"), "x");
        b.writeManifest();
        const auto before = BackupFixture::snapshot(QDir(folder()));
        const CleanerResult r = runCleaner<IOSClearMMSAttaThread>(QDir(folder()), false);
        QVERIFY(!r.succeeded);
        QCOMPARE(r.reports.size(), 1);
        // Neither layout: the error names what each one misses.
        QVERIFY2(
            r.reports.at(0).contains(QStringLiteral("it lacks the tables chat, handle, chat_handle_join, "
                                                    "chat_message_join of iOS 6 and later, and msg_pieces, "
                                                    "msg_group, group_member of iOS 5 and earlier")),
            qPrintable(r.reports.at(0)));
        QCOMPARE(BackupFixture::snapshot(QDir(folder())), before);
    }
};

QTEST_GUILESS_MAIN(TestSystemJunkCleaners)
#include "TestSystemJunkCleaners.moc"
