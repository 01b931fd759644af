#include "AppFolders.h"
#include "FileUtils.h"
#include "FormatSize.h"
#include "IOSDevice.h"
#include "Product.h"
#include "StepMonitor.h"
#include "StepRunner.h"

#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

class TestAppCore : public QObject
{
    Q_OBJECT

private:
    QString vendorDir() const { return QDir(roamingDir()).filePath(QStringLiteral("VantelMoor")); }
    QString redirectPath() const
    {
        return QDir(vendorDir()).filePath(QLatin1String(Product::productKey) + QLatin1String(".redirect"));
    }
    void writeRedirect(const QByteArray& content)
    {
        QDir().mkpath(vendorDir());
        QFile f(redirectPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    static void writeFile(const QString& path, const QByteArray& data = "x")
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        QFile::remove(redirectPath());
        resetAppDataDirForTests();
    }

    void appDataDirIsVendorFolderByDefault()
    {
        const QDir dir = appDataDir();
        QVERIFY(dir.exists());
        QCOMPARE(dir.absolutePath(), QDir(vendorDir()).absoluteFilePath(QLatin1String(Product::productKey)));
    }

    void redirectFileRules_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("followed");
        QTest::newRow("existing folder") << QString() << true;
        QTest::newRow("trailing line break is not trimmed") << QStringLiteral("\n") << false;
        QTest::newRow("missing folder") << QStringLiteral("/does-not-exist") << false;
    }

    void redirectFileRules()
    {
        QFETCH(QString, suffix);
        QFETCH(bool, followed);
        QTemporaryDir target;
        writeRedirect((target.path() + suffix).toUtf8());
        const QString expectedBase = followed ? target.path() : vendorDir();
        QCOMPARE(appDataDir().absolutePath(),
                 QDir(expectedBase).absoluteFilePath(QLatin1String(Product::productKey)));
    }

    void deviceAndAppCacheFolders()
    {
        IOSDevice device;
        device.uniqueDeviceId = QStringLiteral("00008030-001A2B3C4D5E6F70");
        const QDir deviceDir = deviceCacheDir(device);
        QVERIFY(deviceDir.exists());
        QCOMPARE(deviceDir.absolutePath(),
                 appDataDir().filePath(QStringLiteral("ios_cache/") + device.uniqueDeviceId));
        const QDir app = appCacheDir(device, QStringLiteral(" com.example/app:1 "));
        QCOMPARE(app.absolutePath(), deviceDir.filePath(QStringLiteral("com.exampleapp1")));
        QVERIFY(!app.exists());
    }

    void sanitizeFileName_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("colon slash question, blanks")
            << QStringLiteral("  my:fi/le?.txt  ") << QStringLiteral("myfile.txt");
        QTest::newRow("every forbidden character")
            << QStringLiteral("a\\b/c:d*e?f\"g<h>i|j\nk\rl\tm") << QStringLiteral("abcdefghijklm");
        QTest::newRow("inner blanks stay") << QStringLiteral("My App") << QStringLiteral("My App");
        QTest::newRow("nothing left") << QStringLiteral(" /:* ") << QString();
    }

    void sanitizeFileName()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(::sanitizeFileName(input), expected);
    }

    void plainFileNames()
    {
        QVERIFY(isPlainFileName(QStringLiteral("com.apple.mobilesafari")));
        QVERIFY(!isPlainFileName(QString()));
        QVERIFY(!isPlainFileName(QStringLiteral(".")));
        QVERIFY(!isPlainFileName(QStringLiteral("..")));
        QVERIFY(!isPlainFileName(QStringLiteral("a/b")));
    }

    void removeDirectoryDeletesNestedTrees()
    {
        QTemporaryDir tmp;
        const QString root = tmp.filePath(QStringLiteral("tree"));
        writeFile(root + QStringLiteral("/a.txt"));
        writeFile(root + QStringLiteral("/sub/b.txt"));
        writeFile(root + QStringLiteral("/sub/deeper/c.bin"));
        QDir().mkpath(root + QStringLiteral("/empty"));
        // Hidden files and folders, as a phone's Library/Preferences/.GlobalPreferences.plist.
        writeFile(root + QStringLiteral("/sub/.GlobalPreferences.plist"));
        writeFile(root + QStringLiteral("/.hidden/inside.txt"));
        writeFile(root + QStringLiteral("/.hidden/.deeper/.x"));
        removeDirectory(root);
        QVERIFY(!QFileInfo::exists(root));
        removeDirectory(tmp.filePath(QStringLiteral("missing"))); // nothing to do, no failure
    }

    void removeDirectoryNeverFollowsLinks()
    {
        QTemporaryDir tmp;
        const QString outside = tmp.filePath(QStringLiteral("outside"));
        writeFile(outside + QStringLiteral("/keep.txt"));
        const QString root = tmp.filePath(QStringLiteral("tree"));
        writeFile(root + QStringLiteral("/a.txt"));
        QVERIFY(QFile::link(outside, root + QStringLiteral("/link")));
        QVERIFY(QFile::link(outside, root + QStringLiteral("/.hidden-link")));
        QVERIFY(QFile::link(tmp.filePath(QStringLiteral("gone")), root + QStringLiteral("/broken")));
        removeDirectory(root);
        QVERIFY(!QFileInfo::exists(root));
        QVERIFY(QFileInfo::exists(outside + QStringLiteral("/keep.txt")));
    }

    void formatSizeBoundaries_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << QStringLiteral("0.0 KB");
        QTest::newRow("half a KB") << qint64(512) << QStringLiteral("0.5 KB");
        QTest::newRow("just below a MB") << qint64(1048575) << QStringLiteral("1024.0 KB");
        QTest::newRow("one MB") << qint64(1048576) << QStringLiteral("1.0 MB");
        QTest::newRow("just below a GB") << qint64(1073741823) << QStringLiteral("1024.0 MB");
        QTest::newRow("one GB") << qint64(1073741824) << QStringLiteral("1.0 GB");
        QTest::newRow("large") << qint64(64) * 1073741824 << QStringLiteral("64.0 GB");
    }

    void formatSizeBoundaries()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(formatSize(bytes), text);
    }

    // The worker contract without a window: one ending, the first; nothing after it; the rejected
    // flag already set when a worker hears of a cancel.
    void stepMonitorEndsOnce()
    {
        {
            StepMonitor monitor;
            QSignalSpy ended(&monitor, &StepMonitor::ended);
            QSignalSpy progressed(&monitor, &StepMonitor::progressed);
            monitor.progress(QStringLiteral("Working..."), 10);
            monitor.fail(QStringLiteral("disk went away"));
            monitor.succeed(QStringLiteral("Done."));
            monitor.fail(QStringLiteral("again"));
            monitor.progress(QString(), 50);
            monitor.cancel();
            QCOMPARE(ended.count(), 1);
            QCOMPARE(progressed.count(), 1);
            QCOMPARE(monitor.ending(), StepMonitor::Ending::Failed);
            QCOMPARE(monitor.endingText(), QStringLiteral("disk went away"));
            QVERIFY(monitor.isRejected());
        }
        {
            StepMonitor monitor;
            bool rejectedWhenAsked = false;
            QObject::connect(&monitor, &StepMonitor::cancelRequested, &monitor,
                             [&] { rejectedWhenAsked = monitor.isRejected(); });
            monitor.cancel();
            monitor.succeed();
            QVERIFY(rejectedWhenAsked);
            QCOMPARE(monitor.ending(), StepMonitor::Ending::Cancelled);
        }
        {
            // A step that cannot be cancelled ignores the request; a success is never rejected.
            StepMonitor monitor;
            monitor.setCancellable(false);
            monitor.cancel();
            QVERIFY(!monitor.isRejected());
            monitor.succeed();
            QVERIFY(monitor.succeeded());
        }
        {
            // A worker on its own thread, run to its end without a window.
            StepMonitor monitor;
            QSignalSpy ended(&monitor, &StepMonitor::ended);
            std::unique_ptr<QThread> worker(QThread::create([&monitor] {
                monitor.progress(QStringLiteral("Working..."), 0);
                monitor.fail(QStringLiteral("no such table: Files"));
                monitor.fail(QStringLiteral("second"));
            }));
            QVERIFY(!LocalStepRunner().run(*worker, monitor));
            QVERIFY(worker->isFinished());
            QCOMPARE(monitor.endingText(), QStringLiteral("no such table: Files"));
            QTRY_COMPARE(ended.count(), 1);
        }
    }

    void vendorUrlOverride()
    {
        // The run's own address comes back afterwards, whatever this test's outcome.
        const QByteArray before = qgetenv("SPACEWELL_VENDOR_URL");
        const auto restore = qScopeGuard([&before] {
            if (before.isNull())
                qunsetenv("SPACEWELL_VENDOR_URL");
            else
                qputenv("SPACEWELL_VENDOR_URL", before);
        });
        qputenv("SPACEWELL_VENDOR_URL", "http://127.0.0.1:8080/");
        QCOMPARE(Product::vendorUrl(QStringLiteral("/support.html")),
                 QStringLiteral("http://127.0.0.1:8080/support.html"));
    }
};

QTEST_GUILESS_MAIN(TestAppCore)
#include "TestAppCore.moc"
