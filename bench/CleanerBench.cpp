// Times the manifest reader and writer and the system junk cleaners on a synthetic backup of
// 500,000 records, against a floor measured in the same run; and the messages database edit
// against the sqlite3 command. Each figure is measured in a fresh child process so that its
// peak memory is its own.
#include "BackupEdit.h"
#include "BackupEncryption.h"
#include "BackupFileName.h"
#include "BackupManifest.h"
#include "BenchMachine.h"
#include "FixtureDatabases.h"
#include "IOSClearAllMessagesThread.h"
#include "IOSClearMMSAttaThread.h"
#include "IOSClearSysThread.h"
#include "KnownDatabases.h"
#include "ManifestDb.h"
#include "ManifestMbdb.h"
#include "MbdbTable.h"
#include "SimDeviceFolder.h"
#include "StepMonitor.h"
#include "StepRunner.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>

#include <unistd.h>

#include <sqlite3.h>

namespace {
const QByteArray benchPassword("bench password");

// Resident memory now and at its peak, from the kernel's own counters (reset at exec).
long statusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

long peakKiB()
{
    return statusKiB("VmHWM:");
}

long currentKiB()
{
    return statusKiB("VmRSS:");
}

MbdbString text(const QString& s)
{
    MbdbString m;
    m.setBytes(s.toUtf8());
    return m;
}

// A realistic mix: app containers, camera roll, messages, system caches and preferences.
void generate(const QString& dir, int records)
{
    ManifestMap map;
    map.reserve(records);
    QStringList apps;
    for (int i = 0; i < 120; ++i)
        apps << QStringLiteral("AppDomain-com.vendor%1.app%2").arg(i % 37).arg(i);
    QList<FixtureDatabases::Attachment> attachments;
    for (int i = 0; i < records; ++i) {
        MbdbRecord r;
        const int kind = i % 20;
        QString domain;
        QString path;
        if (kind < 2) {
            domain = i % 3 ? QStringLiteral("HomeDomain") : QStringLiteral("RootDomain");
            path = QStringLiteral("Library/Caches/com.apple.service%1/cache-%2.db").arg(i % 50).arg(i);
        } else if (kind < 5) {
            domain = QStringLiteral("MediaDomain");
            const QString folder = QStringLiteral("Library/SMS/Attachments/%1/%2/GUID-%3")
                                       .arg(i % 256, 2, 16, QLatin1Char('0'))
                                       .arg(i % 16, 2, 10, QLatin1Char('0'))
                                       .arg(i / 3);
            path = folder + QStringLiteral("/IMG_%1.jpeg").arg(i);
            if (i % 2 == 0 && attachments.size() < 20000)
                attachments.append({QStringLiteral("~/") + path, true});
        } else if (kind < 9) {
            domain = QStringLiteral("CameraRollDomain");
            path = QStringLiteral("Media/DCIM/%1APPLE/IMG_%2.JPG").arg(100 + i % 40).arg(i);
        } else if (kind < 18) {
            domain = apps.at(i % apps.size());
            path = QStringLiteral("Documents/data/%1/file-%2.bin").arg(i % 97).arg(i);
        } else {
            domain = QStringLiteral("HomeDomain");
            path = QStringLiteral("Library/Preferences/com.apple.pref%1.plist").arg(i);
        }
        r.domain = text(domain);
        r.path = text(path);
        r.dataHash.setBytes(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1));
        r.mode = 0100644;
        r.inode = quint64(i);
        r.size = quint64(1000 + i % 5000);
        r.modifiedTime = r.changedTime = r.createdTime = 1500000000;
        map.insert(r.fileName(), r);
    }
    writeManifestMbdb(map, QDir(dir).absoluteFilePath(QStringLiteral("Manifest.mbdb")));
    FixtureDatabases::createNewerMessages(QDir(dir).absoluteFilePath(KnownDatabases::messages.fileName()),
                                          attachments);
}

// Reading the file into memory plus SHA-1 of every record's "domain-path": what any reader must do.
double floorSeconds(const QString& manifest)
{
    QElapsedTimer t;
    t.start();
    QFile f(manifest);
    f.open(QIODevice::ReadOnly);
    const QByteArray all = f.readAll();
    qsizetype pos = 6;
    auto u16 = [&](qsizetype at) { return quint16(uchar(all[at]) << 8 | uchar(all[at + 1])); };
    QByteArray digest;
    while (pos < all.size()) {
        QByteArray strings[5];
        for (QByteArray& s : strings) {
            const quint16 len = u16(pos);
            pos += 2;
            if (len != 0 && len != 0xFFFF) {
                s = QByteArray::fromRawData(all.constData() + pos, len);
                pos += len;
            }
        }
        digest =
            QCryptographicHash::hash(QByteArray(strings[0] + '-' + strings[1]), QCryptographicHash::Sha1);
        pos += 2 + 8 + 4 * 5 + 8 + 1;
        const int props = uchar(all[pos++]);
        for (int i = 0; i < props * 2; ++i) {
            const quint16 len = u16(pos);
            pos += 2 + ((len != 0 && len != 0xFFFF) ? len : 0);
        }
    }
    return double(t.nsecsElapsed()) / 1e9 + (digest.isEmpty() ? 1 : 0);
}

template <class Cleaner> int runPass(const QString& dir, bool scanOnly)
{
    StepMonitor monitor;
    // Every report a watcher would have to handle.
    std::atomic<int> reports{0};
    QObject::connect(
        &monitor, &StepMonitor::progressed, &monitor, [&reports] { ++reports; }, Qt::DirectConnection);
    Cleaner cleaner{QDir(dir), &monitor, nullptr};
    cleaner.scanOnly = scanOnly;
    if (!LocalStepRunner().run(cleaner, monitor))
        std::fprintf(stderr, "pass failed\n");
    return reports.load();
}

// Child process: one measurement, printed as "seconds peakGrowthKiB reports".
int measure(const QString& what, const QString& dir)
{
    const QString manifest = QDir(dir).absoluteFilePath(QStringLiteral("Manifest.mbdb"));
    const long baseline = currentKiB();
    QElapsedTimer t;
    t.start();
    int reports = 0;
    if (what == QLatin1String("floor")) {
        const double s = floorSeconds(manifest);
        std::printf("%.6f %ld 0\n", s, peakKiB() - baseline);
        return 0;
    } else if (what == QLatin1String("db-floor")) {
        // Every row of the Files table read with plain SQLite.
        sqlite3* db = nullptr;
        sqlite3_open_v2(
            QFile::encodeName(QDir(dir).absoluteFilePath(QStringLiteral("Manifest.db"))).constData(), &db,
            SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT fileID, domain, relativePath, flags, file FROM Files", -1, &stmt,
                           nullptr);
        qint64 bytes = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW)
            bytes += sqlite3_column_bytes(stmt, 4) + sqlite3_column_bytes(stmt, 2);
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        std::printf("%.6f %ld %d\n", double(t.nsecsElapsed()) / 1e9, peakKiB() - baseline, int(bytes > 0));
        return 0;
    } else if (what == QLatin1String("db-read")) {
        // What the cleaners of both backup panels read: the records of their rules, decoded.
        BackupManifest manifest;
        manifest.locate(QDir(dir));
        manifest.open();
        const QStringList names =
            manifest.select({{{"RootDomain", "HomeDomain"}, {"Library/Caches/"}, Qt::CaseInsensitive},
                             {{"MediaDomain"}, {"Library/SMS/Attachments/", "Library/SMS/Parts/"}},
                             {{"HomeDomain"}, {"Library/SMS/Drafts/"}},
                             {{"AppDomain-com.apple.mobilesafari"},
                              {"Library/WebKit/WebsiteData/LocalStorage/", "Library/Safari/Thumbnails/",
                               "Library/Safari/History.plist"}}});
        std::printf("%.6f %ld %d\n", double(t.nsecsElapsed()) / 1e9, peakKiB() - baseline,
                    int(names.isEmpty()));
        return 0;
    } else if (what == QLatin1String("db-read-all")) {
        const ManifestMap map = readManifestDb(QDir(dir).absoluteFilePath(QStringLiteral("Manifest.db")));
        std::printf("%.6f %ld 0\n", double(t.nsecsElapsed()) / 1e9, peakKiB() - baseline);
        return 0;
    } else if (what == QLatin1String("read")) {
        // As the cleaners read it: held as its bytes.
        MbdbTable table;
        table.read(manifest);
        const double s = double(t.nsecsElapsed()) / 1e9;
        std::printf("%.6f %ld 0\n", s, peakKiB() - baseline);
        return 0;
    } else if (what == QLatin1String("write")) {
        MbdbTable table;
        table.read(manifest);
        t.restart();
        table.write(manifest + QStringLiteral(".out"));
    } else if (what == QLatin1String("read-map")) {
        const ManifestMap map = readManifestMbdb(manifest);
        std::printf("%.6f %ld 0\n", double(t.nsecsElapsed()) / 1e9, peakKiB() - baseline);
        return 0;
    } else if (what == QLatin1String("sys-scan") || what == QLatin1String("db-sys-scan")) {
        reports = runPass<IOSClearSysThread>(dir, true);
    } else if (what == QLatin1String("sys-clear") || what == QLatin1String("db-sys-clear")) {
        reports = runPass<IOSClearSysThread>(dir, false);
    } else if (what == QLatin1String("junk-scan")) {
        reports = runPass<IOSClearMMSAttaThread>(dir, true);
    } else if (what == QLatin1String("junk-clear") || what == QLatin1String("db-junk-clear")) {
        reports = runPass<IOSClearMMSAttaThread>(dir, false);
    } else if (what == QLatin1String("messages-edit")) {
        reports = runPass<IOSClearAllMessagesThread>(dir, false);
    } else if (what == QLatin1String("messages-edit-encrypted")) {
        // The key bag opened beforehand (its derivations are a step of their own): decrypting
        // the database, the edit and encrypting it again are timed.
        auto encryption = std::make_shared<BackupEncryption>(BackupEncryption::of(QDir(dir)));
        encryption->unlock(benchPassword);
        t.restart();
        BackupEdit edit{QDir(dir)};
        edit.setEncryption(encryption);
        StepMonitor monitor;
        IOSClearAllMessagesThread cleaner(edit, &monitor, nullptr);
        if (!LocalStepRunner().run(cleaner, monitor))
            std::fprintf(stderr, "pass failed\n");
        edit.finish();
    }
    std::printf("%.6f %ld %d\n", double(t.nsecsElapsed()) / 1e9, peakKiB() - baseline, reports);
    return 0;
}

// An encrypted backup folder holding only the messages database (iOS 9's Manifest.mbdb, which is
// never encrypted itself): its record keeps the file's key, Manifest.plist the key bag.
void encryptMessages(const QString& plainDb, const QString& dir)
{
    QDir().mkpath(dir);
    BackupKeyBag bag = BackupKeyBag::create(benchPassword, 1, 1);
    bag.unlock(benchPassword);
    const QByteArray key = BackupCipher::randomBytes(32);
    MbdbRecord r;
    r.domain.setBytes("HomeDomain");
    r.path.setBytes("Library/SMS/sms.db");
    r.mode = 0100644;
    r.size = quint64(QFileInfo(plainDb).size());
    r.protectionClass = 4;
    r.encryptionKey.setBytes(bag.storedKey(4, key));
    BackupCipher::encryptFile(key, plainDb, QDir(dir).filePath(r.fileName()));
    writeManifestMbdb(ManifestMap{{r.fileName(), r}}, QDir(dir).filePath(QStringLiteral("Manifest.mbdb")));
    QFile plist(QDir(dir).filePath(QStringLiteral("Manifest.plist")));
    if (plist.open(QIODevice::WriteOnly))
        plist.write(toPlistXml(QVariantMap{{QStringLiteral("IsEncrypted"), true},
                                           {QStringLiteral("BackupKeyBag"), bag.bytes()}}));
}

struct Figure
{
    double seconds = 0;
    long peakKiB = 0;
    int reports = 0;
};

Figure child(const QString& what, const QString& dir)
{
    // The copies made for it are written out first, so that writing them back does not fall
    // into the measurement.
    ::sync();
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), what, dir});
    p.waitForFinished(-1);
    const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split('\n').last().split(' ');
    return {f.value(0).toDouble(), f.value(1).toLong(), f.value(2).toInt()};
}

void copyFolder(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QString& name : QDir(from).entryList(QDir::Files))
        QFile::copy(QDir(from).filePath(name), QDir(to).filePath(name));
}

// A messages database of about 50 MB with conversations and attachments.
void generateLargeMessages(const QString& path)
{
    FixtureDatabases::createNewerMessages(path, {}, false);
    QString sql = QStringLiteral("BEGIN;");
    for (int i = 0; i < 120000; ++i) {
        sql += QStringLiteral(
                   "INSERT INTO message (guid, text, handle_id, service, date) VALUES ('G%1', '%2', 1, "
                   "'SMS', %1);")
                   .arg(i)
                   .arg(QString(300 + i % 100, QLatin1Char('m')));
        if (i % 10 == 0)
            sql += QStringLiteral("INSERT INTO attachment (guid, filename) VALUES ('A%1', "
                                  "'~/Library/SMS/Attachments/00/00/A%1/x.jpg');"
                                  "INSERT INTO message_attachment_join VALUES (last_insert_rowid(), %1);")
                       .arg(i);
        if (i % 5000 == 4999) {
            FixtureDatabases::exec(path, sql + QStringLiteral("COMMIT;"));
            sql = QStringLiteral("BEGIN;");
        }
    }
    FixtureDatabases::exec(path, sql + QStringLiteral("COMMIT;"));
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("--measure"))
        return measure(args.at(2), args.at(3));
    const int records = args.size() > 1 ? args.at(1).toInt() : 500000;
    printMachine();

    QTemporaryDir tmp;
    tmp.setAutoRemove(qEnvironmentVariableIsEmpty("BENCH_KEEP"));
    if (!tmp.autoRemove())
        std::printf("keeping %s\n", qPrintable(tmp.path()));
    const QString base = tmp.filePath(QStringLiteral("base"));
    QDir().mkpath(base);
    std::printf("generating %d records...\n", records);
    generate(base, records);
    const qint64 manifestBytes = QFileInfo(QDir(base).filePath(QStringLiteral("Manifest.mbdb"))).size();
    std::printf("Manifest.mbdb: %lld bytes\n\n", static_cast<long long>(manifestBytes));

    const Figure floor = child(QStringLiteral("floor"), base);
    std::printf("%-13s %9s %8s %7s %10s %8s %7s %8s\n", "operation", "seconds", "x floor", "target",
                "peak MiB", "x file", "target", "reports");
    std::printf("%-13s %9.3f %8.2f\n", "floor", floor.seconds, 1.0);
    for (const QString& what : {QStringLiteral("read"), QStringLiteral("write"), QStringLiteral("sys-scan"),
                                QStringLiteral("sys-clear"), QStringLiteral("junk-scan"),
                                QStringLiteral("junk-clear"), QStringLiteral("read-map")}) {
        const QString dir = tmp.filePath(what);
        copyFolder(base, dir); // a clear pass edits its own copy
        const Figure f = child(what, dir);
        const QString target = what == QLatin1String("read")       ? QStringLiteral("<= 2.0")
                               : what == QLatin1String("read-map") ? QStringLiteral("-")
                                                                   : QStringLiteral("<= 3.0");
        std::printf("%-13s %9.3f %8.2f %7s %10.1f %8.2f %7s %8d\n", qPrintable(what), f.seconds,
                    f.seconds / floor.seconds, qPrintable(target), double(f.peakKiB) / 1024,
                    double(f.peakKiB) * 1024 / double(manifestBytes),
                    what == QLatin1String("read-map") ? "-" : "<= 3.0",
                    what.contains(QLatin1Char('-')) ? f.reports : 0);
    }
    std::printf("floor: the file read and every record's name hashed. read and write: the manifest as "
                "the cleaners hold it; read-map: every record decoded into a map (no cleaner does that). A "
                "pass sends at most 101 progress reports (plus its status and closing calls).\n\n");

    // The same backup as iOS 10 and later write it: Manifest.db, files in two-character folders.
    const QString dbBase = tmp.filePath(QStringLiteral("dbbase"));
    QDir().mkpath(dbBase + QStringLiteral("/3d"));
    createManifestDb(QDir(dbBase).filePath(QStringLiteral("Manifest.db")),
                     readManifestMbdb(QDir(base).filePath(QStringLiteral("Manifest.mbdb"))));
    QFile::copy(QDir(base).filePath(KnownDatabases::messages.fileName()),
                QDir(dbBase).filePath(QStringLiteral("3d/") + KnownDatabases::messages.fileName()));
    const qint64 dbBytes0 = QFileInfo(QDir(dbBase).filePath(QStringLiteral("Manifest.db"))).size();
    std::printf("Manifest.db: %lld bytes\n", static_cast<long long>(dbBytes0));
    const Figure dbFloor = child(QStringLiteral("db-floor"), dbBase);
    std::printf("%-13s %9s %8s %7s %10s %8s\n", "operation", "seconds", "x floor", "target", "peak MiB",
                "x file");
    std::printf("%-13s %9.3f %8.2f\n", "db floor", dbFloor.seconds, 1.0);
    for (const QString& what :
         {QStringLiteral("db-read"), QStringLiteral("db-sys-scan"), QStringLiteral("db-sys-clear"),
          QStringLiteral("db-junk-clear"), QStringLiteral("db-read-all")}) {
        const QString dir = tmp.filePath(what);
        QDir().mkpath(dir + QStringLiteral("/3d"));
        QFile::copy(QDir(dbBase).filePath(QStringLiteral("Manifest.db")),
                    QDir(dir).filePath(QStringLiteral("Manifest.db")));
        QFile::copy(QDir(dbBase).filePath(QStringLiteral("3d/") + KnownDatabases::messages.fileName()),
                    QDir(dir).filePath(QStringLiteral("3d/") + KnownDatabases::messages.fileName()));
        const Figure f = child(what, dir);
        const char* target = what == QLatin1String("db-read")       ? "<= 2.0"
                             : what == QLatin1String("db-read-all") ? "-"
                                                                    : "<= 3.0";
        std::printf("%-13s %9.3f %8.2f %7s %10.1f %8.2f\n", qPrintable(what), f.seconds,
                    f.seconds / dbFloor.seconds, target, double(f.peakKiB) / 1024,
                    double(f.peakKiB) * 1024 / double(dbBytes0));
    }
    std::printf("db floor: every row read with SQLite. db-read: the records the five cleaners look at, "
                "found and decoded; db-read-all: every record decoded (no cleaner does that).\n\n");

    // Messages database edit against the sqlite3 command on a copy.
    const QString msgDir = tmp.filePath(QStringLiteral("messages"));
    QDir().mkpath(msgDir);
    const QString db = QDir(msgDir).filePath(KnownDatabases::messages.fileName());
    generateLargeMessages(db);
    writeManifestMbdb(ManifestMap(), QDir(msgDir).filePath(QStringLiteral("Manifest.mbdb")));
    const qint64 dbBytes = QFileInfo(db).size();
    const QString cliCopy = tmp.filePath(QStringLiteral("cli.db"));
    QFile::copy(db, cliCopy);
    // The command has no attachment functions; its copy goes without the triggers that call them.
    FixtureDatabases::exec(cliCopy, QStringLiteral("DROP TRIGGER after_delete_on_attachment;"
                                                   "DROP TRIGGER before_delete_on_attachment;"));
    const QString editDir = tmp.filePath(QStringLiteral("messages-edit"));
    copyFolder(msgDir, editDir);
    const Figure ours = child(QStringLiteral("messages-edit"), editDir);
    QProcess cli;
    QElapsedTimer t;
    t.start();
    cli.start(QStringLiteral("sqlite3"), {cliCopy});
    cli.write(
        "delete from attachment;delete from chat;delete from handle;delete from message;"
        "delete from message_attachment_join;delete from chat_message_join;delete from chat_handle_join;"
        "update sqlite_sequence set seq=0 where name in ('handle', 'chat', 'message', "
        "'attachment');vacuum;\n");
    cli.closeWriteChannel();
    cli.waitForFinished(-1);
    const double cliSeconds = double(t.nsecsElapsed()) / 1e9;
    std::printf(
        "messages database %.1f MB: cleaner %.3f s (copy included), sqlite3 command %.3f s, ratio %.2f "
        "(target <= 1.2)\n",
        double(dbBytes) / 1048576, ours.seconds, cliSeconds, ours.seconds / cliSeconds);
    const QString encryptedDir = tmp.filePath(QStringLiteral("messages-encrypted"));
    encryptMessages(db, encryptedDir);
    const Figure encrypted = child(QStringLiteral("messages-edit-encrypted"), encryptedDir);
    std::printf("the same in an encrypted backup: %.3f s (decrypted into the working copy, encrypted again), "
                "ratio %.2f to the plain edit (target <= 1.5)\n",
                encrypted.seconds, encrypted.seconds / ours.seconds);
    return 0;
}
