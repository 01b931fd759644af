#include "AppCacheFlow.h"
#include "AppFolders.h"
#include "BackupCheckThread.h"
#include "BackupCleanFlow.h"
#include "BackupFileName.h"
#include "BackupManifest.h"
#include "BackupStatus.h"
#include "FixtureDatabases.h"
#include "FlowSteps.h"
#include "KnownDatabases.h"
#include "PhoneFiles.h"
#include "SimPhoneBuilder.h"
#include "SimSession.h"
#include "StepMonitor.h"
#include "StepRunner.h"
#include "Translation.h"
#include "UndoFlow.h"
#include "UndoStore.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {
// Runs each step as the command line does and records which worker it was; cancels the step
// numbered `cancelAt` (from 0) as soon as it starts.
class RecordingSteps : public StepRunner
{
public:
    QStringList steps;
    int cancelAt = -1;
    // Called with each step's worker class before it runs.
    std::function<void(const QString&)> before;
    // Given, one each, to the password questions (kept in `asked`); none left: nobody to ask.
    QStringList passwords;
    QStringList asked;

    Answer askPassword(const QString& question, QByteArray& password) override
    {
        asked << question;
        if (passwords.isEmpty())
            return Answer::NobodyToAsk;
        password = passwords.takeFirst().toUtf8();
        return Answer::Given;
    }

    bool run(QThread& worker, StepMonitor& monitor) override
    {
        steps << QString::fromLatin1(worker.metaObject()->className());
        if (before)
            before(steps.last());
        if (steps.size() - 1 == cancelAt)
            QObject::connect(
                &worker, &QThread::started, &monitor, [&monitor] { monitor.cancel(); }, Qt::QueuedConnection);
        return LocalStepRunner().run(worker, monitor);
    }
};

const QString backupStep = QStringLiteral("IOSMobileBackupThread");
const QString saveStep = QStringLiteral("BackupEditThread");
const QString restoreStep = QStringLiteral("IOSMobileRestoreThread");
const QString unlockStep = QStringLiteral("BackupUnlockThread");
const QString checkStep = QStringLiteral("BackupCheckThread");

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The independent reader of encrypted backups: the decrypted file, or empty.
QByteArray decrypted(const QString& folder, const QString& domain, const QString& path)
{
    QTemporaryDir dir;
    QFile password(dir.filePath(QStringLiteral("password")));
    if (!password.open(QIODevice::WriteOnly) || password.write("correct horse") <= 0)
        return QByteArray();
    password.close();
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(SPACEWELL_BACKUP_READER), QStringLiteral("--backup"), folder,
                  password.fileName(), domain, path, dir.filePath(QStringLiteral("out"))});
    if (!reader.waitForFinished(30000) || reader.exitCode() != 0) {
        qWarning("%s", reader.readAllStandardError().constData());
        return QByteArray();
    }
    QFile out(dir.filePath(QStringLiteral("out")));
    return out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray();
}
} // namespace

class TestFlows : public QObject
{
    Q_OBJECT

    SimSession m_sim;
    QTemporaryDir m_backups;
    int m_phones = 0;

    // A small phone of this system version, attached.
    std::pair<std::unique_ptr<SimDeviceFolder>, IOSDevice>
    attach(const QString& version, const std::function<void(SimDeviceFolder&)>& tune = {})
    {
        auto phone =
            std::make_unique<SimDeviceFolder>(m_sim.root.path(), QStringLiteral("phone%1").arg(++m_phones));
        phone->setValues(QString(), {{QStringLiteral("UniqueDeviceID"), phone->udid()},
                                     {QStringLiteral("DeviceName"), QStringLiteral("phone")},
                                     {QStringLiteral("ProductVersion"), version},
                                     {QStringLiteral("ProductType"), QStringLiteral("iPhone13,2")}});
        SimPhoneContent content;
        content.cacheFiles = 6;
        content.attachments = 4;
        content.orphanedAttachments = 3;
        content.photos = 2;
        content.appCount = 3;
        content.current = !version.startsWith(QLatin1String("9"));
        buildSimPhone(*phone, content);
        if (tune)
            tune(*phone);
        const IOSDevice device = m_sim.attach(*phone);
        return {std::move(phone), device};
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(installTranslation());
        QVERIFY(m_sim.start());
        QFile memory(appDataDir().filePath(QStringLiteral("__vantelmoor_iosbk_temp.path")));
        QVERIFY(memory.open(QIODevice::WriteOnly | QIODevice::Truncate));
        memory.write(m_backups.path().toUtf8());
    }

    // Which workers run for which ticks, and when the edited backup goes back to the phone.
    void backupPanelSteps_data()
    {
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("freeUp");
        QTest::addColumn<QStringList>("ticked");
        QTest::addColumn<QStringList>("steps");
        const QStringList dataScan{backupStep, checkStep, QStringLiteral("IOSClearAllMessagesThread"),
                                   QStringLiteral("IOSClearSafariThread"),
                                   QStringLiteral("IOSClearCallsThread")};
        QTest::newRow("data scan runs every cleaner") << "data"
                                                      << "9.3.5" << false << QStringList() << dataScan;
        QTest::newRow("data free-up, Safari only")
            << "data"
            << "9.3.5" << true << QStringList{QStringLiteral("safari")}
            << QStringList{backupStep, checkStep, QStringLiteral("IOSClearSafariThread"), saveStep,
                           restoreStep};
        QTest::newRow("data free-up, nothing ticked: no restore")
            << "data"
            << "9.3.5" << true << QStringList() << QStringList{backupStep, checkStep, saveStep};
        const QStringList junk{backupStep, checkStep, QStringLiteral("IOSClearSysThread"),
                               QStringLiteral("IOSClearMMSAttaThread")};
        QTest::newRow("junk scan") << "junk"
                                   << "9.3.5" << false << QStringList() << junk;
        // No backup holds caches or tmp on any iOS version (Apple's guidance on app backups since
        // iOS 5): one cache cleaner for both entries finds nothing, and nothing is restored.
        QTest::newRow("junk free-up on iOS 9, caches only")
            << "junk"
            << "9.3.5" << true << QStringList{QStringLiteral("cache"), QStringLiteral("temp")}
            << QStringList{backupStep, checkStep, QStringLiteral("IOSClearSysThread"), saveStep};
        QTest::newRow("junk free-up on iOS 14, caches only")
            << "junk"
            << "14.8" << true << QStringList{QStringLiteral("temp")}
            << QStringList{backupStep, checkStep, QStringLiteral("IOSClearSysThread"), saveStep};
        QTest::newRow("junk free-up on iOS 14, junk only")
            << "junk"
            << "14.8" << true << QStringList{QStringLiteral("junk")}
            << QStringList{backupStep, checkStep, QStringLiteral("IOSClearMMSAttaThread"), saveStep,
                           restoreStep};
    }

    void backupPanelSteps()
    {
        QFETCH(QString, panel);
        QFETCH(QString, version);
        QFETCH(bool, freeUp);
        QFETCH(QStringList, ticked);
        QFETCH(QStringList, steps);
        auto [phone, device] = attach(version);
        QVERIFY(!device.uniqueDeviceId.isEmpty());
        RecordingSteps runner;
        BackupCleanFlow flow(runner);
        const BackupPanel& p = *BackupPanel::byId(panel);
        const FlowResult result = freeUp ? flow.freeUp(p, device, ticked) : flow.scan(p, device);
        QVERIFY2(result.completed(), qPrintable(result.message));
        QCOMPARE(runner.steps, steps);
        QCOMPARE(result.restored, steps.contains(restoreStep));
        QCOMPARE(result.items.size(), p.entries.size());
        qint64 sum = 0;
        for (const FlowItem& item : result.items)
            sum += qMax<qint64>(0, item.found);
        QCOMPARE(sum, result.found);
        if (freeUp && ticked.isEmpty())
            QCOMPARE(result.closingText, QStringLiteral("Successfully deleted 0.0 KB data.(Total:0.0 KB)."));
        if (!freeUp)
            QVERIFY(result.closingText.isEmpty());
        if (panel == QLatin1String("junk") && !freeUp) {
            QCOMPARE(result.item(QStringLiteral("temp"))->countedWith, QStringLiteral("cache"));
            QCOMPARE(result.item(QStringLiteral("cache"))->found, 0);
            QCOMPARE(result.notes.size(), 1);
        }
        phone->remove();
    }

    // A Free Up restores only what changed, in update mode: the edited database with empty logs,
    // an empty file for each dropped record, and the folders above them (the partial restore of
    // JJTech0130/TrollRestore, sparserestore/backup.py). A phone refuses a restore larger than its
    // free space (libimobiledevice issue 460): the small one goes through where the whole backup
    // would not fit, and one that does not fit either is not tried.
    void freeUpRestoresOnlyWhatChanged_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("iOS 9, Manifest.mbdb") << "9.3.5";
        QTest::newRow("iOS 14, Manifest.db") << "14.8";
    }

    void freeUpRestoresOnlyWhatChanged()
    {
        QFETCH(QString, version);
        qint64 whole = 0;
        auto [phone, device] = attach(version);
        for (const QByteArray& bytes : phoneFiles(*phone))
            whole += bytes.size();
        auto room = [&phone = *phone](qint64 bytes) {
            phone.setValues(QStringLiteral("com.apple.disk_usage"),
                            {{QStringLiteral("TotalDataCapacity"), qint64(64000000000)},
                             {QStringLiteral("AmountDataAvailable"), bytes}});
        };
        room(whole / 2);
        const auto before = phoneFiles(*phone);
        const QString partial = m_backups.filePath(
            QStringLiteral("__vantelmoor_iosbk_temp/%1.changes/%1").arg(device.uniqueDeviceId));
        ManifestMap listed;
        QByteArray status;
        RecordingSteps runner;
        runner.before = [&](const QString& step) {
            if (step != restoreStep)
                return;
            BackupManifest manifest;
            if (manifest.locate(QDir(partial))) {
                manifest.read();
                listed = manifest.records();
            }
            QFile f(partial + QStringLiteral("/Status.plist"));
            if (f.open(QIODevice::ReadOnly))
                status = f.readAll();
        };
        const FlowResult result =
            BackupCleanFlow(runner).freeUp(BackupPanel::unwantedData(), device, {QStringLiteral("messages")});
        QVERIFY2(result.completed(), qPrintable(result.message));
        QVERIFY(result.restored);
        QVERIFY(status.contains("finished"));
        QVERIFY(!QFileInfo::exists(partial)); // gone once restored

        QStringList files;
        for (const MbdbRecord& r : std::as_const(listed)) {
            const QString path = r.domain.toText() + QLatin1Char('/') + r.path.toText();
            if ((r.mode & 0170000) == 040000) {
                QVERIFY2(path.startsWith(QLatin1String("HomeDomain/")) ||
                             path.startsWith(QLatin1String("MediaDomain/")),
                         qPrintable(path));
                continue;
            }
            files << path;
            QVERIFY2(before.contains(path) || path.endsWith(QLatin1String("-wal")) ||
                         path.endsWith(QLatin1String("-shm")),
                     qPrintable(path));
            // Beside the database, only what the messages cleaner drops: attachments, parts, drafts.
            QVERIFY2(path.contains(QLatin1String("/Library/SMS/")), qPrintable(path));
            if (!path.endsWith(QLatin1String("/sms.db")))
                QCOMPARE(r.size, 0u);
        }
        QVERIFY(files.contains(QStringLiteral("HomeDomain/Library/SMS/sms.db")));
        QVERIFY(files.contains(QStringLiteral("HomeDomain/Library/SMS/sms.db-wal")));
        QVERIFY(files.contains(QStringLiteral("HomeDomain/Library/SMS/sms.db-shm")));
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (it.key().contains(QLatin1String("Library/SMS/Attachments/")))
                QVERIFY2(files.contains(it.key()), qPrintable(it.key()));
        }

        // On the phone: no messages, the attachments empty, everything else as it was.
        const QString sms =
            SimPhonePaths::file(*phone, QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
        QCOMPARE(FixtureDatabases::countRows(sms, QStringLiteral("message")), 0);
        const auto after = phoneFiles(*phone);
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (!files.contains(it.key()))
                QCOMPARE(after.value(it.key()), it.value());
            else if (!it.key().endsWith(QLatin1String("/sms.db")))
                QVERIFY(after.value(it.key()).isEmpty());
        }

        // A phone too full for even the changes: said before any restore, nothing changed.
        auto [full, fullDevice] = attach(version);
        const auto fullBefore = phoneFiles(*full);
        full->setValues(QStringLiteral("com.apple.disk_usage"),
                        {{QStringLiteral("TotalDataCapacity"), qint64(64000000000)},
                         {QStringLiteral("AmountDataAvailable"), qint64(100)}});
        RecordingSteps refused;
        const FlowResult tooFull = BackupCleanFlow(refused).freeUp(BackupPanel::unwantedData(), fullDevice,
                                                                   {QStringLiteral("messages")});
        QCOMPARE(tooFull.ending, FlowResult::Ending::Failed);
        QVERIFY2(
            tooFull.message.startsWith(QStringLiteral("The device has 0.1 KB of free space and the restore "
                                                      "needs ")),
            qPrintable(tooFull.message));
        QVERIFY(!refused.steps.contains(restoreStep));
        QCOMPARE(phoneFiles(*full), fullBefore);
        // The changes wait for the next Free Up of the same panel, which can restore them without a
        // new backup; the edited backup is no base for the next one.
        QVERIFY(tooFull.changesKept);
        QVERIFY(BackupCleanFlow::pendingQuestion(BackupPanel::systemJunk(), fullDevice).isEmpty());
        QVERIFY(BackupCleanFlow::pendingQuestion(BackupPanel::unwantedData(), fullDevice)
                    .contains(QStringLiteral("(Messages)")));
        QCOMPARE(BackupStatus::snapshotState(QDir(m_backups.filePath(
                     QStringLiteral("__vantelmoor_iosbk_temp/") + fullDevice.uniqueDeviceId))),
                 QStringLiteral("uncommitted"));
        refused.steps.clear();
        QVERIFY(BackupCleanFlow(refused).restorePending(fullDevice).changesKept); // still too full
        QVERIFY(refused.steps.isEmpty());
        full->setValues(QStringLiteral("com.apple.disk_usage"),
                        {{QStringLiteral("TotalDataCapacity"), qint64(64000000000)},
                         {QStringLiteral("AmountDataAvailable"), whole}});
        const FlowResult later = BackupCleanFlow(refused).restorePending(fullDevice);
        QVERIFY2(later.completed(), qPrintable(later.message));
        QCOMPARE(refused.steps, QStringList{restoreStep});
        QVERIFY(later.closingText.startsWith(QStringLiteral("Successfully deleted")));
        QCOMPARE(FixtureDatabases::countRows(SimPhonePaths::file(*full, QStringLiteral("HomeDomain"),
                                                                 QStringLiteral("Library/SMS/sms.db")),
                                             QStringLiteral("message")),
                 0);
        QVERIFY(UndoStore::of(fullDevice).present);
        QVERIFY(BackupCleanFlow::pendingQuestion(BackupPanel::unwantedData(), fullDevice).isEmpty());
        phone->remove();
        full->remove();
    }

    // The undo of the last Free Up puts back what it removed with the same partial restore; a
    // Free Up that changed nothing leaves it as it was.
    void undoPutsBackTheLastFreeUp()
    {
        auto [phone, device] = attach(QStringLiteral("14.8"));
        const auto before = phoneFiles(*phone);
        const QString sms =
            SimPhonePaths::file(*phone, QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
        const int messages = FixtureDatabases::countRows(sms, QStringLiteral("message"));
        QVERIFY(messages > 0);
        RecordingSteps runner;
        QVERIFY(!UndoStore::of(device).present);
        QVERIFY(BackupCleanFlow(runner)
                    .freeUp(BackupPanel::unwantedData(), device, {QStringLiteral("messages")})
                    .completed());
        QCOMPARE(FixtureDatabases::countRows(sms, QStringLiteral("message")), 0);
        QVERIFY(BackupCleanFlow(runner).freeUp(BackupPanel::unwantedData(), device, {}).completed());
        const UndoStore::Info undo = UndoStore::of(device);
        QVERIFY(undo.present);
        QCOMPARE(undo.items, QStringList{QStringLiteral("Messages")});
        QVERIFY(undo.diskBytes > 0);
        QVERIFY(UndoFlow::question(device).contains(QStringLiteral("(Messages)")));

        runner.steps.clear();
        const FlowResult result = UndoFlow(runner).undo(device);
        QVERIFY2(result.completed(), qPrintable(result.message));
        QCOMPARE(runner.steps, QStringList{restoreStep});
        QCOMPARE(FixtureDatabases::countRows(sms, QStringLiteral("message")), messages);
        const auto after = phoneFiles(*phone);
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (it.key().contains(QLatin1String("Library/SMS/Attachments/")))
                QCOMPARE(after.value(it.key()), it.value());
        }
        QVERIFY(!UndoStore::of(device).present);
        QCOMPARE(UndoFlow(runner).undo(device).ending, FlowResult::Ending::Failed);
        phone->remove();
    }

    // Cancel at each step of a Free Up ends the flow there; before the restore the phone keeps
    // every file.
    void cancelAtEachStep()
    {
        for (int at = 0; at < 5; ++at) {
            auto [phone, device] = attach(QStringLiteral("9.3.5"));
            const auto before = phoneFiles(*phone);
            RecordingSteps runner;
            runner.cancelAt = at;
            // A restore that takes a moment, so that the Cancel comes before its end.
            runner.before = [&phone = *phone](const QString& step) {
                if (step == restoreStep)
                    phone.setSwitch(QStringLiteral("BackupSeconds"), 2);
            };
            const FlowResult result = BackupCleanFlow(runner).freeUp(BackupPanel::unwantedData(), device,
                                                                     {QStringLiteral("messages")});
            // The save step cannot be cancelled: the flow goes on to the restore, which is.
            const int stopsAt = at == 3 ? 4 : at;
            if (at == 3) {
                QCOMPARE(result.ending, FlowResult::Ending::Completed);
            } else {
                QCOMPARE(result.ending, FlowResult::Ending::Cancelled);
                QCOMPARE(runner.steps.size(), stopsAt + 1);
                QVERIFY(result.closingText.isEmpty());
                QCOMPARE(phoneFiles(*phone), before);
            }
            phone->remove();
        }
    }

    // A phone whose backups are encrypted ("WillEncrypt") is asked once per flow for its backup
    // password, which opens the key bag of the backup's Manifest.plist (test phones state fewer
    // PBKDF2 rounds in it than the 10,000,000 of current ones). The manifest and each edited
    // database are decrypted, edited and encrypted again; the partial restore is encrypted as
    // the full backup is, which an independent reader of the public format decrypts.
    void encryptedBackupsWithTheirPassword_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("Manifest.mbdb, its files encrypted") << QStringLiteral("9.3.5");
        QTest::newRow("Manifest.db encrypted too") << QStringLiteral("14.8");
    }

    void encryptedBackupsWithTheirPassword()
    {
        QFETCH(QString, version);
        const bool current = version != QLatin1String("9.3.5");
        auto [phone, device] = attach(version, [](SimDeviceFolder& p) {
            p.setValues(QStringLiteral("com.apple.mobile.backup"), {{QStringLiteral("WillEncrypt"), true}});
            p.setSwitch(QStringLiteral("BackupPassword"), QStringList{QStringLiteral("correct horse")});
            p.setSwitch(QStringLiteral("KeyBagRounds"), 1000);
            p.setSwitch(QStringLiteral("KeyBagIterations"), 10);
        });
        const auto before = phoneFiles(*phone);
        const QString home = QStringLiteral("HomeDomain");
        const QString smsPath = QStringLiteral("Library/SMS/sms.db");
        const QString full =
            m_backups.filePath(QStringLiteral("__vantelmoor_iosbk_temp/") + device.uniqueDeviceId);

        // No backup on this computer yet: the password is tried once the backup is there.
        RecordingSteps first;
        first.passwords = QStringList{QStringLiteral("wrong horse"), QStringLiteral("correct horse")};
        FlowResult result = BackupCleanFlow(first).scan(BackupPanel::unwantedData(), device);
        QVERIFY2(result.completed(), qPrintable(result.message));
        QCOMPARE(first.steps.mid(0, 3), (QStringList{backupStep, unlockStep, unlockStep}));
        QCOMPARE(first.asked.size(), 2);
        QVERIFY2(first.asked.at(1).contains(QStringLiteral("not right")), qPrintable(first.asked.at(1)));
        for (const char* id : {"messages", "safari", "calls"})
            QVERIFY2(result.item(QLatin1String(id))->found > 0, id);
        QVERIFY(!QFileInfo::exists(full + QStringLiteral("/Manifest.db.decrypted")));

        // From then on the last backup's key bag answers before anything long runs.
        RecordingSteps wrong;
        wrong.passwords = QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
        result =
            BackupCleanFlow(wrong).freeUp(BackupPanel::unwantedData(), device, {QStringLiteral("messages")});
        QCOMPARE(result.ending, FlowResult::Ending::Failed);
        QCOMPARE(result.message, FlowSteps::wrongPasswordText());
        QCOMPARE(wrong.steps, QStringList(3, unlockStep));
        QCOMPARE(phoneFiles(*phone), before);
        RecordingSteps nobody;
        QCOMPARE(BackupCleanFlow(nobody).scan(BackupPanel::systemJunk(), device).ending,
                 FlowResult::Ending::Failed);
        QVERIFY(nobody.steps.isEmpty());

        // What an edit the program did not end left in plain text goes before the next backup.
        for (const QString& left :
             {QStringLiteral("/Manifest.db.decrypted"),
              QStringLiteral("/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28-1765300000000-wal")}) {
            QDir().mkpath(QFileInfo(full + left).absolutePath());
            SimDeviceFolder::writeFile(full + left, QByteArray("SQLite format 3\0", 16));
        }
        RecordingSteps right;
        right.passwords = QStringList{QStringLiteral("correct horse")};
        QByteArray partialSms;
        right.before = [&](const QString& step) {
            if (step == restoreStep && current)
                partialSms = decrypted(
                    m_backups.filePath(
                        QStringLiteral("__vantelmoor_iosbk_temp/%1.changes/%1").arg(device.uniqueDeviceId)),
                    home, smsPath);
        };
        result = BackupCleanFlow(right).freeUp(
            BackupPanel::unwantedData(), device,
            {QStringLiteral("messages"), QStringLiteral("safari"), QStringLiteral("calls")});
        QVERIFY2(result.completed(), qPrintable(result.message));
        QCOMPARE(right.asked.size(), 1);
        QCOMPARE(right.steps.mid(0, 3), (QStringList{unlockStep, backupStep, unlockStep}));
        QCOMPARE(right.steps.last(), restoreStep);
        QVERIFY(result.restored);

        // The phone got the edited databases, and the rest is as it was.
        const QString sms = SimPhonePaths::file(*phone, home, smsPath);
        QCOMPARE(FixtureDatabases::countRows(sms, QStringLiteral("message")), 0);
        QCOMPARE(FixtureDatabases::countRows(SimPhonePaths::safariHistory(*phone, current),
                                             QStringLiteral("history_items")),
                 0);
        QCOMPARE(FixtureDatabases::countRows(
                     SimPhonePaths::file(*phone, home,
                                         QStringLiteral("Library/CallHistoryDB/CallHistory.storedata")),
                     QStringLiteral("ZCALLRECORD")),
                 0);
        const auto after = phoneFiles(*phone);
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (it.key().startsWith(QLatin1String("CameraRollDomain/")) ||
                it.key().startsWith(QLatin1String("MediaDomain/DCIM/")))
                QCOMPARE(after.value(it.key()), it.value());
        }
        // The partial restore and the edited full backup, read without our code.
        if (current) {
            QCOMPARE(partialSms, readAll(sms));
            QCOMPARE(decrypted(full, home, smsPath), readAll(sms));
            QVERIFY(!readAll(full + QStringLiteral("/Manifest.db")).startsWith("SQLite"));
        }
        QDirIterator plain(m_backups.filePath(QStringLiteral("__vantelmoor_iosbk_temp")), QDir::Files,
                           QDirIterator::Subdirectories);
        while (plain.hasNext()) {
            // Nothing of this phone's is left in plain text: no working copy, no decrypted manifest.
            if (plain.next().contains(device.uniqueDeviceId))
                QVERIFY2(!readAll(plain.filePath()).startsWith("SQLite format 3"),
                         qPrintable(plain.filePath()));
        }
        // The undo is an encrypted partial backup too: it is restored with the password.
        RecordingSteps undo;
        undo.passwords = QStringList{QStringLiteral("correct horse")};
        result = UndoFlow(undo).undo(device);
        QVERIFY2(result.completed(), qPrintable(result.message));
        QCOMPARE(undo.steps, (QStringList{unlockStep, restoreStep}));
        QVERIFY(FixtureDatabases::countRows(sms, QStringLiteral("message")) > 0);
        phone->remove();
    }

    // Settings that forbid a backup stop the flow before any step; iCloud is named first.
    void blockedBySettings()
    {
        auto [phone, device] = attach(QStringLiteral("9.3.5"), [](SimDeviceFolder& p) {
            p.setValues(
                QStringLiteral("com.apple.mobile.backup"),
                {{QStringLiteral("CloudBackupEnabled"), true}, {QStringLiteral("WillEncrypt"), true}});
        });
        RecordingSteps runner;
        const FlowResult result = BackupCleanFlow(runner).scan(BackupPanel::systemJunk(), device);
        QCOMPARE(result.ending, FlowResult::Ending::Blocked);
        QCOMPARE(result.picture, QStringLiteral(":res/close_icloudbk.jpg"));
        QVERIFY(runner.steps.isEmpty());
        QVERIFY(!QDir(m_backups.filePath(QStringLiteral("__vantelmoor_iosbk_temp/") + device.uniqueDeviceId))
                     .exists());
        phone->remove();
    }

    // A backup file written while the disk was full comes out short, and idevicebackup2 still says
    // "Backup Successful.": the check after the backup finds it (and a missing one) before any
    // edit, and the folder is no base for the next backup.
    void aBackupNotWrittenWholeIsNeverEdited()
    {
        auto [phone, device] = attach(QStringLiteral("14.8"));
        const auto before = phoneFiles(*phone);
        const QDir full(
            m_backups.filePath(QStringLiteral("__vantelmoor_iosbk_temp/") + device.uniqueDeviceId));
        RecordingSteps runner;
        runner.before = [&](const QString& step) {
            if (step != checkStep)
                return;
            QFile::resize(BackupManifest::backupFilePath(full, KnownDatabases::messages.fileName(),
                                                         BackupManifest::Format::Db),
                          0);
            QFile::remove(BackupManifest::backupFilePath(
                full,
                backupFileName(QStringLiteral("CameraRollDomain"),
                               QStringLiteral("Media/DCIM/100APPLE/IMG_1000.JPG")),
                BackupManifest::Format::Db));
        };
        const FlowResult result =
            BackupCleanFlow(runner).freeUp(BackupPanel::unwantedData(), device, {QStringLiteral("messages")});
        QCOMPARE(result.ending, FlowResult::Ending::Failed);
        QCOMPARE(result.message, BackupCheckThread::incompleteText(2, full.absolutePath()));
        QCOMPARE(runner.steps, (QStringList{backupStep, checkStep}));
        QCOMPARE(phoneFiles(*phone), before);
        QCOMPARE(BackupStatus::snapshotState(full), QStringLiteral("uncommitted"));
        phone->remove();
    }

    // A failing cleaner ends the flow with its error, already shown by its step; nothing is
    // restored.
    void failingCleanerRestoresNothing()
    {
        auto [phone, device] = attach(QStringLiteral("9.3.5"));
        SimDeviceFolder::writeFile(SimPhonePaths::file(*phone,
                                                       QStringLiteral("AppDomain-com.apple.mobilesafari"),
                                                       QStringLiteral("Library/Safari/History.db")),
                                   QByteArray(8192, 'x'));
        RecordingSteps runner;
        const FlowResult result =
            BackupCleanFlow(runner).freeUp(BackupPanel::unwantedData(), device, {QStringLiteral("safari")});
        QCOMPARE(result.ending, FlowResult::Ending::Failed);
        QVERIFY(result.reported);
        QVERIFY(result.message.contains(QStringLiteral("file is not a database")));
        QCOMPARE(runner.steps.last(), QStringLiteral("IOSClearSafariThread"));
        phone->remove();
    }

    // Containers the phone keeps closed are named and left alone: no backup, no restore.
    void appsRefusedContainersAreNamed()
    {
        auto [phone, device] = attach(QStringLiteral("9.3.5"), [](SimDeviceFolder& p) {
            p.setSwitch(QStringLiteral("RefusedContainers"), SimPhonePaths::appIdentifiers(1));
        });
        QList<AppInfo> apps;
        for (const QString& id : SimPhonePaths::appIdentifiers(3))
            apps << AppInfo{id, id};
        RecordingSteps runner;
        AppCacheFlow flow(runner);
        const FlowResult scan = flow.scan(device, apps);
        QVERIFY(scan.completed());
        QCOMPARE(runner.steps, QStringList{QStringLiteral("IOSClearAppCacheThread")});
        QCOMPARE(scan.refusedApps, SimPhonePaths::appIdentifiers(1));
        QCOMPARE(scan.items.first().found, -1);
        QVERIFY(scan.items.at(1).found > 0);

        runner.steps.clear();
        const FlowResult freed = flow.freeUp(device, apps);
        QVERIFY2(freed.completed(), qPrintable(freed.message));
        QCOMPARE(runner.steps, QStringList{QStringLiteral("IOSClearAppCacheThread")});
        QVERIFY2(freed.closingText.contains(QStringLiteral("keeps the containers of %1 closed")
                                                .arg(SimPhonePaths::appIdentifiers(1).first())),
                 qPrintable(freed.closingText));
        QCOMPARE(freed.cleared, scan.found);
        QVERIFY(!freed.restored);

        // With every container open, no backup: the closing text is the worker's own count.
        runner.steps.clear();
        const FlowResult open = flow.freeUp(device, apps.mid(1));
        QCOMPARE(runner.steps, QStringList{QStringLiteral("IOSClearAppCacheThread")});
        QCOMPARE(open.closingText, QStringLiteral("Successfully deleted 0.0 KB App cache (Total: 0.0 KB)."));
        phone->remove();
    }
};

QTEST_GUILESS_MAIN(TestFlows)
#include "TestFlows.moc"
