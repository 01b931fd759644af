#pragma once

#include "BackupEncryption.h"

#include <QDir>
#include <QThread>

#include <memory>

class StepMonitor;

// Opens the key bag of an encrypted backup folder with the backup password: two PBKDF2
// derivations, seconds of work with the phones' own round counts. A bag that `known` already
// opened (the same bag, from an earlier backup of the phone) is opened without them.
class BackupUnlockThread : public QThread
{
    Q_OBJECT
public:
    BackupUnlockThread(const QDir& backupDir, const QByteArray& password,
                       std::shared_ptr<const BackupEncryption> known, StepMonitor* monitor, QObject* parent);

    static QString statusText() { return QStringLiteral("Unlocking the backup..."); }
    // After a run that succeeded: the password does not open the bag (the step still succeeds:
    // the flow asks again), or the keys it opened.
    bool wrongPassword() const { return m_wrong; }
    std::shared_ptr<const BackupEncryption> encryption() const { return m_encryption; }

protected:
    void run() override;

private:
    QDir m_dir;
    QByteArray m_password;
    std::shared_ptr<const BackupEncryption> m_known;
    StepMonitor* m_monitor;
    bool m_wrong = false;
    std::shared_ptr<const BackupEncryption> m_encryption;
};
