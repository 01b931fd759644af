#include "AppFolders.h"
#include "FrameworkLoader.h"
#include "IOSDevice.h"
#include "MobileDeviceManager.h"
#include "SimDeviceFolder.h"
#include "backup2tool.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

// The runner against a stand-in tool: a shell script in a framework folder of the test's own.
class TestBackupToolRunner : public QObject
{
    Q_OBJECT
public slots:
    void iosDeviceConnected(void* device) { m_arrived << device; }
    void iosDeviceDisconnected(void*) {}

private:
    QTemporaryDir m_frameworks;
    QTemporaryDir m_simRoot;
    QList<void*> m_arrived;
    MobileDeviceNotificationContext m_context;

    void writeTool(const QByteArray& body)
    {
        const QString path = m_frameworks.filePath(QStringLiteral("AppleMobileBackup"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("#!/bin/sh\n" + body + "\n");
        f.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString runTool(backup2tool& tool, int op)
    {
        try {
            tool.run(op);
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        }
        return QString();
    }
    // A simulated device with `usedBytes` in use, so the runner's estimate can be chosen.
    void* deviceUsing(qint64 usedBytes)
    {
        static int n = 0;
        SimDeviceFolder phone(m_simRoot.path(), QStringLiteral("phone%1").arg(++n));
        phone.setValues(QStringLiteral("com.apple.disk_usage"),
                        {{QStringLiteral("TotalDataCapacity"), qint64(64) << 30},
                         {QStringLiteral("AmountDataAvailable"), (qint64(64) << 30) - usedBytes}});
        const qsizetype before = m_arrived.size();
        if (!QTest::qWaitFor([&] { return m_arrived.size() > before; }, 5000))
            return nullptr;
        return m_arrived.last();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // The device framework is the simulated one; the tool is the test's.
        qputenv("SPACEWELL_FRAMEWORK_DIR", SPACEWELL_TEST_FRAMEWORKS "/sim");
        qputenv("SPACEWELL_SIM_ROOT", m_simRoot.path().toUtf8());
        QString error;
        QVERIFY(load_apple_framework(error));
        m_context.receiver = this;
        QCOMPARE(mobiledevice_subscribe(&m_context), 0);
        qputenv("SPACEWELL_FRAMEWORK_DIR", m_frameworks.path().toUtf8());
    }

    void expectedDurations()
    {
        QCOMPARE(backup2tool::expectedSeconds(0), 60);
        QCOMPARE(backup2tool::expectedSeconds(-5), 60);
        QCOMPARE(backup2tool::expectedSeconds(1024 * 1024), 0);
        QCOMPARE(backup2tool::expectedSeconds(33LL * 1024 * 1024 + 1000), 0);
        QCOMPARE(backup2tool::expectedSeconds(34LL * 1024 * 1024), 1);
        QCOMPARE(backup2tool::expectedSeconds(10240LL * 1024 * 1024), 307);
    }

    void commandLinesAreExact()
    {
        const QString record = m_frameworks.filePath(QStringLiteral("args.txt"));
        writeTool("printf '%s\\n' \"$@\" > '" + record.toUtf8() + "'");
        backup2tool tool(nullptr, QStringLiteral("UDID-1"), QDir(QStringLiteral("/tmp/root dir")), nullptr);
        QCOMPARE(runTool(tool, backup2tool_backup), QString());
        QFile f(record);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 (QStringList{QStringLiteral("-u"), QStringLiteral("UDID-1"), QStringLiteral("--backup"),
                              QStringLiteral("--target"), QStringLiteral("UDID-1"), QStringLiteral("--root"),
                              QStringLiteral("/tmp/root dir")}));
        f.close();
        QCOMPARE(runTool(tool, backup2tool_restore), QString());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 (QStringList{QStringLiteral("-u"), QStringLiteral("UDID-1"), QStringLiteral("--restore"),
                              QStringLiteral("--target"), QStringLiteral("UDID-1"), QStringLiteral("--root"),
                              QStringLiteral("/tmp/root dir"), QStringLiteral("--source"),
                              QStringLiteral("UDID-1")}));
        QCOMPARE(runTool(tool, 7), QStringLiteral("unknown backup2tool_op."));
    }

    void errorInTheOutputFails_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("fails");
        QTest::newRow("Error, status 0") << QByteArray("echo 'Error: the device went away'; exit 0") << true;
        QTest::newRow("ERROR on stderr") << QByteArray("echo 'ERROR code 5' >&2") << true;
        QTest::newRow("clean, status 3") << QByteArray("echo 'Backup done.'; exit 3") << false;
        QTest::newRow("killed half-way") << QByteArray("echo 'Backing up 40%'; kill -9 $$") << true;
    }

    void errorInTheOutputFails()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, fails);
        writeTool(script);
        backup2tool tool(nullptr, QStringLiteral("U"), QDir(QStringLiteral("/tmp")), nullptr);
        const QString error = runTool(tool, backup2tool_backup);
        QCOMPARE(!error.isEmpty(), fails);
        if (fails)
            QVERIFY(error.contains(QLatin1String("error"), Qt::CaseInsensitive));
    }

    // The tools print UTF-8: a phone's name with other letters reaches the error box whole.
    void toolOutputIsUtf8()
    {
        writeTool("printf 'Error: \\303\\253 \\342\\200\\231 \\360\\237\\223\\261\\n'");
        backup2tool tool(nullptr, QStringLiteral("U"), QDir(QStringLiteral("/tmp")), nullptr);
        const QString error = runTool(tool, backup2tool_backup);
        QVERIFY2(error.contains(QStringLiteral("Error: \u00eb \u2019 \U0001f4f1")), qPrintable(error));
    }

    // idevicebackup2 says when the phone restarts to finish a restore; the window then waits for it
    // to come back before it reads the free space.
    void aRestoreThatRestartsThePhone()
    {
        backup2tool tool(nullptr, QStringLiteral("U"), QDir(QStringLiteral("/tmp")), nullptr);
        writeTool("echo 'Restore Successful.'");
        QVERIFY(runTool(tool, backup2tool_restore).isEmpty());
        QVERIFY(!tool.deviceRestarts());
        writeTool("echo 'The device should reboot now.'; echo 'Restore Successful.'");
        QVERIFY(runTool(tool, backup2tool_restore).isEmpty());
        QVERIFY(tool.deviceRestarts());
    }

    void progressWaitsAt99()
    {
        void* device = deviceUsing(20LL * 1024 * 1024); // an estimate of 0 seconds
        QVERIFY(device);
        writeTool("sleep 1");
        backup2tool tool(device, QStringLiteral("U"), QDir(QStringLiteral("/tmp")), nullptr);
        QSignalSpy updates(&tool, &backup2tool::update);
        QCOMPARE(runTool(tool, backup2tool_backup), QString());
        QVERIFY(updates.count() >= 3);
        for (const QList<QVariant>& u : updates)
            QCOMPARE(u.at(0).toDouble(), 99.0);
        QVERIFY(updates.last().at(2).toString().endsWith(QStringLiteral(" seconds passed")));
    }

    void progressGrowsWithTime()
    {
        writeTool("sleep 1.5");
        backup2tool tool(nullptr, QStringLiteral("U"), QDir(QStringLiteral("/tmp")),
                         nullptr); // no device: 60 s
        QSignalSpy updates(&tool, &backup2tool::update);
        QCOMPARE(runTool(tool, backup2tool_backup), QString());
        // Whole seconds of a 60-second estimate: 0, 1.65, 3.3 ...
        for (const QList<QVariant>& u : updates) {
            const double steps = u.at(0).toDouble() / (99.0 / 60);
            QVERIFY(qAbs(steps - qRound(steps)) < 1e-9 && steps <= 2);
        }
        QVERIFY(updates.last().at(0).toDouble() > 0);
    }

    // The tools say how far they are; the bar follows them rather than the estimate.
    void progressFollowsTheTool()
    {
        writeTool("echo 'Backup started'; echo 'Backup: 40%'; sleep 0.5; echo 'Backup: 80%'; sleep 0.5; "
                  "echo 'Backup Successful.'");
        backup2tool tool(nullptr, QStringLiteral("U"), QDir(QStringLiteral("/tmp")), nullptr);
        QSignalSpy updates(&tool, &backup2tool::update);
        QCOMPARE(runTool(tool, backup2tool_backup), QString());
        QList<double> seen;
        for (const QList<QVariant>& u : updates)
            seen << u.at(0).toDouble();
        QVERIFY2(seen.contains(40.0) && seen.contains(80.0), qPrintable(QString::number(seen.size())));
        QCOMPARE(backup2tool::percentOfLine(QStringLiteral("Restore: 6%")), 6);
        QCOMPARE(backup2tool::percentOfLine(QStringLiteral("Progress: 12.5 %")), 12);
        QCOMPARE(backup2tool::percentOfLine(QStringLiteral("Sending 40% of the files")), -1);
        QCOMPARE(backup2tool::percentOfLine(QStringLiteral("Backup: 400%")), -1);
    }

    // The error box says what went wrong; the whole transcript goes to the log only.
    void errorsWithoutTheTranscript()
    {
        writeTool("for p in 6 13 20; do echo \"Restore: $p%\"; done; "
                  "echo 'ErrorCode 211: Find My iPhone must be disabled before restoring a backup.'; exit 1");
        backup2tool tool(nullptr, QStringLiteral("U"), QDir(QStringLiteral("/tmp")), nullptr);
        QCOMPARE(runTool(tool, backup2tool_restore),
                 QStringLiteral("ErrorCode 211: Find My iPhone must be disabled before restoring a backup."));
    }

    void cancelKillsTheTool()
    {
        writeTool("sleep 30");
        backup2tool tool(nullptr, QStringLiteral("U"), QDir(QStringLiteral("/tmp")), nullptr);
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<QThread> canceller(QThread::create([&tool] {
            QThread::msleep(400);
            QMetaObject::invokeMethod(&tool, "cancel", Qt::DirectConnection);
        }));
        canceller->start();
        QCOMPARE(runTool(tool, backup2tool_backup), QString());
        canceller->wait();
        QVERIFY(timer.elapsed() < 5000);
    }

    void missingToolCannotStart()
    {
        QFile::remove(m_frameworks.filePath(QStringLiteral("AppleMobileBackup")));
        backup2tool tool(nullptr, QStringLiteral("U"), QDir(QStringLiteral("/tmp")), nullptr);
        QCOMPARE(runTool(tool, backup2tool_backup),
                 QStringLiteral("can not start AppleMobileBackup process."));
    }

    void rootChoice()
    {
        const auto writable = [](const QString& p) { return !p.startsWith(QLatin1String("/ro")); };
        const QHash<QString, qint64> free{{QStringLiteral("/a"), 100},     {QStringLiteral("/b"), 300},
                                          {QStringLiteral("/c"), 300},     {QStringLiteral("/ro"), 900},
                                          {QStringLiteral("/broken"), -1}, {QStringLiteral("/full"), 0}};
        const auto bytes = [&free](const QString& p) { return free.value(p); };
        const QString home = QStringLiteral("/home/user");
        QCOMPARE(chooseBackupRoot({QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c")}, home,
                                  writable, bytes),
                 QStringLiteral("/b")); // a tie keeps the earlier one
        QCOMPARE(chooseBackupRoot({QStringLiteral("/ro"), QStringLiteral("/a")}, home, writable, bytes),
                 QStringLiteral("/a"));
        QCOMPARE(chooseBackupRoot({QStringLiteral("/ro"), QStringLiteral("/broken"), QStringLiteral("/full")},
                                  home, writable, bytes),
                 home);
    }

    void temporaryFolderIsRemembered()
    {
        resetAppDataDirForTests();
        QTemporaryDir rootDir;
        const QString memory = appDataDir().filePath(QStringLiteral("__vantelmoor_iosbk_temp.path"));
        QFile f(memory);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(rootDir.path().toUtf8());
        f.close();
        const QDir folder = chooseTempBackupFolder();
        QCOMPARE(folder.absolutePath(),
                 QDir(rootDir.path()).filePath(QStringLiteral("__vantelmoor_iosbk_temp")));
        QVERIFY(!folder.exists()); // not created here

        SimDeviceFolder::writeFile(folder.filePath(QStringLiteral("UDID/Manifest.mbdb")), "x");
        removeTempBackupFolder();
        QVERIFY(!folder.exists());
        QVERIFY(!QFile::exists(memory));

        // A remembered root that no longer exists is chosen afresh and written down.
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("/nonexistent/root");
        f.close();
        const QDir fresh = chooseTempBackupFolder();
        QVERIFY(fresh.absolutePath() != QStringLiteral("/nonexistent/root/__vantelmoor_iosbk_temp"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QDir(QString::fromUtf8(f.readAll())).filePath(QStringLiteral("__vantelmoor_iosbk_temp")),
                 fresh.absolutePath());
        f.close();
        QFile::remove(memory);
    }
};

QTEST_GUILESS_MAIN(TestBackupToolRunner)
#include "TestBackupToolRunner.moc"
