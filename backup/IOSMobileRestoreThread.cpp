#include "IOSMobileRestoreThread.h"

#include "BackupStatus.h"
#include "FormatSize.h"
#include "Markup.h"
#include "Product.h"
#include "StepMonitor.h"
#include "WorkerReport.h"
#include "backup2tool.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

IOSMobileRestoreThread::IOSMobileRestoreThread(const IOSDevice& device, const QDir& backupFolder,
                                               StepMonitor* monitor, QObject* parent)
    : QThread(parent), m_device(device), m_backupFolder(backupFolder), m_monitor(monitor),
      m_tool(new backup2tool(device.device, device.uniqueDeviceId, backupFolder, nullptr))
{
    connect(m_tool, &backup2tool::update, this, &IOSMobileRestoreThread::backupUpdate);
    connect(m_monitor, &StepMonitor::cancelRequested, m_tool, &backup2tool::cancel);
}

void IOSMobileRestoreThread::setPassword(const QByteArray& password)
{
    m_tool->setPassword(password);
}

IOSMobileRestoreThread::~IOSMobileRestoreThread()
{
    m_tool->deleteLater();
}

void IOSMobileRestoreThread::backupUpdate(double pg, QString, QString)
{
    WorkerReport::progress(m_monitor, QString(), int(pg), QString());
}

QString IOSMobileRestoreThread::failureText(const QString& toolOutput)
{
    const QString text = escapeAngleBrackets(toolOutput);
    if (text.contains(QLatin1String("Find My iPhone must be disabled"), Qt::CaseInsensitive))
        return QStringLiteral(
                   "Please follow <a href=\"%1\"> this tutorial</a> to disable \"Find my iPhone\" first and "
                   "then restart your iPhone to try again.<br/><br/>")
            .arg(Product::vendorUrl(QStringLiteral("/guides/how-to-disable-find-my-iphone.html")));
    if (text.contains(QLatin1String("MBErrorDomain/207")) || text.contains(QLatin1String("Error Code 207")))
        return QStringLiteral("The device did not accept the backup password, so nothing was restored and "
                              "your device was not changed.");
    static const QRegularExpression space(
        QStringLiteral("Insufficient free disk space on device to restore \\((\\d+) [^\\d]+ (\\d+)\\)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = space.match(text);
    if (m.hasMatch()) {
        // The phone says what it has and what the restore takes: the user needs the difference.
        const qint64 free = m.captured(1).toLongLong();
        const qint64 needed = m.captured(2).toLongLong();
        return QStringLiteral("The device needs %1 more free space for the restore: it has %2 free and the "
                              "restore takes %3. Free up %1 on the device (for example, move videos to this "
                              "computer), then try again. Your device was not changed.")
            .arg(formatSize(qMax<qint64>(0, needed - free)), formatSize(free), formatSize(needed));
    }
    // A phone puts restored files in place only once the restore is whole and it restarts
    // (libimobiledevice issue 786): one unplugged before that is as it was.
    if (text.contains(QLatin1String("disconnected during the restore"), Qt::CaseInsensitive))
        return QStringLiteral("The device was disconnected during the restore, so it restored nothing and "
                              "is unchanged. Connect it again, unlock it and try again.");
    return text + QStringLiteral("<br/><br/>Note: You can restart your device to try again.");
}

QString IOSMobileRestoreThread::unfinishedBackupText()
{
    return QStringLiteral("The backup on this computer is not complete, so it was not restored. Your device "
                          "was not changed.<br/><br/>Note: Scan or Free Up again to make a new backup.");
}

bool IOSMobileRestoreThread::deviceRestarts() const
{
    return m_tool->deviceRestarts();
}

void IOSMobileRestoreThread::run()
{
    WorkerReport::progress(m_monitor, QStringLiteral("Transferring data to Device..."), 0);
    const QDir deviceBackup(m_backupFolder.filePath(m_device.uniqueDeviceId));
    // A backup that did not finish, or whose editing failed half-way, is never put on the phone.
    if (!BackupStatus::isFinished(deviceBackup)) {
        WorkerReport::error(m_monitor, unfinishedBackupText());
        return;
    }
    const QString info = deviceBackup.filePath(QStringLiteral("Info.plist"));
    const QString hidden = info + QStringLiteral("-%1").arg(QDateTime::currentMSecsSinceEpoch());
    const bool hid = QFileInfo(info).isFile() && QFile::rename(info, hidden);
    // One rename puts it back, over any stand-in the tool left behind.
    auto putBack = [&] {
        if (hid)
            std::rename(QFile::encodeName(hidden).constData(), QFile::encodeName(info).constData());
    };
    try {
        m_tool->run(backup2tool_restore);
        putBack();
        WorkerReport::succeed(m_monitor);
    } catch (const std::exception& e) {
        putBack();
        // The edited backup no longer says what the phone holds (it refused, or stopped part way):
        // the next backup starts afresh instead of building on it.
        try {
            if (marksFailedBackup)
                BackupEditMark(deviceBackup).markChanging();
        } catch (const std::exception&) {
        }
        WorkerReport::error(m_monitor, failureText(QString::fromUtf8(e.what())));
    }
}
