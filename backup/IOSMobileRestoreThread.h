#pragma once

#include "IOSDevice.h"

#include <QDir>
#include <QThread>

class StepMonitor;
class backup2tool;

// Restores an edited backup to the device. The backup's Info.plist is hidden during the run and
// always put back.
class IOSMobileRestoreThread : public QThread
{
    Q_OBJECT
public:
    IOSMobileRestoreThread(const IOSDevice& device, const QDir& backupFolder, StepMonitor* monitor,
                           QObject* parent);
    ~IOSMobileRestoreThread() override;

    // The text shown for a failed restore (the tool's output, escaped, or a friendlier sentence).
    static QString failureText(const QString& toolOutput);
    // The text shown when the backup is not whole (see BackupEditMark).
    static QString unfinishedBackupText();
    // A failed restore marks the backup as not whole, so that the next backup starts afresh;
    // a partial backup that can be tried again is left as it is.
    bool marksFailedBackup = true;
    // The password of an encrypted backup, which the tool takes on its standard input.
    void setPassword(const QByteArray& password);
    // After a run: whether the device said it restarts to finish the restore.
    bool deviceRestarts() const;

public slots:
    void backupUpdate(double pg, QString status1, QString status2);

protected:
    void run() override;

private:
    const IOSDevice m_device;
    QDir m_backupFolder;
    StepMonitor* m_monitor;
    backup2tool* m_tool;
};
