// Times a Free Up of messages on a phone with 2 GB of files, through the emulated usbmuxd and
// Debian's idevicebackup2 (the real-device build, as a phone on a cable is reached): the restore
// of only what changed against a restore of the whole backup, and the whole Free Up against the
// backup alone.
#include "AppFolders.h"
#include "BackupCleanFlow.h"
#include "BenchMachine.h"
#include "EmulatorProcess.h"
#include "FrameworkLoader.h"
#include "MobileDeviceManager.h"
#include "SimPhoneBuilder.h"
#include "StepRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>

namespace {

class Receiver : public QObject
{
    Q_OBJECT
public:
    QList<void*> arrived;
public slots:
    void iosDeviceConnected(void* device) { arrived << device; }
    void iosDeviceDisconnected(void*) {}
};

// Runs each step as the command line does and keeps how long each worker took.
class TimedSteps : public StepRunner
{
public:
    QMap<QString, double> seconds;

    bool run(QThread& worker, StepMonitor& monitor) override
    {
        QElapsedTimer timer;
        timer.start();
        const bool ok = LocalStepRunner().run(worker, monitor);
        seconds[QString::fromLatin1(worker.metaObject()->className())] += timer.nsecsElapsed() / 1e9;
        return ok;
    }
};

// idevicebackup2 itself; seconds, or -1 when it failed.
double tool(const QString& udid, const QStringList& arguments, const QString& folder)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/usr/bin/idevicebackup2"),
                  QStringList{QStringLiteral("-u"), udid} + arguments + QStringList{folder});
    if (!process.waitForFinished(30 * 60 * 1000) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s\n", process.readAll().constData());
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    signal(SIGPIPE, SIG_DFL);
    printMachine();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir root;
    QTemporaryDir backups;
    QTemporaryDir aside;
    EmulatorProcess emulator;
    const QString started = emulator.start(root.path());
    if (!started.isEmpty()) {
        std::fprintf(stderr, "emulator: %s\n", qPrintable(started));
        return 1;
    }
    QFile memory(appDataDir().filePath(QStringLiteral("__vantelmoor_iosbk_temp.path")));
    if (!memory.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    memory.write(backups.path().toUtf8());
    memory.close();

    // The usual content, and 2 GB of videos in the camera roll. Built aside and moved in whole.
    SimDeviceFolder phone(aside.path(), QStringLiteral("bench"));
    phone.setValues(QString(), {{QStringLiteral("UniqueDeviceID"), phone.udid()},
                                {QStringLiteral("DeviceName"), QStringLiteral("bench")},
                                {QStringLiteral("ProductVersion"), QStringLiteral("14.8")},
                                {QStringLiteral("ProductType"), QStringLiteral("iPhone13,2")}});
    phone.setValues(QStringLiteral("com.apple.disk_usage"),
                    {{QStringLiteral("TotalDataCapacity"), qint64(64000000000)},
                     {QStringLiteral("AmountDataAvailable"), qint64(40000000000)}});
    SimPhoneContent content;
    content.current = true;
    buildSimPhone(phone, content);
    const QByteArray video(100 << 20, 'v');
    for (int v = 0; v < 20; ++v)
        SimDeviceFolder::writeFile(
            SimPhonePaths::file(phone, QStringLiteral("MediaDomain"),
                                QStringLiteral("DCIM/100APPLE/IMG_%1.MOV").arg(9000 + v)),
            video);
    followStoredFiles(phone);
    if (!phone.moveTo(root.path()))
        return 1;

    QString error;
    if (!load_apple_framework(error)) {
        std::fprintf(stderr, "framework: %s\n", qPrintable(error));
        return 1;
    }
    Receiver receiver;
    MobileDeviceNotificationContext context;
    context.receiver = &receiver;
    mobiledevice_subscribe(&context);
    if (!QTest::qWaitFor([&] { return !receiver.arrived.isEmpty(); }, 20000))
        return 1;
    const IOSDevice device = mobiledevice_read_device(receiver.arrived.first());

    // The tool on its own: a whole backup, then the whole of it restored as an update.
    QTemporaryDir toolBackups;
    const double backup = tool(device.uniqueDeviceId, {QStringLiteral("backup")}, toolBackups.path());
    const double whole = tool(device.uniqueDeviceId,
                              {QStringLiteral("restore"), QStringLiteral("--system"),
                               QStringLiteral("--no-reboot"), QStringLiteral("--skip-apps")},
                              toolBackups.path());
    if (backup < 0 || whole < 0)
        return 1;

    TimedSteps steps;
    QElapsedTimer timer;
    timer.start();
    const FlowResult result =
        BackupCleanFlow(steps).freeUp(BackupPanel::unwantedData(), device, {QStringLiteral("messages")});
    const double freeUp = timer.nsecsElapsed() / 1e9;
    if (!result.completed() || !result.restored) {
        std::fprintf(stderr, "free-up: %s\n", qPrintable(result.message));
        return 1;
    }
    const double partial = steps.seconds.value(QStringLiteral("IOSMobileRestoreThread"));
    const double ownBackup = steps.seconds.value(QStringLiteral("IOSMobileBackupThread"));
    std::printf("Free Up of messages, 2 GB phone, emulated usbmuxd and idevicebackup2 %s\n",
                "(Debian 12's 1.3.0)");
    std::printf("  restore: only what changed %.2f s, the whole backup %.2f s: ratio %.3f\n", partial, whole,
                partial / whole);
    std::printf("  (both include the emulated phone copying its 2 GB aside, as its update mode is built)\n");
    std::printf("  Free Up %.2f s (its backup %.2f s, edit %.2f s), idevicebackup2 backup alone %.2f s: "
                "ratio %.2f\n",
                freeUp, ownBackup, freeUp - ownBackup - partial, backup, freeUp / backup);
    emulator.stop();
    return 0;
}

#include "FreeUpBench.moc"
