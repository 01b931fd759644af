#pragma once

#include "IOSDevice.h"

#include <QDir>
#include <QThread>

class StepMonitor;
class backup2tool;

// Backs the device up into the temporary backup folder, reusing a finished backup of the same
// system version as the base of an incremental one.
class IOSMobileBackupThread : public QThread
{
    Q_OBJECT
public:
    IOSMobileBackupThread(const IOSDevice& device, StepMonitor* monitor, QObject* parent);
    ~IOSMobileBackupThread() override;

    QDir backupFolder() const { return m_backupFolder; }
    // True when the device's folder holds a finished backup of this system version.
    static bool isReusableBackup(const QDir& deviceFolder, const QString& productVersion);
    // The text shown for a failed backup: advice for the phone's own refusals (passcode not
    // entered, set-up not finished), else the tool's output, escaped.
    static QString failureText(const QString& toolOutput);
    static QString backingUpStatus();

public slots:
    void backupUpdate(double pg, QString status1, QString status2);

protected:
    void run() override;

private:
    const IOSDevice m_device;
    StepMonitor* m_monitor;
    QDir m_backupFolder;
    backup2tool* m_tool;
};
