// The real-device framework build, libimobiledevice and libusbmuxd against the emulated daemon:
// the device manager and the app workers as the program runs them.
#include "AfcConnection.h"
#include "AppFolders.h"
#include "EmulatorProcess.h"
#include "FrameworkLoader.h"
#include "IOSClearAppCacheThread.h"
#include "IOSDevice.h"
#include "IOSLoadAppThread.h"
#include "MobileDeviceManager.h"
#include "SimDeviceFolder.h"
#include "StepMonitor.h"
#include "WorkerRun.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>

#include <usbmuxd.h>

class TestUsbmuxDevice : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    EmulatorProcess m_emulator;
    MobileDeviceNotificationContext m_context;
    QList<void*> m_arrived;
    QList<void*> m_removed;

    // Waits for the next arrival.
    void* nextArrival()
    {
        const qsizetype before = m_arrived.size();
        return QTest::qWaitFor([&] { return m_arrived.size() > before; }, 10000) ? m_arrived.last() : nullptr;
    }
    static QByteArray png()
    {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::green);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

public slots:
    void iosDeviceConnected(void* device) { m_arrived << device; }
    void iosDeviceDisconnected(void* device) { m_removed << device; }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // As in the program: Qt Test's crash handler would make a broken pipe fatal by itself.
        signal(SIGPIPE, SIG_DFL);
        const QString error = m_emulator.start(m_root.path());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QString loadError;
        QVERIFY2(load_apple_framework(loadError), qPrintable(loadError));
        m_context.receiver = this;
        QCOMPARE(mobiledevice_subscribe(&m_context), 0);
        // A second window subscribes again: arrivals must not come twice.
        QCOMPARE(mobiledevice_subscribe(&m_context), 0);
        // libimobiledevice writes without MSG_NOSIGNAL: a phone gone mid-write must not end us.
        struct sigaction pipe
        {
        };
        QCOMPARE(sigaction(SIGPIPE, nullptr, &pipe), 0);
        QVERIFY(pipe.sa_handler == SIG_IGN);
    }

    void onlyUsbPhonesArriveAndLeave()
    {
        // On Wi-Fi from the moment it appears: the emulator reads the switch when it first sees
        // the folder.
        QTemporaryDir staging;
        SimDeviceFolder wifi(staging.path(), QStringLiteral("wifi"), QStringLiteral("WIFI-0001"));
        wifi.setSwitch(QStringLiteral("Network"), true);
        QVERIFY(wifi.moveTo(m_root.path()));
        QTest::qWait(400);
        QCOMPARE(mobiledevice_daemon_answers(), 1); // no phone, but the daemon is there
        SimDeviceFolder usb(m_root.path(), QStringLiteral("usb"), QStringLiteral("USB-0001"));
        void* device = nextArrival();
        QVERIFY(device);
        QTest::qWait(400);
        QCOMPARE(m_arrived.size(), 1); // the phone on Wi-Fi never shows
        QCOMPARE(mobiledevice_read_device(device).uniqueDeviceId, QStringLiteral("USB-0001"));

        usb.remove();
        QTRY_COMPARE_WITH_TIMEOUT(m_removed.size(), 1, 10000);
        QCOMPARE(m_removed.last(), device);
        wifi.remove();
    }

    void pairingAnswersAsThePhoneDoes()
    {
        SimDeviceFolder phone(m_root.path(), QStringLiteral("pairing"), QStringLiteral("PAIR-0001"));
        phone.setSwitch(QStringLiteral("TrustTapped"), false);
        void* device = nextArrival();
        QVERIFY(device);
        const struct
        {
            const char* key;
            bool value;
            int code;
        } steps[] = {{"PasscodeLocked", true, -17},
                     {"PasscodeLocked", false, -19},
                     {"UserDenied", true, -18},
                     {"UserDenied", false, -19}};
        for (const auto& step : steps) {
            phone.setSwitch(QLatin1String(step.key), step.value);
            QString error;
            QCOMPARE(mobiledevice_connect(device, error), step.code);
            QVERIFY2(error.contains(QStringLiteral("AMDevicePair(%1)").arg(step.code)), qPrintable(error));
            QVERIFY(!QFile::exists(m_emulator.pairRecordPath(phone.udid())));
            // A refused pairing leaves no lockdown connection open behind it.
            QTRY_COMPARE(m_emulator.openConnections(), 0);
        }

        // Trust tapped: paired once, the record kept by the daemon, later connections reuse it.
        phone.setSwitch(QStringLiteral("TrustTapped"), true);
        QString error;
        QCOMPARE(mobiledevice_connect(device, error), 0);
        mobiledevice_disconnect(device);
        QVERIFY(QFile::exists(m_emulator.pairRecordPath(phone.udid())));
        phone.setSwitch(QStringLiteral("TrustTapped"), false);
        QCOMPARE(mobiledevice_connect(device, error), 0);
        mobiledevice_disconnect(device);

        // The record removed on this computer (idevicepair unpair does it): paired again.
        QCOMPARE(usbmuxd_delete_pair_record(phone.udid().toUtf8().constData()), 0);
        QVERIFY(!QFile::exists(m_emulator.pairRecordPath(phone.udid())));
        QCOMPARE(mobiledevice_connect(device, error), -19);
        QVERIFY(error.contains(QStringLiteral("AMDevicePair(-19)")));
        phone.setSwitch(QStringLiteral("TrustTapped"), true);
        QCOMPARE(mobiledevice_connect(device, error), 0);
        mobiledevice_disconnect(device);
        QVERIFY(QFile::exists(m_emulator.pairRecordPath(phone.udid())));
        phone.setSwitch(QStringLiteral("TrustTapped"), false);

        // The phone forgot this computer while the daemon kept the old record: it asks for
        // trust again instead of refusing the stale record on every connect.
        phone.setSwitch(QStringLiteral("Paired"), false);
        QCOMPARE(mobiledevice_connect(device, error), -19);
        QVERIFY(error.contains(QStringLiteral("AMDeviceValidatePairing(-19)")));
        QTRY_COMPARE(m_emulator.openConnections(), 0);
        phone.setSwitch(QStringLiteral("TrustTapped"), true);
        QCOMPARE(mobiledevice_connect(device, error), 0);
        mobiledevice_disconnect(device);
        phone.remove();
    }

    void valuesOfThePhone()
    {
        // Older phones have 40-character identifiers, longer than the device record's field.
        const QString udid = QStringLiteral("5a1f0c3be2d94e7f8a6b0c1d2e3f405162738495");
        SimDeviceFolder phone(m_root.path(), QStringLiteral("Ann’s iPhone"), udid);
        phone.setValues(QStringLiteral("com.apple.disk_usage"),
                        {{QStringLiteral("TotalDataCapacity"), qint64(64000000000)},
                         {QStringLiteral("AmountDataAvailable"), qint64(1000)}});
        void* device = nextArrival();
        QVERIFY(device);
        const IOSDevice record = mobiledevice_read_device(device);
        QCOMPARE(record.uniqueDeviceId, udid);
        QCOMPARE(record.deviceName, QStringLiteral("Ann’s iPhone"));
        QVERIFY(!record.productType.isEmpty());
        QVERIFY(!record.productVersion.isEmpty());

        const QList<CFType> values = mobiledevice_copy_values(
            device, {QStringLiteral("TotalDataCapacity"), QStringLiteral("NoSuchKey"), QString()},
            QStringLiteral("com.apple.disk_usage"));
        QCOMPARE(values.size(), 3);
        QCOMPARE(values.at(0).toLongLong(), qint64(64000000000));
        QVERIFY(values.at(1).isNull());
        QCOMPARE(values.at(2).value(QStringLiteral("AmountDataAvailable")).toLongLong(), 1000);
        phone.remove();
    }

    // Lockdown sessions always run over TLS. A phone on iOS 10 or later refuses TLS below 1.2 and
    // opens TLS 1.3 sessions with session tickets (records with no data), which must not hold up
    // the services carried through the framework's SSL bridge; an iOS 9 phone gets TLS 1.0.
    void appListIconsAndCaches_data()
    {
        QTest::addColumn<bool>("ssl");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("tls");
        QTest::newRow("plain services, iOS 9") << false << "9.3.5"
                                               << "TLSv1";
        QTest::newRow("services over SSL, iOS 9") << true << "9.3.5"
                                                  << "TLSv1";
        QTest::newRow("services over SSL, iOS 14") << true << "14.8"
                                                   << "TLSv1.3";
    }

    void appListIconsAndCaches()
    {
        QFETCH(bool, ssl);
        QFETCH(QString, version);
        QFETCH(QString, tls);
        const QString tag = QStringLiteral("%1%2").arg(ssl).arg(version.section(QLatin1Char('.'), 0, 0));
        SimDeviceFolder phone(m_root.path(), QStringLiteral("apps") + tag, QStringLiteral("APPS-00") + tag);
        phone.setRootValue(QStringLiteral("ProductVersion"), version);
        phone.setSwitch(QStringLiteral("BrowseBatchSize"), 1);
        if (ssl) // the framework carries these through its SSL bridge
            phone.setSwitch(QStringLiteral("SslServices"),
                            QStringList{QStringLiteral("com.apple.mobile.installation_proxy"),
                                        QStringLiteral("com.apple.mobile.house_arrest")});
        QElapsedTimer clock;
        clock.start();
        const QDir mail = phone.addApp(QStringLiteral("com.example.mail"), QStringLiteral("Mail"));
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("iTunesArtwork")), png());
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("Library/Caches/a/b.db")),
                                   QByteArray(3000, 'a'));
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("Library/tmp/upload.part")),
                                   QByteArray(70, 't'));
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("Documents/keep.txt")), "keep");
        phone.addApp(QStringLiteral("com.example.store"), QStringLiteral("Store"));
        phone.setSwitch(QStringLiteral("RefusedContainers"),
                        QStringList{QStringLiteral("com.example.store")});
        IOSDevice device = mobiledevice_read_device(nextArrival());
        QVERIFY(device.device);

        StepMonitor loadmonitor;
        IOSLoadAppThread loader(device, &loadmonitor, nullptr);
        QVERIFY(runWorker(loader, loadmonitor).succeeded);
        QCOMPARE(loader.apps.size(), 2);
        QCOMPARE(loader.apps.at(0).name, QStringLiteral("Mail"));
        const QString icon =
            appCacheDir(device, QStringLiteral("com.example.mail")).filePath(QStringLiteral("iTunesArtwork"));
        QCOMPARE(QImage(icon).pixelColor(0, 0), QColor(Qt::green));

        // The container probe: house arrest opens one container and refuses the other.
        AfcConnection(device.device).open(QStringLiteral("com.example.mail"));
        QVERIFY_THROWS_EXCEPTION(std::exception,
                                 AfcConnection(device.device).open(QStringLiteral("com.example.store")));

        const QList<AppInfo> mailOnly{loader.apps.at(0)};
        StepMonitor scanmonitor;
        IOSClearAppCacheThread scan(device, mailOnly, &scanmonitor, nullptr);
        scan.scanOnly = true;
        // The window keeps reading values on its own thread while the worker scans (slowly).
        phone.setSwitch(QStringLiteral("ReplyDelayMs"), 20);
        QStringList names;
        QTimer reader;
        connect(&reader, &QTimer::timeout, this, [&] {
            try {
                names << mobiledevice_copy_values(device.device, {QStringLiteral("DeviceName")}, QString())
                             .value(0)
                             .toString();
            } catch (const std::exception& e) {
                names << QString::fromUtf8(e.what());
            }
        });
        reader.start(5);
        const WorkerRun scanRun = runWorker(scan, scanmonitor);
        reader.stop();
        QVERIFY2(scanRun.succeeded, qPrintable(scanRun.reports.join(QLatin1Char('\n'))));
        phone.setSwitch(QStringLiteral("ReplyDelayMs"), 0);
        QVERIFY(!names.isEmpty());
        QVERIFY2(names.filter(QStringLiteral("apps") + tag).size() == names.size(),
                 qPrintable(names.join(QLatin1Char('\n'))));
        QCOMPARE(scan.totalSize(), qint64(3070));
        QVERIFY(QFile::exists(mail.filePath(QStringLiteral("Library/Caches/a/b.db"))));

        StepMonitor cleanmonitor;
        IOSClearAppCacheThread clean(device, mailOnly, &cleanmonitor, nullptr);
        QVERIFY(runWorker(clean, cleanmonitor).succeeded);
        QVERIFY(!QFile::exists(mail.filePath(QStringLiteral("Library/Caches/a/b.db"))));
        QVERIFY(!QFile::exists(mail.filePath(QStringLiteral("Library/tmp/upload.part"))));
        QVERIFY(QFile::exists(mail.filePath(QStringLiteral("Documents/keep.txt"))));
        qDebug("app list, probe, scan and clean: %lld ms", clock.elapsed());
        const QStringList sessions = m_emulator.tlsSessions(phone.udid());
        QVERIFY(sessions.contains(QStringLiteral("lockdown ") + tls));
        QCOMPARE(sessions.contains(QStringLiteral("service ") + tls), ssl);
        for (const QString& session : sessions)
            QVERIFY2(session.endsWith(QLatin1Char(' ') + tls), qPrintable(session));
        phone.remove();
    }

    // Before idevicebackup2 starts, the backup tool checks the disk against the device's last
    // backup; what the phone holds in all (capacity less available) counts the system and apps,
    // which no backup holds, so a nearly full phone is still backed up.
    void backupToolChecksTheFreeSpace()
    {
        SimDeviceFolder phone(m_root.path(), QStringLiteral("full"), QStringLiteral("FULL-0001"));
        QVERIFY(nextArrival());
        phone.setValues(QStringLiteral("com.apple.disk_usage"),
                        {{QStringLiteral("TotalDataCapacity"), qint64(1) << 60},
                         {QStringLiteral("AmountDataAvailable"), qint64(1000)}});
        const QString root = m_root.filePath(QStringLiteral(".backups"));
        auto backUp = [&] {
            QProcess tool;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("SPACEWELL_IDEVICEBACKUP2"), QStringLiteral("true"));
            tool.setProcessEnvironment(env);
            tool.setProcessChannelMode(QProcess::MergedChannels);
            tool.start(QStringLiteral(SPACEWELL_TEST_FRAMEWORKS "/usbmux/AppleMobileBackup"),
                       {QStringLiteral("-u"), phone.udid(), QStringLiteral("--backup"),
                        QStringLiteral("--target"), phone.udid(), QStringLiteral("--root"), root});
            tool.waitForFinished(60000);
            return QString::fromUtf8(tool.readAll());
        };
        QVERIFY(!backUp().contains(QStringLiteral("Error")));
        // A last backup larger than the disk's free space (a sparse file: nothing is written).
        QDir().mkpath(root + QStringLiteral("/FULL-0001"));
        QFile huge(root + QStringLiteral("/FULL-0001/ab"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 42));
        huge.close();
        const QString full = backUp();
        huge.remove();
        QVERIFY2(full.contains(QStringLiteral("Error: not enough free space for the backup")),
                 qPrintable(full));
        phone.remove();
    }

    // A test run that is killed leaves no emulator behind; one started by hand from a shell that
    // then exits runs on.
    void emulatorEndsWithItsParent()
    {
        QTemporaryDir dir;
        qputenv("SPACEWELL_EMULATOR_TIED", "1");
        QProcess parent;
        parent.start(QStringLiteral("/bin/sh"),
                     {QStringLiteral("-c"), QStringLiteral("\"$0\" \"$1\" \"$2\" & echo $!; wait"),
                      QStringLiteral(SPACEWELL_USBMUXD_EMULATOR), dir.filePath(QStringLiteral("socket")),
                      dir.filePath(QStringLiteral("state"))});
        QVERIFY(parent.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return parent.canReadLine() || parent.waitForReadyRead(100); }, 10000));
        const pid_t emulator = pid_t(parent.readLine().trimmed().toInt());
        QVERIFY(emulator > 0);
        auto alive = [emulator] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(emulator));
            // A zombie nobody has reaped yet is gone all the same.
            return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
        };
        QVERIFY(QTest::qWaitFor(
            [&] { return parent.readAll().contains("ready") || parent.waitForReadyRead(100); }, 30000));
        QVERIFY(alive());
        parent.kill(); // as a killed test run is: no chance to stop its children
        parent.waitForFinished();
        QTRY_VERIFY_WITH_TIMEOUT(!alive(), 10000);

        // As the README starts it, from a shell that exits at once.
        qunsetenv("SPACEWELL_EMULATOR_TIED");
        QProcess shell;
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), QStringLiteral("\"$0\" \"$1\" \"$2\" >\"$3\" 2>&1 & echo $!"),
                     QStringLiteral(SPACEWELL_USBMUXD_EMULATOR), dir.filePath(QStringLiteral("socket2")),
                     dir.filePath(QStringLiteral("state")), dir.filePath(QStringLiteral("said"))});
        QVERIFY(shell.waitForFinished(10000));
        qputenv("SPACEWELL_EMULATOR_TIED", "1");
        const pid_t byHand = pid_t(shell.readAll().trimmed().toInt());
        QVERIFY(byHand > 0);
        auto said = [&dir] {
            QFile f(dir.filePath(QStringLiteral("said")));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(said().contains("ready"), 30000);
        QTest::qWait(500);
        QVERIFY(QFile::exists(QStringLiteral("/proc/%1/stat").arg(byHand)));
        ::kill(byHand, SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(said().contains("stopped by signal 15"), 10000);
    }
};

QTEST_GUILESS_MAIN(TestUsbmuxDevice)
#include "TestUsbmuxDevice.moc"
