#include "BackupEncryptionOnThread.h"

#include "Markup.h"
#include "StepMonitor.h"
#include "WorkerReport.h"
#include "backup2tool.h"

BackupEncryptionOnThread::BackupEncryptionOnThread(const IOSDevice& device, const QByteArray& password,
                                                   StepMonitor* monitor, QObject* parent)
    : QThread(parent), m_monitor(monitor),
      m_tool(new backup2tool(device.device, device.uniqueDeviceId, chooseTempBackupFolder(), nullptr))
{
    m_tool->setPassword(password);
    connect(m_monitor, &StepMonitor::cancelRequested, m_tool, &backup2tool::cancel);
}

BackupEncryptionOnThread::~BackupEncryptionOnThread()
{
    m_tool->deleteLater();
}

QString BackupEncryptionOnThread::statusText()
{
    return QStringLiteral("Turning on backup encryption: enter the passcode on the device if it asks");
}

void BackupEncryptionOnThread::run()
{
    WorkerReport::progress(m_monitor, statusText(), 0);
    try {
        m_tool->run(backup2tool_encryption_on);
        WorkerReport::succeed(m_monitor);
    } catch (const std::exception& e) {
        WorkerReport::error(
            m_monitor, QStringLiteral("Backup encryption was not turned on: %1<br/><br/>Your device was not "
                                      "changed.")
                           .arg(escapeAngleBrackets(QString::fromUtf8(e.what()))));
    }
}
