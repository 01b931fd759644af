#pragma once

#include <QDir>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

// The operations of the backup tool.
enum backup2tool_op
{
    backup2tool_backup = 0,
    backup2tool_restore = 1,
    // The phone encrypts its backups from now on, with the password set by setPassword().
    backup2tool_encryption_on = 2
};

// Runs the backup tool of the framework folder as a child process: backs a device up into the
// temporary backup folder or restores it from there, with time-based progress and cancel.
class backup2tool : public QObject
{
    Q_OBJECT
public:
    backup2tool(void* device, const QString& uniqueDeviceId, const QDir& target, QObject* parent);

    // Synchronous on the calling thread. Returns on success or after a cancel, also one that came
    // before the run; raises std::runtime_error with the tool's error lines when it reports an
    // error (the whole output goes to the log). Progress follows the percentages the tool prints
    // ("Backup: 45%") and is an estimate from the time passed while it prints none.
    void run(int op);
    double progress() const { return m_pg; }
    // The password of an encrypted backup for the next restore: given to the tool on its standard
    // input, never on its command line.
    void setPassword(const QByteArray& password) { m_password = password; }
    // Whether the last run said the device restarts now (a restore does unless told not to).
    bool deviceRestarts() const { return m_restarts; }

    // The expected duration in seconds for a device with this much data in use.
    static int expectedSeconds(qint64 usedBytes);
    // The tool's file: "AppleMobileBackup" in the framework folder.
    static QString toolPath();
    // The percentage a line of the tool's output ends with, or -1.
    static int percentOfLine(const QString& line);
    // What the step says while the phone waits for its passcode.
    static QString passcodeStatus();
    // The lines of the output that say "error" (in any case).
    static QString errorLines(const QString& output);

public slots:
    void cancel();

signals:
    void update(double pg, QString status1, QString status2);

private:
    void* m_device;
    QString m_uniqueDeviceId;
    QDir m_target;
    double m_pg = 0;
    bool m_restarts = false;
    QByteArray m_password;
    std::atomic<bool> m_cancel{false};
};

// The temporary backup folder "__vantelmoor_iosbk_temp" under the chosen root; not created here.
QDir chooseTempBackupFolder();
// The rule behind it: among the writable candidates the one with the most free bytes (a later one
// only when strictly more; -1 and 0 never win), else the fallback.
QString chooseBackupRoot(const QStringList& candidates, const QString& fallback,
                         const std::function<bool(const QString&)>& writable,
                         const std::function<qint64(const QString&)>& freeBytes);
// Deletes the temporary backup folder and forgets the chosen root.
void removeTempBackupFolder();
// Bytes free to the user on the folder's volume, or -1.
qint64 diskFreeBytes(const QDir& folder);
