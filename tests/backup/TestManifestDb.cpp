#include "BackupFileName.h"
#include "BackupFixture.h"
#include "BackupManifest.h"
#include "FixtureDatabases.h"
#include "IOSMobileBackupThread.h"
#include "ManifestDb.h"
#include "ManifestMbdb.h"
#include "MbFileReader.h"
#include "SimDeviceFolder.h"

#include "ErrorText.h"
#include <QFile>
#include <QTemporaryDir>

#include <QTest>

#include <sqlite3.h>

// Manifest.db: reading it into records, and writing back only what changed.
class TestManifestDb : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path() const { return m_dir->filePath(QStringLiteral("Manifest.db")); }

    static MbdbString text(const char* s)
    {
        MbdbString m;
        m.setBytes(QByteArray(s));
        return m;
    }
    static MbdbRecord record(const char* domain, const char* path, quint64 size)
    {
        MbdbRecord r;
        r.domain = text(domain);
        r.path = text(path);
        r.mode = 0100644;
        r.inode = 77;
        r.userId = 501;
        r.groupId = 20;
        r.modifiedTime = 1500000001;
        r.changedTime = 1500000002;
        r.createdTime = 1500000003;
        r.size = size;
        r.protectionClass = 3;
        r.dataHash.setBytes(QByteArray(20, '\x5a'));
        return r;
    }
    ManifestMap sample() const
    {
        ManifestMap map;
        for (const MbdbRecord& r : {record("HomeDomain", "Library/Caches/a.db", 100),
                                    record("HomeDomain", "Library/Preferences/p.plist", 7),
                                    record("MediaDomain", "DCIM/100APPLE/IMG_0001.JPG", 5000)})
            map.insert(r.fileName(), r);
        MbdbRecord link = record("HomeDomain", "Library/Links/current", 0);
        link.mode = 0120755;
        link.linkTarget = text("../Caches");
        link.dataHash = MbdbString();
        map.insert(link.fileName(), link);
        MbdbRecord folder = record("HomeDomain", "Library/Caches", 0);
        folder.mode = 040755;
        folder.dataHash = MbdbString();
        map.insert(folder.fileName(), folder);
        return map;
    }
    QByteArray blobOf(const QString& fileId)
    {
        return FixtureDatabases::scalar(
                   path(), QStringLiteral("select hex(file) from Files where fileID='%1'").arg(fileId))
            .toLatin1();
    }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void recordsRoundTrip()
    {
        const ManifestMap written = sample();
        createManifestDb(path(), written);
        const ManifestMap read = readManifestDb(path());
        QCOMPARE(read.size(), written.size());
        for (auto it = written.cbegin(); it != written.cend(); ++it) {
            const MbdbRecord& a = it.value();
            const MbdbRecord& b = read.value(it.key());
            QCOMPARE(b.fileName(), it.key());
            QCOMPARE(b.domain.toText(), a.domain.toText());
            QCOMPARE(b.path.toText(), a.path.toText());
            QCOMPARE(b.linkTarget.toText(), a.linkTarget.toText());
            QCOMPARE(b.dataHash.bytes, a.dataHash.bytes);
            QCOMPARE(b.size, a.size);
            QCOMPARE(b.mode, a.mode);
            QCOMPARE(b.inode, a.inode);
            QCOMPARE(b.modifiedTime, a.modifiedTime);
            QCOMPARE(b.changedTime, a.changedTime);
            QCOMPARE(b.createdTime, a.createdTime);
            QCOMPARE(b.isEmptyEntry(), a.isEmptyEntry());
        }
        QCOMPARE(FixtureDatabases::scalar(
                     path(), QStringLiteral("select flags from Files where relativePath='Library/Caches'")),
                 QStringLiteral("2"));
    }

    void writeBackRemovesAndRefreshesOnly()
    {
        createManifestDb(path(), sample());
        BackupManifest manifest;
        QVERIFY(manifest.locate(QDir(m_dir->path())));
        QCOMPARE(manifest.format(), BackupManifest::Format::Db);
        manifest.read();
        const QString removed =
            backupFileName(QStringLiteral("HomeDomain"), QStringLiteral("Library/Caches/a.db"));
        const QString refreshed =
            backupFileName(QStringLiteral("HomeDomain"), QStringLiteral("Library/Preferences/p.plist"));
        const QString kept =
            backupFileName(QStringLiteral("MediaDomain"), QStringLiteral("DCIM/100APPLE/IMG_0001.JPG"));
        const QByteArray keptBlob = blobOf(kept);
        manifest.records().remove(removed);
        MbdbRecord& r = manifest.records()[refreshed];
        r.modifiedTime = r.changedTime = 1700000000;
        r.createdTime = 1700000001;
        r.dataHash.setBytes(QByteArray(20, '\x11'));
        r.size = 9;
        manifest.markRefreshed(refreshed);
        manifest.records()[kept].size = 1; // changed in memory but not refreshed: not written
        manifest.write();

        QCOMPARE(FixtureDatabases::scalar(
                     path(), QStringLiteral("select count(*) from Files where fileID='%1'").arg(removed)),
                 QStringLiteral("0"));
        QCOMPARE(blobOf(kept), keptBlob);
        const MbdbRecord after = readManifestDb(path()).value(refreshed);
        QCOMPARE(after.modifiedTime, 1700000000u);
        QCOMPARE(after.createdTime, 1700000001u);
        QCOMPARE(after.dataHash.bytes, QByteArray(20, '\x11'));
        QCOMPARE(after.size, 9u); // the record describes the new file
        QCOMPARE(after.inode, 77u);
    }

    void failedWriteLeavesTheFile()
    {
        createManifestDb(path(), sample());
        // The database refuses one of the deletions half-way through.
        FixtureDatabases::exec(path(), QStringLiteral("CREATE TRIGGER refuse BEFORE DELETE ON Files WHEN "
                                                      "old.relativePath='DCIM/100APPLE/IMG_0001.JPG' BEGIN "
                                                      "SELECT RAISE(ABORT, 'disk I/O error'); END;"));
        QFile f(path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray before = f.readAll();
        f.close();
        BackupManifest manifest;
        QVERIFY(manifest.locate(QDir(m_dir->path())));
        manifest.read();
        manifest.records().clear();
        QVERIFY(errorOf([&manifest] { manifest.write(); }).contains(QStringLiteral("disk I/O error")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QCOMPARE(readManifestDb(path()).size(), 5);
    }

    // Phones write their manifests with a write-ahead log; rows may lie in Manifest.db-wal.
    void logBesideTheManifest()
    {
        createManifestDb(path(), sample());
        FixtureDatabases::exec(path(), QStringLiteral("PRAGMA journal_mode=WAL;"));
        const QDir d(m_dir->path());
        // A plain read-only connection would leave a log and shared memory beside it.
        auto before = BackupFixture::snapshot(d);
        QCOMPARE(readManifestDb(path()).size(), 5);
        QCOMPARE(BackupFixture::snapshot(d), before);

        // Rows only in the log are read too, and the log stays as it was.
        sqlite3* writer = nullptr;
        QCOMPARE(sqlite3_open(path().toUtf8().constData(), &writer), SQLITE_OK);
        sqlite3_db_config(writer, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        QCOMPARE(sqlite3_exec(writer,
                              "PRAGMA wal_autocheckpoint=0; DELETE FROM Files WHERE relativePath = "
                              "'Library/Caches/a.db'",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(writer);
        QVERIFY(QFileInfo(path() + QStringLiteral("-wal")).size() > 0);
        before = BackupFixture::snapshot(d);
        QCOMPARE(readManifestDb(path()).size(), 4);
        QCOMPARE(BackupFixture::snapshot(d), before);

        // Writing back leaves one file that holds everything.
        BackupManifest manifest;
        QVERIFY(manifest.locate(d));
        manifest.read();
        manifest.records().remove(
            backupFileName(QStringLiteral("HomeDomain"), QStringLiteral("Library/Preferences/p.plist")));
        manifest.write();
        QCOMPARE(d.entryList(QDir::Files), QStringList{QStringLiteral("Manifest.db")});
        QCOMPARE(readManifestDb(path()).size(), 3);
    }

    // Records picked by rule are the records the rule matches, whichever format the manifest has:
    // the path ranges that let Manifest.db use its index must neither lose nor add a record.
    void rulesPickTheSameRecordsOnBothFormats()
    {
        ManifestMap map = sample();
        for (const MbdbRecord& r :
             {record("MediaDomain", "Library/SMS/Attachments/0a/00/x.jpg", 10),
              record("mediadomain", "Library/SMS/Parts/1/2.txt", 11),          // domain in another case
              record("MediaDomain", "Library/SMS/Parts0", 12),                 // just past the range
              record("MediaDomain", "Library/SMS/partS/3.txt", 13),            // path in another case
              record("MediaDomain", "Library/SMS/Attachments/\xc3\xa9/y", 14), // non-ASCII after the prefix
              record("HomeDomain", "LIBRARY/caches/b", 15), record("RootDomain", "Library/CachesX", 16),
              record("CameraRollDomain", "Library/Caches/c", 17)})
            map.insert(r.fileName(), r);
        const QList<QList<RecordRule>> ruleSets = {
            {{{"MediaDomain"}, {"Library/SMS/Attachments/", "Library/SMS/Parts/"}}},
            {{{"RootDomain", "HomeDomain"}, {"Library/Caches/"}, Qt::CaseInsensitive}},
            {{{"MediaDomain"}, {"Library/SMS/Parts/"}}, {{"HomeDomain"}, {"Library/Preferences/"}}}};
        for (const BackupManifest::Format format :
             {BackupManifest::Format::Mbdb, BackupManifest::Format::Db}) {
            m_dir = std::make_unique<QTemporaryDir>();
            if (format == BackupManifest::Format::Mbdb)
                writeManifestMbdb(map, m_dir->filePath(QStringLiteral("Manifest.mbdb")));
            else
                createManifestDb(path(), map);
            for (const QList<RecordRule>& rules : ruleSets) {
                QSet<QString> expected;
                for (auto it = map.cbegin(); it != map.cend(); ++it) {
                    if (RecordRule::anyMatches(rules, it->domain.textBytes(), it->path.textBytes()))
                        expected.insert(it.key());
                }
                QVERIFY(!expected.isEmpty());
                BackupManifest manifest;
                QVERIFY(manifest.locate(QDir(m_dir->path())));
                manifest.open();
                const QStringList picked = manifest.select(rules);
                QCOMPARE(QSet<QString>(picked.cbegin(), picked.cend()), expected);
                for (const QString& name : picked)
                    QCOMPARE(manifest.record(name).size, map.value(name).size);
                // A record taken out stays out when another rule picks it again.
                manifest.remove(picked.first());
                QVERIFY(!manifest.contains(picked.first()));
                const QStringList again = manifest.select(rules);
                QCOMPARE(again.size(), picked.size() - 1);
                QVERIFY(!again.contains(picked.first()));
            }
        }
    }

    // Rows' objects are read in place where the quick reader knows them; what it answers must be
    // what libplist reads, for the objects phones write and for damaged ones.
    void quickReaderAgreesWithLibplist()
    {
        const auto same = [](const MbdbRecord& a, const MbdbRecord& b) {
            return a.size == b.size && a.mode == b.mode && a.inode == b.inode && a.userId == b.userId &&
                   a.groupId == b.groupId && a.modifiedTime == b.modifiedTime &&
                   a.changedTime == b.changedTime && a.createdTime == b.createdTime &&
                   a.protectionClass == b.protectionClass && a.linkTarget.length == b.linkTarget.length &&
                   a.linkTarget.bytes == b.linkTarget.bytes && a.dataHash.length == b.dataHash.length &&
                   a.dataHash.bytes == b.dataHash.bytes && a.encryptionKey.bytes == b.encryptionKey.bytes;
        };
        QList<MbdbRecord> records = sample().values();
        MbdbRecord big = record("HomeDomain", "Library/big", quint64(1) << 40);
        big.inode = (quint64(1) << 63) + 5; // beyond a signed 64-bit integer
        big.modifiedTime = 0xffffffffu;
        records << big;
        MbdbRecord encrypted = record("HomeDomain", "Library/SMS/sms.db", 4096);
        encrypted.encryptionKey.setBytes(QByteArray(4, '\3') + QByteArray(40, 'w'));
        records << encrypted;
        int quick = 0;
        int mutated = 0;
        for (const MbdbRecord& r : records) {
            const QByteArray archive = archiveMbFile(r);
            MbdbRecord expected;
            QVERIFY(unarchiveMbFileWithLibplist(archive, expected));
            MbdbRecord read;
            if (readMbFileQuickly(archive, read)) {
                ++quick;
                QVERIFY(same(read, expected));
            }
            // Every byte changed in a few ways: the quick reader may refuse, never differ.
            for (qsizetype i = 0; i < archive.size(); ++i) {
                for (const uchar value : {uchar(0x00), uchar(0x01), uchar(0x0f), uchar(0x7f), uchar(0xff)}) {
                    QByteArray damaged = archive;
                    damaged[i] = char(value);
                    MbdbRecord fast;
                    if (!readMbFileQuickly(damaged, fast))
                        continue;
                    // libplist also refuses damage in parts of the object that give no field
                    // (a loop among the archive's own objects, say); where it reads, both agree.
                    MbdbRecord slow;
                    if (!unarchiveMbFileWithLibplist(damaged, slow))
                        continue;
                    ++mutated;
                    QVERIFY2(same(fast, slow),
                             qPrintable(QStringLiteral("byte %1 set to %2").arg(i).arg(value)));
                }
            }
        }
        // The objects written here are all of the kinds it reads.
        QCOMPARE(quick, records.size() - 1);
        QVERIFY(mutated > 0);
    }

    void filesLieInTwoCharacterFolders()
    {
        const QDir d(m_dir->path());
        QCOMPARE(BackupManifest::backupFilePath(d, QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28"),
                                                BackupManifest::Format::Db),
                 d.absoluteFilePath(QStringLiteral("3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28")));
        QCOMPARE(BackupManifest::backupFilePath(d, QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28"),
                                                BackupManifest::Format::Mbdb),
                 d.absoluteFilePath(QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28")));
        // Manifest.mbdb wins when a folder holds both; the missing case names Manifest.mbdb.
        BackupManifest none;
        QVERIFY(!none.locate(d));
        QCOMPARE(none.path(), d.absoluteFilePath(QStringLiteral("Manifest.mbdb")));
    }

    void badManifests_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error");
        QTest::newRow("not a database") << "garbage"
                                        << "file is not a database";
        QTest::newRow("no Files table") << "noFiles"
                                        << "no such table: Files";
        QTest::newRow("object is no property list") << "badBlob"
                                                    << "cannot be read";
        QTest::newRow("encrypted") << "encrypted"
                                   << "the backup is encrypted";
    }

    void badManifests()
    {
        QFETCH(QString, setup);
        QFETCH(QString, error);
        if (setup == QLatin1String("garbage")) {
            QFile f(path());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(4096, '\x42'));
        } else if (setup == QLatin1String("noFiles")) {
            FixtureDatabases::exec(path(), QStringLiteral("CREATE TABLE Properties (key TEXT, value BLOB);"));
        } else {
            createManifestDb(path(), sample());
            if (setup == QLatin1String("badBlob"))
                FixtureDatabases::exec(
                    path(),
                    QStringLiteral("UPDATE Files SET file=x'0102' WHERE relativePath='Library/Caches';"));
            else
                SimDeviceFolder::writeFile(m_dir->filePath(QStringLiteral("Manifest.plist")),
                                           toPlistXml(QVariantMap{{QStringLiteral("IsEncrypted"), true}}));
        }
        BackupManifest manifest;
        QVERIFY(manifest.locate(QDir(m_dir->path())));
        const QString text = errorOf([&manifest] { manifest.read(); });
        QVERIFY2(text.contains(error), qPrintable(text));
        QVERIFY(text.startsWith(path()));
    }

    void reusableWithManifestDb()
    {
        const QDir d(m_dir->path());
        SimDeviceFolder::writeFile(
            d.filePath(QStringLiteral("Status.plist")),
            toPlistXml(QVariantMap{{QStringLiteral("SnapshotState"), QStringLiteral("finished")}}));
        SimDeviceFolder::writeFile(
            d.filePath(QStringLiteral("Manifest.plist")),
            toPlistXml(QVariantMap{{QStringLiteral("Lockdown"), QVariantMap{{QStringLiteral("ProductVersion"),
                                                                             QStringLiteral("14.8")}}}}));
        QVERIFY(!IOSMobileBackupThread::isReusableBackup(d, QStringLiteral("14.8")));
        createManifestDb(path(), sample());
        QVERIFY(IOSMobileBackupThread::isReusableBackup(d, QStringLiteral("14.8")));
        QVERIFY(!IOSMobileBackupThread::isReusableBackup(d, QStringLiteral("15.0")));
    }
};

QTEST_GUILESS_MAIN(TestManifestDb)
#include "TestManifestDb.moc"
