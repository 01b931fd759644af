#pragma once

#include "IOSDevice.h"

#include <QThread>

class StepMonitor;
class backup2tool;

// Turns on the encryption of the phone's backups with a new backup password (mobilebackup2
// "ChangePassword" with "NewPassword"). From iOS 13 the phone asks for its passcode to confirm.
class BackupEncryptionOnThread : public QThread
{
    Q_OBJECT
public:
    BackupEncryptionOnThread(const IOSDevice& device, const QByteArray& password, StepMonitor* monitor,
                             QObject* parent);
    ~BackupEncryptionOnThread() override;

    static QString statusText();

protected:
    void run() override;

private:
    StepMonitor* m_monitor;
    backup2tool* m_tool;
};
