#include "BackupUnlockThread.h"

#include "WorkerReport.h"

BackupUnlockThread::BackupUnlockThread(const QDir& backupDir, const QByteArray& password,
                                       std::shared_ptr<const BackupEncryption> known, StepMonitor* monitor,
                                       QObject* parent)
    : QThread(parent), m_dir(backupDir), m_password(password), m_known(std::move(known)), m_monitor(monitor)
{
}

void BackupUnlockThread::run()
{
    struct Release
    {
        ~Release() { BackupCipher::releaseThread(); }
    } release;
    WorkerReport::progress(m_monitor, statusText(), 0);
    try {
        auto encryption = std::make_shared<BackupEncryption>(BackupEncryption::of(m_dir));
        if (m_known && m_known->isUnlocked() && encryption->sameBag(*m_known)) {
            encryption->takeKeys(*m_known);
        } else if (!encryption->unlock(m_password, [this] { return WorkerReport::isRejected(m_monitor); })) {
            if (WorkerReport::isRejected(m_monitor))
                return;
            m_wrong = true;
            m_password.fill('\0');
            WorkerReport::succeed(m_monitor);
            return;
        }
        // A bag that opens but does not open the manifest's key is not this backup's.
        encryption->manifestKey();
        m_password.fill('\0');
        m_encryption = std::move(encryption);
        WorkerReport::succeed(m_monitor);
    } catch (const std::exception& e) {
        m_password.fill('\0');
        WorkerReport::error(m_monitor, QString::fromUtf8(e.what()));
    }
}
