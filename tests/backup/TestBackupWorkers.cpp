#include "AppFolders.h"
#include "BackupFixture.h"
#include "BackupStatus.h"
#include "FormatSize.h"
#include "FrameworkLoader.h"
#include "IOSClearSysThread.h"
#include "IOSMobileBackupThread.h"
#include "IOSMobileRestoreThread.h"
#include "MobileDeviceManager.h"
#include "SimDeviceFolder.h"
#include "StepMonitor.h"
#include "WorkerRun.h"
#include "backup2tool.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The backup and restore workers with the simulated device framework and its backup tool.
class TestBackupWorkers : public QObject
{
    Q_OBJECT
public slots:
    void iosDeviceConnected(void* device) { m_arrived << device; }
    void iosDeviceDisconnected(void*) {}

private:
    QTemporaryDir m_simRoot;
    QTemporaryDir m_backupRoot;
    QList<void*> m_arrived;
    MobileDeviceNotificationContext m_context;

    IOSDevice attach()
    {
        const qsizetype before = m_arrived.size();
        if (!QTest::qWaitFor([&] { return m_arrived.size() > before; }, 5000))
            return IOSDevice();
        return mobiledevice_read_device(m_arrived.last());
    }
    static void deviceFile(SimDeviceFolder& phone, const QString& domainPath, const QByteArray& content)
    {
        SimDeviceFolder::writeFile(phone.dir().filePath(QStringLiteral("files/") + domainPath), content);
    }
    static WorkerRun backup(const IOSDevice& device, QDir* folder = nullptr)
    {
        StepMonitor monitor;
        IOSMobileBackupThread worker(device, &monitor, nullptr);
        if (folder)
            *folder = worker.backupFolder();
        return runWorker(worker, monitor);
    }
    static WorkerRun restore(const IOSDevice& device, const QDir& folder)
    {
        StepMonitor monitor;
        IOSMobileRestoreThread worker(device, folder, &monitor, nullptr);
        return runWorker(worker, monitor);
    }
    static void writePlist(const QString& path, const QVariantMap& value)
    {
        SimDeviceFolder::writeFile(path, toPlistXml(value));
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qputenv("SPACEWELL_FRAMEWORK_DIR", SPACEWELL_TEST_FRAMEWORKS "/sim");
        qputenv("SPACEWELL_SIM_ROOT", m_simRoot.path().toUtf8());
        QString error;
        QVERIFY(load_apple_framework(error));
        m_context.receiver = this;
        QCOMPARE(mobiledevice_subscribe(&m_context), 0);
        // Backups go to a folder of the test's own.
        QFile memory(appDataDir().filePath(QStringLiteral("__vantelmoor_iosbk_temp.path")));
        QVERIFY(memory.open(QIODevice::WriteOnly | QIODevice::Truncate));
        memory.write(m_backupRoot.path().toUtf8());
    }

    void reuseRule_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("withManifest");
        QTest::addColumn<bool>("reusable");
        QTest::newRow("finished, same version") << "finished"
                                                << "9.3.5" << true << true;
        QTest::newRow("finished, system updated") << "finished"
                                                  << "10.0" << true << false;
        QTest::newRow("not finished") << "new"
                                      << "9.3.5" << true << false;
        QTest::newRow("state in other case") << "Finished"
                                             << "9.3.5" << true << false;
        QTest::newRow("no Manifest.mbdb") << "finished"
                                          << "9.3.5" << false << false;
    }

    void reuseRule()
    {
        QFETCH(QString, state);
        QFETCH(QString, version);
        QFETCH(bool, withManifest);
        QFETCH(bool, reusable);
        QTemporaryDir d;
        writePlist(d.filePath(QStringLiteral("Status.plist")), {{QStringLiteral("SnapshotState"), state}});
        writePlist(d.filePath(QStringLiteral("Manifest.plist")),
                   {{QStringLiteral("Lockdown"), QVariantMap{{QStringLiteral("ProductVersion"), version}}}});
        if (withManifest)
            SimDeviceFolder::writeFile(d.filePath(QStringLiteral("Manifest.mbdb")),
                                       QByteArray("mbdb\x05\x00", 6));
        QCOMPARE(IOSMobileBackupThread::isReusableBackup(QDir(d.path()), QStringLiteral("9.3.5")), reusable);
        // A restore from it that never ended (the program killed) left Info.plist hidden.
        SimDeviceFolder::writeFile(d.filePath(QStringLiteral("Info.plist-1765300000000")), "<plist/>");
        QVERIFY(!IOSMobileBackupThread::isReusableBackup(QDir(d.path()), QStringLiteral("9.3.5")));
    }

    void backupCleanRestoreEndToEnd()
    {
        SimDeviceFolder phone(m_simRoot.path(), QStringLiteral("e2e"));
        deviceFile(phone, QStringLiteral("HomeDomain/Library/Caches/com.apple.x/cache.db"),
                   QByteArray(4000, 'c'));
        deviceFile(phone, QStringLiteral("RootDomain/Library/Caches/locationd/cache.plist"),
                   QByteArray(300, 'r'));
        deviceFile(phone, QStringLiteral("HomeDomain/Library/Preferences/com.apple.springboard.plist"),
                   "prefs");
        deviceFile(phone, QStringLiteral("MediaDomain/DCIM/100APPLE/IMG_0001.JPG"), QByteArray(5000, 'j'));
        deviceFile(phone, QStringLiteral("AppDomain-com.example/Library/Caches/keep.db"),
                   QByteArray(10, 'k'));
        const IOSDevice device = attach();

        QDir folder;
        QVERIFY(backup(device, &folder).succeeded);
        QCOMPARE(folder.absolutePath(),
                 QDir(m_backupRoot.path()).filePath(QStringLiteral("__vantelmoor_iosbk_temp")));
        const QDir d(folder.filePath(device.uniqueDeviceId));
        QVERIFY(IOSMobileBackupThread::isReusableBackup(d, device.productVersion));

        // Library/Caches is in no backup, on iOS 9 too (Apple's guidance on app backups since iOS 5):
        // the cache cleaner finds nothing to clear.
        StepMonitor monitor;
        IOSClearSysThread cleaner(d, &monitor, nullptr);
        QVERIFY(runWorker(cleaner, monitor).succeeded);
        QCOMPARE(cleaner.clearedBytes, 0);

        // A restore in update mode keeps what the backup does not list, among it a file that came
        // after the backup (pymobiledevice3 issue 1053; libimobiledevice tools/idevicebackup2.c).
        deviceFile(phone, QStringLiteral("MediaDomain/DCIM/100APPLE/IMG_0002.JPG"), "new");
        const auto beforeRestore =
            BackupFixture::snapshot(QDir(phone.dir().filePath(QStringLiteral("files"))));
        const WorkerRun r = restore(device, folder);
        QVERIFY2(r.succeeded, qPrintable(r.reports.join(QLatin1Char('\n'))));
        QVERIFY(QFile::exists(d.filePath(QStringLiteral("Info.plist"))));
        QCOMPARE(BackupFixture::snapshot(QDir(phone.dir().filePath(QStringLiteral("files")))), beforeRestore);

        // The next backup of the same system version builds on this one.
        QVERIFY(backup(device).succeeded);
        QVERIFY(IOSMobileBackupThread::isReusableBackup(d, device.productVersion));
        phone.remove();
    }

    void failedBackupRemovesTheFolder()
    {
        SimDeviceFolder phone(m_simRoot.path(), QStringLiteral("failing"));
        deviceFile(phone, QStringLiteral("HomeDomain/a"), "a");
        const IOSDevice device = attach();
        QDir folder;
        QVERIFY(backup(device, &folder).succeeded);
        const QString d = folder.filePath(device.uniqueDeviceId);
        QVERIFY(QFileInfo::exists(d));
        phone.setSwitch(QStringLiteral("BackupError"), QStringList{QStringLiteral("<b>disk</b> failure")});
        const WorkerRun r = backup(device);
        QVERIFY(!r.succeeded);
        QVERIFY(!QFileInfo::exists(d));
        QCOMPARE(r.reports.size(), 1);
        QVERIFY2(r.reports.at(0).contains(QStringLiteral("Error: &lt;b&gt;disk&lt;/b&gt; failure")),
                 qPrintable(r.reports.at(0)));
        QVERIFY(r.reports.at(0).contains(
            QStringLiteral("<br/><br/>Note: You can restart your device to try again.")));

        // From iOS 16.1 the phone asks for its passcode when a backup starts; unanswered, it says
        // "Device locked" (208; libimobiledevice issues 1380, 1601, 1692): advice, never a restart.
        phone.setSwitch(QStringLiteral("BackupError"), QStringList());
        phone.setSwitch(QStringLiteral("PasscodeNotEntered"), true);
        phone.setSwitch(QStringLiteral("PasscodeWaitSeconds"), 0);
        phone.setRootValue(QStringLiteral("ProductVersion"), QStringLiteral("16.1"));
        const IOSDevice locked = mobiledevice_read_device(m_arrived.last());
        const WorkerRun refused = backup(locked);
        QVERIFY(!refused.succeeded);
        QVERIFY2(refused.reports.value(0).startsWith(QStringLiteral("The device did not allow the backup.")),
                 qPrintable(refused.reports.value(0)));
        QVERIFY(!refused.reports.value(0).contains(QStringLiteral("restart")));
        // Before 16.1 there is no such prompt.
        phone.setRootValue(QStringLiteral("ProductVersion"), QStringLiteral("16.0"));
        QVERIFY(backup(mobiledevice_read_device(m_arrived.last())).succeeded);
        phone.remove();
    }

    void restoreFailuresKeepInfoPlistAndEndTheBackup_data()
    {
        QTest::addColumn<QString>("switchName");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Find My iPhone")
            << "FindMyIPhone" << QVariant(true)
            << "Please follow <a href=\"http://127.0.0.1:9/guides/how-to-disable-find-my-iphone.html\"> "
               "this tutorial</a> to disable \"Find my iPhone\" first and then restart your "
               "iPhone to try again.<br/><br/>";
        QTest::newRow("too little space") << "DeviceFreeBytes" << QVariant(10) << "The device needs ";
    }

    void restoreFailuresKeepInfoPlistAndEndTheBackup()
    {
        QFETCH(QString, switchName);
        QFETCH(QVariant, value);
        QFETCH(QString, shown);
        SimDeviceFolder phone(m_simRoot.path(), QStringLiteral("restore-") + switchName);
        deviceFile(phone, QStringLiteral("HomeDomain/Library/Preferences/a.plist"), QByteArray(100000, 'a'));
        const IOSDevice device = attach();
        QDir folder;
        QVERIFY(backup(device, &folder).succeeded);
        phone.setSwitch(switchName, value);
        const WorkerRun r = restore(device, folder);
        QVERIFY(!r.succeeded);
        QVERIFY2(r.reports.value(0).contains(shown), qPrintable(r.reports.value(0)));
        QVERIFY(QFile::exists(folder.filePath(device.uniqueDeviceId + QStringLiteral("/Info.plist"))));
        QCOMPARE(QDir(folder.filePath(device.uniqueDeviceId)).entryList({QStringLiteral("Info.plist-*")}),
                 QStringList());
        // The phone did not take the backup: the next one does not build on it.
        QVERIFY(!IOSMobileBackupThread::isReusableBackup(QDir(folder.filePath(device.uniqueDeviceId)),
                                                         device.productVersion));
        phone.remove();
    }

    // A backup whose editing stopped half-way (its Status.plist no longer says "finished") never
    // reaches the phone: the worker refuses it, and so does the backup tool, as idevicebackup2
    // does ("Cannot ensure we restore from a successful backup").
    void unfinishedBackupIsNeverRestored()
    {
        SimDeviceFolder phone(m_simRoot.path(), QStringLiteral("half-edited"));
        deviceFile(phone, QStringLiteral("HomeDomain/Library/Caches/c.db"), QByteArray(300, 'c'));
        deviceFile(phone, QStringLiteral("HomeDomain/Library/Preferences/a.plist"), "a");
        const IOSDevice device = attach();
        const auto before = BackupFixture::snapshot(QDir(phone.dir().filePath(QStringLiteral("files"))));
        QDir folder;
        QVERIFY(backup(device, &folder).succeeded);
        const QDir d(folder.filePath(device.uniqueDeviceId));
        // A cleaner changed the folder and failed before it was whole again.
        BackupEditMark mark(d);
        mark.markChanging();
        QFile::remove(d.filePath(QStringLiteral("Manifest.mbdb")));
        SimDeviceFolder::writeFile(d.filePath(QStringLiteral("Manifest.mbdb")),
                                   QByteArray("mbdb\x05\x00", 6));

        const WorkerRun r = restore(device, folder);
        QVERIFY(!r.succeeded);
        QVERIFY2(r.reports.value(0).contains(IOSMobileRestoreThread::unfinishedBackupText()),
                 qPrintable(r.reports.value(0)));
        QVERIFY(QFile::exists(d.filePath(QStringLiteral("Info.plist"))));
        QCOMPARE(BackupFixture::snapshot(QDir(phone.dir().filePath(QStringLiteral("files")))), before);

        // The tool on its own refuses it too.
        QProcess tool;
        tool.start(backup2tool::toolPath(),
                   {QStringLiteral("-u"), device.uniqueDeviceId, QStringLiteral("--restore"),
                    QStringLiteral("--target"), device.uniqueDeviceId, QStringLiteral("--root"),
                    folder.absolutePath(), QStringLiteral("--source"), device.uniqueDeviceId});
        QVERIFY(tool.waitForFinished(30000));
        QVERIFY(QString::fromUtf8(tool.readAll())
                    .contains(QStringLiteral("Cannot ensure we restore from a successful backup")));
        QCOMPARE(BackupFixture::snapshot(QDir(phone.dir().filePath(QStringLiteral("files")))), before);

        // The next backup starts afresh instead of building on it.
        QVERIFY(!IOSMobileBackupThread::isReusableBackup(d, device.productVersion));
        QVERIFY(backup(device).succeeded);
        QVERIFY(BackupStatus::isFinished(d));
        phone.remove();
    }

    // Cancel pressed while a large old backup is still being removed is not lost: the step ends
    // there, and no new backup is made.
    void cancelWhileAnOldBackupIsRemoved()
    {
        SimDeviceFolder phone(m_simRoot.path(), QStringLiteral("cancel-early"));
        deviceFile(phone, QStringLiteral("HomeDomain/Library/Preferences/a.plist"), "a");
        phone.setSwitch(QStringLiteral("BackupSeconds"), 3);
        const IOSDevice device = attach();
        const QDir d(QDir(m_backupRoot.path())
                         .filePath(QStringLiteral("__vantelmoor_iosbk_temp/") + device.uniqueDeviceId));
        // An unfinished backup from an earlier run: no Status.plist, many files.
        for (int i = 0; i < 4000; ++i)
            SimDeviceFolder::writeFile(
                d.filePath(QStringLiteral("%1/%2").arg(i % 256, 2, 16, QLatin1Char('0')).arg(i)), "x");
        StepMonitor monitor;
        IOSMobileBackupThread worker(device, &monitor, nullptr);
        QTimer::singleShot(0, &monitor, [&monitor] { monitor.cancel(); });
        const WorkerRun r = runWorker(worker, monitor);
        QVERIFY(!r.succeeded);
        QVERIFY(r.reports.isEmpty());
        QVERIFY(!BackupStatus::isFinished(d));
        phone.remove();
    }

    void failureTexts()
    {
        // The phone's own words (libimobiledevice issue 460): the shortfall is what to free.
        const QString space = IOSMobileRestoreThread::failureText(
            QStringLiteral("ErrorCode 105: Insufficient free disk space on device to restore (44526002176 < "
                           "51895967372)"));
        QVERIFY2(
            space.startsWith(QStringLiteral("The device needs %1 more free space for the restore: it has %2 "
                                            "free and the restore takes %3.")
                                 .arg(formatSize(51895967372 - 44526002176), formatSize(44526002176),
                                      formatSize(51895967372))),
            qPrintable(space));
        QVERIFY(!space.contains(QStringLiteral("restart")));
        const QString gone = IOSMobileRestoreThread::failureText(
            QStringLiteral("Error: the device was disconnected during the restore."));
        QVERIFY2(gone.contains(QStringLiteral("unchanged")) && !gone.contains(QStringLiteral("restart")),
                 qPrintable(gone));
        const QString disk = IOSMobileBackupThread::failureText(
            QStringLiteral("Error: not enough free space for the backup in /home/x: 10 bytes free"));
        QVERIFY2(disk.startsWith(QStringLiteral("This computer has too little free space")) &&
                     !disk.contains(QStringLiteral("restart")),
                 qPrintable(disk));
        QCOMPARE(
            IOSMobileRestoreThread::failureText(QStringLiteral("find my iphone MUST be disabled")).left(14),
            QStringLiteral("Please follow "));
        QCOMPARE(IOSMobileRestoreThread::failureText(QStringLiteral("Error: <i>x</i>")),
                 QStringLiteral(
                     "Error: &lt;i&gt;x&lt;/i&gt;<br/><br/>Note: You can restart your device to try again."));
    }
};

QTEST_GUILESS_MAIN(TestBackupWorkers)
#include "TestBackupWorkers.moc"
