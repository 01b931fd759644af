#include "BackupFileName.h"
#include "ManifestMbdb.h"
#include "MbdbTable.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace {
// Hand-made encoding, independent of the writer under test.
struct Bytes
{
    QByteArray data = QByteArray("mbdb\x05\x00", 6);
    Bytes& u8(quint8 v)
    {
        data.append(char(v));
        return *this;
    }
    Bytes& u16(quint16 v) { return u8(quint8(v >> 8)).u8(quint8(v)); }
    Bytes& u32(quint32 v) { return u16(quint16(v >> 16)).u16(quint16(v)); }
    Bytes& u64(quint64 v) { return u32(quint32(v >> 32)).u32(quint32(v)); }
    Bytes& str(const QByteArray& s)
    {
        u16(quint16(s.size()));
        data.append(s);
        return *this;
    }
    Bytes& absent() { return u16(0xFFFF); }
    // A plain file record with the given domain and path and no optional strings.
    Bytes& record(const QByteArray& domain, const QByteArray& path, quint64 size = 10)
    {
        str(domain).str(path).absent().absent().absent();
        u16(0100644).u64(7).u32(501).u32(501).u32(1).u32(2).u32(3).u64(size).u8(3).u8(0);
        return *this;
    }
};

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}
} // namespace

class TestManifestMbdb : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const char* name = "Manifest.mbdb") const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    void knownBackupFileNames()
    {
        QCOMPARE(backupFileName(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db")),
                 QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28"));
        QCOMPARE(backupFileName(QStringLiteral("WirelessDomain"),
                                QStringLiteral("Library/CallHistory/call_history.db")),
                 QStringLiteral("2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca"));
        QCOMPARE(backupFileName(QStringLiteral("AppDomain-com.apple.mobilesafari"),
                                QStringLiteral("Library/Safari/History.db")),
                 QStringLiteral("e74113c185fd8297e140cfcf9c99436c5cc06b57"));
        QCOMPARE(backupFileName(QStringLiteral("HomeDomain"),
                                QStringLiteral("Library/CallHistoryDB/CallHistory.storedata")),
                 QStringLiteral("5a4935c78a5255723f707230a451d79c540d2741"));
    }

    void everyFieldRoundTrips()
    {
        Bytes b;
        b.str("HomeDomain").str("Library/Links/current").str("../target").str(QByteArray(20, '\x11')).str("");
        b.u16(0120755)
            .u64(0x0102030405060708ull)
            .u32(501)
            .u32(20)
            .u32(0xF0000001u)
            .u32(0xF0000002u)
            .u32(0xF0000003u);
        b.u64(0x1122334455667788ull).u8(4).u8(2);
        b.str("com.apple.key").str(QByteArray("\x00\x01\xff", 3)).str("").absent();
        writeFile(path(), b.data);

        const ManifestMap map = readManifestMbdb(path());
        QCOMPARE(map.size(), 1);
        const MbdbRecord& r = map.begin().value();
        QCOMPARE(map.begin().key(),
                 backupFileName(QStringLiteral("HomeDomain"), QStringLiteral("Library/Links/current")));
        QCOMPARE(r.linkTarget.toText(), QStringLiteral("../target"));
        QCOMPARE(r.dataHash.bytes, QByteArray(20, '\x11'));
        QCOMPARE(r.encryptionKey.length, quint16(0));
        QCOMPARE(r.mode, quint16(0120755));
        QCOMPARE(r.inode, 0x0102030405060708ull);
        QCOMPARE(r.userId, 501u);
        QCOMPARE(r.groupId, 20u);
        QCOMPARE(r.modifiedTime, 0xF0000001u);
        QCOMPARE(r.changedTime, 0xF0000002u);
        QCOMPARE(r.createdTime, 0xF0000003u);
        QCOMPARE(r.size, 0x1122334455667788ull);
        QCOMPARE(r.protectionClass, quint8(4));
        QCOMPARE(r.properties.size(), 2);
        QCOMPARE(r.properties.at(0).second.bytes, QByteArray("\x00\x01\xff", 3));
        QCOMPARE(r.properties.at(1).first.length, quint16(0));
        QCOMPARE(r.properties.at(1).second.length, MbdbString::absent);
        QVERIFY(!r.isEmptyEntry());

        writeManifestMbdb(map, path("again.mbdb"));
        QCOMPARE(readFile(path("again.mbdb")), b.data);
    }

    void absentAndEmptyStringsStayApart()
    {
        Bytes b;
        b.str("HomeDomain").str("a").absent().str("").absent();
        b.u16(0).u64(0).u32(0).u32(0).u32(0).u32(0).u32(0).u64(0).u8(0).u8(0);
        writeFile(path(), b.data);
        const ManifestMap map = readManifestMbdb(path());
        const MbdbRecord& r = map.begin().value();
        QCOMPARE(r.linkTarget.length, MbdbString::absent);
        QCOMPARE(r.dataHash.length, quint16(0));
        QVERIFY(r.linkTarget.toText().isEmpty() && r.dataHash.toText().isEmpty());
        QVERIFY(r.isEmptyEntry());
        writeManifestMbdb(map, path("again.mbdb"));
        QCOMPARE(readFile(path("again.mbdb")), b.data);
    }

    void emptyManifest()
    {
        writeFile(path(), QByteArray("mbdb\x05\x00", 6));
        QVERIFY(readManifestMbdb(path()).isEmpty());
        writeManifestMbdb(ManifestMap(), path("empty.mbdb"));
        QCOMPARE(readFile(path("empty.mbdb")), QByteArray("mbdb\x05\x00", 6));
    }

    void badHeadersAreErrors_data()
    {
        QTest::addColumn<QByteArray>("content");
        Bytes b;
        b.record("HomeDomain", "x");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("shorter than the header") << QByteArray("mbd");
        QTest::newRow("magic only") << QByteArray("mbdb");
        QTest::newRow("another magic") << QByteArray(b.data).replace(0, 4, "mbdx");
        QTest::newRow("another file") << QByteArray("SQLite format 3\0", 16) + b.data;
    }

    void badHeadersAreErrors()
    {
        QFETCH(QByteArray, content);
        writeFile(path(), content);
        try {
            readManifestMbdb(path());
            QFAIL("no error");
        } catch (const std::runtime_error& e) {
            QVERIFY2(
                QString::fromUtf8(e.what()).startsWith(path() + QStringLiteral(": not a backup manifest")),
                e.what());
        }
        QCOMPARE(readFile(path()), content);
    }

    void versionBytesAreNotChecked()
    {
        Bytes b;
        b.record("HomeDomain", "x");
        b.data[4] = '\x04';
        b.data[5] = '\x01';
        writeFile(path(), b.data);
        QCOMPARE(readManifestMbdb(path()).size(), 1);
    }

    void laterDuplicateWins()
    {
        Bytes b;
        b.record("HomeDomain", "Library/a", 10)
            .record("MediaDomain", "b", 1)
            .record("HomeDomain", "Library/a", 99);
        writeFile(path(), b.data);
        const ManifestMap map = readManifestMbdb(path());
        QCOMPARE(map.size(), 2);
        QCOMPARE(map.value(backupFileName(QStringLiteral("HomeDomain"), QStringLiteral("Library/a"))).size,
                 99u);
    }

    void manyProperties()
    {
        Bytes b;
        b.str("HomeDomain").str("p").absent().absent().absent();
        b.u16(0).u64(0).u32(0).u32(0).u32(0).u32(0).u32(0).u64(1).u8(0).u8(200);
        for (int i = 0; i < 200; ++i)
            b.str(QByteArray::number(i)).str("v");
        writeFile(path(), b.data);
        const ManifestMap map = readManifestMbdb(path());
        QCOMPARE(map.begin().value().properties.size(), 200);
        QCOMPARE(map.begin().value().properties.at(199).first.toText(), QStringLiteral("199"));
        writeManifestMbdb(map, path("again.mbdb"));
        QCOMPARE(readFile(path("again.mbdb")), b.data);
    }

    void writtenSortedByDomainThenPath()
    {
        Bytes b;
        b.record("WirelessDomain", "z")
            .record("HomeDomain", "b")
            .record("HomeDomain", "a")
            .record("AppDomain", "q");
        b.record("HomeDomain", "B");
        writeFile(path(), b.data);
        writeManifestMbdb(readManifestMbdb(path()), path("sorted.mbdb"));
        Bytes expected;
        expected.record("AppDomain", "q")
            .record("HomeDomain", "B")
            .record("HomeDomain", "a")
            .record("HomeDomain", "b");
        expected.record("WirelessDomain", "z");
        QCOMPARE(readFile(path("sorted.mbdb")), expected.data);

        QList<MbdbRecord> list = readManifestMbdb(path()).values();
        writeManifestMbdb(list, path("list.mbdb"));
        QCOMPARE(list.first().domain.toText(),
                 QStringLiteral("AppDomain")); // the caller's list is sorted too
        QCOMPARE(readFile(path("list.mbdb")), expected.data);
    }

    void cutShortAnywhereFails()
    {
        Bytes b;
        b.record("HomeDomain", "Library/Caches/a").record("MediaDomain", "DCIM/100APPLE/IMG_0001.JPG");
        const int firstRecordEnd = Bytes().record("HomeDomain", "Library/Caches/a").data.size();
        for (int cut = 7; cut < b.data.size(); ++cut) {
            writeFile(path(), b.data.left(cut));
            if (cut == firstRecordEnd) {
                QCOMPARE(readManifestMbdb(path()).size(), 1);
                continue;
            }
            bool threw = false;
            try {
                readManifestMbdb(path());
            } catch (const std::runtime_error& e) {
                threw = QString::fromUtf8(e.what()).contains(path());
            }
            QVERIFY2(threw, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        }
    }

    void lengthsPastTheEndFail()
    {
        Bytes b;
        b.str("HomeDomain").u16(0xFFFE).data.append("short");
        writeFile(path(), b.data);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, readManifestMbdb(path()));

        Bytes props;
        props.str("HomeDomain").str("p").absent().absent().absent();
        props.u16(0).u64(0).u32(0).u32(0).u32(0).u32(0).u32(0).u64(1).u8(0).u8(255).str("only one");
        writeFile(path(), props.data);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, readManifestMbdb(path()));
    }

    // The manifest held as its bytes reads and writes what the map does: the same records and
    // names (the last of a name read twice), the same errors, and after the same removals and
    // replacements the same file, byte for byte.
    void heldAsBytesAgreesWithTheMap()
    {
        Bytes b;
        b.record("MediaDomain", "DCIM/100APPLE/IMG_0002.JPG", 20)
            .record("HomeDomain", "Library/Caches/a", 30);
        b.record("HomeDomain", "Library/Caches/a", 31); // the same name again: this one counts
        b.str("CameraRollDomain")
            .str("Media/\xc3\xa9t\xc3\xa9.jpg")
            .str("")
            .str(QByteArray(20, '\x22'))
            .absent();
        b.u16(0100644).u64(1).u32(2).u32(3).u32(4).u32(5).u32(6).u64(40).u8(1).u8(1).str("k").str(
            QByteArray("v\0w", 3));
        b.record("AppDomain-x", QByteArray("Library/Caches/b\0junk", 22), 50);
        b.record("HomeDomain", "Library/Preferences/p.plist", 60);
        writeFile(path(), b.data);

        ManifestMap map = readManifestMbdb(path());
        MbdbTable table;
        table.read(path());
        QCOMPARE(table.size(), map.size());
        const RecordRule caches{{"HomeDomain", "AppDomain-x"}, {"Library/Caches/"}, Qt::CaseInsensitive};
        QStringList picked;
        for (const MbdbTable::Index i : table.select({caches})) {
            picked << table.name(i);
            const MbdbRecord r = table.record(i);
            QCOMPARE(r.size, map.value(table.name(i)).size);
            QCOMPARE(r.path.bytes, map.value(table.name(i)).path.bytes);
        }
        QCOMPARE(picked.size(), 2);
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            const MbdbTable::Index i = table.indexOf(it.key());
            QVERIFY(i >= 0);
            QCOMPARE(table.record(i).properties.size(), it->properties.size());
        }
        QCOMPARE(table.indexOf(QString(40, QLatin1Char('0'))), -1);

        // Unchanged, then with a record removed and another replaced.
        table.write(path("table.mbdb"));
        writeManifestMbdb(map, path("map.mbdb"));
        QCOMPARE(readFile(path("table.mbdb")), readFile(path("map.mbdb")));
        const QString gone = picked.first();
        const QString changed =
            backupFileName(QStringLiteral("HomeDomain"), QStringLiteral("Library/Preferences/p.plist"));
        table.remove(table.indexOf(gone));
        QCOMPARE(table.indexOf(gone), -1);
        MbdbRecord r = table.record(table.indexOf(changed));
        r.size = 61;
        r.dataHash.setBytes(QByteArray(20, '\x33'));
        table.replace(table.indexOf(changed), r);
        map.remove(gone);
        map[changed] = r;
        table.write(path("table.mbdb"));
        writeManifestMbdb(map, path("map.mbdb"));
        QCOMPARE(readFile(path("table.mbdb")), readFile(path("map.mbdb")));
        QCOMPARE(table.size(), map.size());

        // Bad files fail with the same words.
        const auto errorOf = [](const std::function<void()>& f) {
            try {
                f();
            } catch (const std::runtime_error& e) {
                return QString::fromUtf8(e.what());
            }
            return QString();
        };
        for (const QByteArray& bad :
             {QByteArray(), QByteArray("mbd"), QByteArray("xbdb\x05\x00", 6), b.data.left(50)}) {
            writeFile(path(), bad);
            const QString expected = errorOf([this] { readManifestMbdb(path()); });
            QVERIFY(!expected.isEmpty());
            QCOMPARE(errorOf([this] {
                         MbdbTable t;
                         t.read(path());
                     }),
                     expected);
        }
    }

    void missingFileFails()
    {
        try {
            readManifestMbdb(path("missing.mbdb"));
            QFAIL("no error");
        } catch (const std::runtime_error& e) {
            QVERIFY(QString::fromUtf8(e.what()).contains(QStringLiteral("missing.mbdb")));
        }
    }

    void inconsistentStringFailsAndKeepsOldManifest()
    {
        Bytes b;
        b.record("HomeDomain", "a");
        writeFile(path(), b.data);
        ManifestMap map = readManifestMbdb(path());
        map.begin().value().path.length = 5; // says 5, holds 1
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, writeManifestMbdb(map, path()));
        QCOMPARE(readFile(path()), b.data);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files).filter(QStringLiteral("Manifest")),
                 QStringList{QStringLiteral("Manifest.mbdb")});
    }

    void fullDiskKeepsOldManifest()
    {
        // A file size limit makes every write past it fail as a full disk would.
        Bytes b;
        b.record("HomeDomain", "a");
        writeFile(path(), b.data);
        ManifestMap big;
        for (int i = 0; i < 20000; ++i) {
            MbdbRecord r;
            r.domain.setBytes("HomeDomain");
            r.path.setBytes("Library/Caches/file-" + QByteArray::number(i));
            r.size = 1;
            big.insert(r.fileName(), r);
        }
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limited = old;
        limited.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &limited);
        bool threw = false;
        try {
            writeManifestMbdb(big, path());
        } catch (const std::runtime_error&) {
            threw = true;
        }
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(threw);
        QCOMPARE(readFile(path()), b.data);
    }

    void byteComparisonsAgreeWithText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QByteArray("HomeDomain");
        QTest::newRow("other case") << QByteArray("hOMEdOMAIN");
        QTest::newRow("shorter") << QByteArray("Home");
        QTest::newRow("zero inside") << QByteArray("HomeDomain\0tail", 15);
        QTest::newRow("non-ascii") << QByteArray("Home\xc3\xa9"
                                                 "Domain");
        QTest::newRow("invalid utf-8") << QByteArray("HomeDomain\xff");
        QTest::newRow("cache path") << QByteArray("library/CACHES/x");
        QTest::newRow("cache path, accent") << QByteArray("Library/Caches/\xc3\xa9");
    }

    void byteComparisonsAgreeWithText()
    {
        QFETCH(QByteArray, bytes);
        MbdbString s;
        s.setBytes(bytes);
        const QString text = s.toText();
        for (const char* pattern : {"HomeDomain", "Library/Caches/", "Home"}) {
            const QLatin1String p(pattern);
            QCOMPARE(s.equalsIgnoreCase(p), text.compare(p, Qt::CaseInsensitive) == 0);
            QCOMPARE(s.startsWith(p), text.startsWith(p));
            QCOMPARE(s.startsWith(p, Qt::CaseInsensitive), text.startsWith(p, Qt::CaseInsensitive));
        }
        MbdbRecord r;
        r.domain = s;
        r.path.setBytes("Library/x");
        QCOMPARE(r.fileName(), backupFileName(text, QStringLiteral("Library/x")));
    }

    void fileSha1OfMissingFileIsEmpty()
    {
        QVERIFY(fileSha1(path("nope")).isEmpty());
        writeFile(path("abc"), "abc");
        QCOMPARE(fileSha1(path("abc")).toHex(), QByteArray("a9993e364706816aba3e25717850c26c9cd0d89d"));
    }
};

QTEST_GUILESS_MAIN(TestManifestMbdb)
#include "TestManifestMbdb.moc"
