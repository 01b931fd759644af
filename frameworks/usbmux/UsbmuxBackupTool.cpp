// The backup tool for real devices: takes the program's two command lines and runs idevicebackup2
// (a restore in update mode: the phone keeps what the backup does not list). Every failure ends with a line
// holding "Error", which is what the program looks for; progress goes out as "Progress: N%" lines.
#include "BackupToolArguments.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QThread>

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/notification_proxy.h>
#include <plist/plist.h>
#include <usbmuxd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/prctl.h>

namespace {

// Set by SIGTERM or SIGINT: the program cancels the step.
std::atomic<bool> stopRequested{false};

void onStop(int)
{
    stopRequested = true;
}

int fail(const QString& text, int code = 1)
{
    std::printf("Error: %s\n", qPrintable(text));
    std::fflush(stdout);
    return code;
}

// The size of the device's last backup in `root`, the best measure of the next one; 0 when there
// is none. What the phone holds (capacity less available) is no measure: it counts the system and
// the apps, which no backup holds.
qint64 previousBackupBytes(const QString& root, const QString& udid)
{
    qint64 total = 0;
    QDirIterator it(QDir(root).filePath(udid), QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

// The phone's passcode prompt before a backup (iOS 16.1 and later), as idevicebackup2 watches it
// since 1.3.1 (tools/idevicebackup2.c): "com.apple.LocalAuthentication.ui.presented" and
// "...ui.dismissed" through the notification proxy. Debian's 1.3.0 does not watch it.
class PasscodeWatch
{
public:
    explicit PasscodeWatch(const QString& udid)
    {
        if (idevice_new_with_options(&m_device, udid.toUtf8().constData(), IDEVICE_LOOKUP_USBMUX) !=
            IDEVICE_E_SUCCESS) {
            m_device = nullptr;
            return;
        }
        if (np_client_start_service(m_device, &m_np, "spacewell-backup") != NP_E_SUCCESS) {
            m_np = nullptr;
            return;
        }
        np_set_notify_callback(m_np, &PasscodeWatch::heard, this);
        const char* names[] = {presented, dismissed, nullptr};
        np_observe_notifications(m_np, names);
    }
    ~PasscodeWatch()
    {
        if (m_np)
            np_client_free(m_np);
        if (m_device)
            idevice_free(m_device);
    }
    PasscodeWatch(const PasscodeWatch&) = delete;
    PasscodeWatch& operator=(const PasscodeWatch&) = delete;

    // The line to print when the prompt came or went since the last call; empty otherwise.
    const char* change()
    {
        const bool now = m_shown.load();
        if (now == m_said)
            return nullptr;
        m_said = now;
        return now ? passcodeWaitLine : passcodeEnteredLine;
    }

private:
    static constexpr const char* presented = "com.apple.LocalAuthentication.ui.presented";
    static constexpr const char* dismissed = "com.apple.LocalAuthentication.ui.dismissed";

    // On libimobiledevice's notifier thread.
    static void heard(const char* name, void* watch)
    {
        if (name && std::strcmp(name, presented) == 0)
            static_cast<PasscodeWatch*>(watch)->m_shown = true;
        else if (name && std::strcmp(name, dismissed) == 0)
            static_cast<PasscodeWatch*>(watch)->m_shown = false;
    }

    idevice_t m_device = nullptr;
    np_client_t m_np = nullptr;
    std::atomic<bool> m_shown{false};
    bool m_said = false;
};

QString idevicebackup2()
{
    const QString fromEnvironment = qEnvironmentVariable("SPACEWELL_IDEVICEBACKUP2");
    return fromEnvironment.isEmpty() ? QStringLiteral("idevicebackup2") : fromEnvironment;
}

// Whether usbmuxd still lists the phone: 1 yes, 0 no, negative when the daemon did not answer.
int deviceListed(const QString& udid)
{
    usbmuxd_device_info_t info{};
    const int rc = usbmuxd_get_device_by_udid(udid.toUtf8().constData(), &info);
    return rc > 0 ? 1 : rc;
}

bool devicePresent(const QString& udid)
{
    return deviceListed(udid) == 1;
}

// idevicebackup2 draws its progress bar over one line ("\r[=====     ]  45% Finished"); the
// program reads lines that end with the percentage.
QString progressLine(const QByteArray& segment)
{
    static const QRegularExpression bar(QStringLiteral("^\\s*\\[[= ]*\\]\\s*(\\d{1,3})%"));
    const QRegularExpressionMatch m = bar.match(QString::fromUtf8(segment));
    return m.hasMatch() ? QStringLiteral("Progress: %1%").arg(m.captured(1)) : QString();
}

// Runs idevicebackup2, passing its output on line by line with its progress bar turned into
// "Progress: N%" lines; it dies with this tool when cancelled. idevicebackup2 1.3.0 never ends
// when the phone goes away while files are sent (it waits for the next file name for ever), so
// a phone that usbmuxd no longer lists ends the run.
// `typed`, when given, is the answer to idevicebackup2's own password prompts (-i, "interactive":
// it reads them from standard input).
int runIdevicebackup2(const QStringList& arguments, const QString& udid, const char* what,
                      PasscodeWatch* passcode = nullptr, const QByteArray& typed = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // idevicebackup2 takes SIGTERM as "quit after the current request" (tools/idevicebackup2.c
    // clean_exit sets quit_flag), so a restore would go on for the whole request: a cancel kills
    // it. Should this tool die first, it dies with it.
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(idevicebackup2(), arguments);
    if (!process.waitForStarted(60000))
        return fail(QStringLiteral("idevicebackup2 could not be started (%1).").arg(process.errorString()));
    if (!typed.isEmpty())
        process.write(typed);
    process.closeWriteChannel();
    QByteArray pending;
    QString lastProgress;
    bool finishedWell = false;
    int goneFor = 0;
    auto passOn = [&](bool all) {
        pending += process.readAll();
        for (;;) {
            qsizetype end = -1;
            for (qsizetype i = 0; i < pending.size(); ++i) {
                if (pending.at(i) == '\n' || pending.at(i) == '\r') {
                    end = i;
                    break;
                }
            }
            if (end < 0 && !(all && !pending.isEmpty()))
                break;
            const QByteArray segment = end < 0 ? pending : pending.left(end);
            pending.remove(0, end < 0 ? pending.size() : end + 1);
            const QString progress = progressLine(segment);
            if (!progress.isEmpty()) {
                if (progress != lastProgress)
                    std::printf("%s\n", qPrintable(progress));
                lastProgress = progress;
            } else if (!segment.trimmed().isEmpty()) {
                std::printf("%s\n", segment.constData());
                finishedWell = finishedWell || segment.contains("Successful.");
            }
            std::fflush(stdout);
        }
    };
    while (!process.waitForFinished(500)) {
        passOn(false);
        if (stopRequested) {
            // Its own SIGTERM would finish the request in hand first, which in a restore can be
            // all of it: it is killed, and the phone, which puts nothing in place until the
            // restore is whole, keeps what it has.
            process.kill();
            process.waitForFinished(-1);
            passOn(true);
            return fail(QStringLiteral("the %1 was cancelled.").arg(QLatin1String(what)), 130);
        }
        if (const char* line = passcode ? passcode->change() : nullptr) {
            std::printf("%s\n", line);
            std::fflush(stdout);
        }
        goneFor = devicePresent(udid) ? 0 : goneFor + 1;
        // A phone restarts once a restore is done; before that its going is a failure.
        if (goneFor >= (finishedWell ? 20 : 4)) {
            process.kill();
            process.waitForFinished(-1);
            passOn(true);
            if (finishedWell)
                return 0;
            return fail(
                QStringLiteral("the device was disconnected during the %1.").arg(QLatin1String(what)));
        }
    }
    passOn(true);
    const bool crashed = process.exitStatus() != QProcess::NormalExit;
    if (!crashed && process.exitCode() == 0)
        return 0;
    // Its own words for a pulled cable are a receive error, or it dies: say what happened when
    // usbmuxd no longer lists the phone (it may take a moment to notice).
    for (int wait = 0; wait < 4 && devicePresent(udid); ++wait)
        QThread::msleep(250);
    const int status = crashed ? 1 : process.exitCode();
    if (deviceListed(udid) == 0)
        return fail(QStringLiteral("the device was disconnected during the %1.").arg(QLatin1String(what)),
                    status);
    if (crashed)
        return fail(QStringLiteral("idevicebackup2 stopped unexpectedly."));
    return fail(QStringLiteral("idevicebackup2 failed with status %1.").arg(status), status);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // libimobiledevice writes without MSG_NOSIGNAL: a phone unplugged during the free-space
    // question must fail that question, not kill the tool.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTERM, onStop);
    std::signal(SIGINT, onStop);
    BackupToolArguments args;
    const QString problem = args.parse(app.arguments().mid(1));
    if (!problem.isEmpty())
        return fail(problem);

    if (args.encryptionOn) {
        // "Enter new backup password", then "(repeat)" (tools/idevicebackup2.c ask_for_password);
        // from iOS 13 the phone asks for its passcode to confirm.
        const QByteArray password = args.readPassword();
        if (password.isEmpty())
            return fail(QStringLiteral("no new backup password was given."));
        return runIdevicebackup2({QStringLiteral("-u"), args.udid, QStringLiteral("-i"),
                                  QStringLiteral("encryption"), QStringLiteral("on")},
                                 args.udid, "change of the backup settings", nullptr,
                                 password + '\n' + password + '\n');
    }
    const QString root = QDir::cleanPath(args.root);
    if (args.backup) {
        if (!QDir().mkpath(root))
            return fail(QStringLiteral("the backup folder %1 cannot be created.").arg(root));
        // idevicebackup2 can wait forever when the disk fills up during a backup. Without an earlier
        // backup the phone itself asks for the free space and refuses a backup that does not fit.
        const qint64 needed = previousBackupBytes(root, args.udid);
        const QStorageInfo volume(root);
        if (needed > 0 && volume.isValid() && volume.bytesAvailable() < needed)
            return fail(
                QStringLiteral("not enough free space for the backup in %1: %2 bytes free, the last backup "
                               "of the device takes %3 bytes.")
                    .arg(root)
                    .arg(volume.bytesAvailable())
                    .arg(needed));
        PasscodeWatch passcode(args.udid);
        return runIdevicebackup2({QStringLiteral("-u"), args.udid, QStringLiteral("backup"), root}, args.udid,
                                 "backup", &passcode);
    }

    // idevicebackup2 refuses to restore without Info.plist, which the program hides on purpose:
    // a minimal one stands in for the run.
    const QString info = QDir(root).filePath(args.source + QStringLiteral("/Info.plist"));
    bool standIn = false;
    if (!QFile::exists(info)) {
        plist_t dict = plist_new_dict();
        plist_dict_set_item(dict, "Target Identifier", plist_new_string(args.source.toUtf8().constData()));
        plist_dict_set_item(dict, "Unique Identifier", plist_new_string(args.source.toUtf8().constData()));
        char* xml = nullptr;
        uint32_t length = 0;
        plist_to_xml(dict, &xml, &length);
        plist_free(dict);
        QFile f(info);
        standIn = xml && f.open(QIODevice::WriteOnly) && f.write(xml, length) == qint64(length);
        f.close();
        free(xml);
        if (!standIn)
            return fail(QStringLiteral("the backup in %1 cannot be prepared for restoring.").arg(root));
    }
    // Update mode: --system ("RestoreSystemFiles"), without which nothing of HomeDomain is
    // restored; never --remove ("RemoveItemsNotRestored"), with which the phone removes what the
    // backup does not list and downloads every app again (pymobiledevice3 issue 1053). The phone
    // reboots to put the files in place; --skip-apps writes no list of apps to reinstall.
    QStringList restore = {QStringLiteral("-u"),         args.udid,
                           QStringLiteral("-s"),         args.source,
                           QStringLiteral("restore"),    QStringLiteral("--system"),
                           QStringLiteral("--skip-apps")};
    // An encrypted backup's password goes to its prompt, not on the command line.
    const QByteArray password = args.readPassword();
    if (!password.isEmpty())
        restore << QStringLiteral("-i");
    const int rc = runIdevicebackup2(restore << root, args.udid, "restore", nullptr,
                                     password.isEmpty() ? QByteArray() : password + '\n');
    if (standIn)
        QFile::remove(info);
    return rc;
}
