#include "IOSClearAppCacheThread.h"

#include "AfcConnection.h"
#include "FormatSize.h"
#include "WorkerReport.h"

#include <stdexcept>

IOSClearAppCacheThread::IOSClearAppCacheThread(const IOSDevice& device, const QList<AppInfo>& apps,
                                               StepMonitor* monitor, QObject* parent)
    : QThread(parent), m_device(device), m_apps(apps), m_monitor(monitor)
{
}

qint64 IOSClearAppCacheThread::totalSize() const
{
    qint64 total = 0;
    for (qint64 size : sizes)
        total += size;
    return total;
}

QString IOSClearAppCacheThread::clearedText() const
{
    return tr("IDS_FOUND_%1_APPCACHE_SUC_CLEAR_%2")
        .arg(formatSize(totalSize()), formatSize(qint64(clearedBytes)));
}

void IOSClearAppCacheThread::cancelIfRejected() const
{
    if (WorkerReport::isRejected(m_monitor))
        throw -1;
}

void IOSClearAppCacheThread::run()
{
    WorkerReport::progress(m_monitor, scanOnly ? tr("IDS_SCAN_IOS_APP_CACHE") : tr("IDS_CLEAR_IOS_APP_CACHE"),
                           0);
    clearedBytes = 0;
    sizes.clear();
    refused.clear();
    try {
        if (!m_apps.isEmpty()) {
            cancelIfRejected();
            const int n = int(m_apps.size());
            for (int i = 1; i <= n; ++i) {
                const AppInfo& app = m_apps.at(i - 1);
                WorkerReport::progress(
                    m_monitor, (scanOnly ? tr("IDS_SCANING_%1") : tr("IDS_CLEARING_%1")).arg(app.name),
                    int(double(i) / n * 100));
                AfcConnection connection(m_device.device);
                try {
                    connection.open(app.identifier);
                } catch (const ContainerRefused&) {
                    refused << app.identifier;
                    if (i == n)
                        break;
                    cancelIfRejected();
                    continue;
                }
                const bool remove = !scanOnly;
                sizes[app.identifier] = 0;
                sizes[app.identifier] = measureTree(connection, QStringLiteral("/Library/Caches"), remove) +
                                        measureTree(connection, QStringLiteral("/Library/tmp"), remove);
                // Sizes measured over a lost connection would be wrong, not zero.
                if (connection.isBroken())
                    throw std::runtime_error(
                        QStringLiteral("The connection to the device was lost while reading "
                                       "%1. Reconnect the device and try again.")
                            .arg(app.name.toHtmlEscaped())
                            .toUtf8()
                            .toStdString());
                connection.close();
                if (i == n)
                    break;
                cancelIfRejected();
            }
        }
        WorkerReport::succeed(m_monitor);
    } catch (int) {
    } catch (const std::exception& e) {
        WorkerReport::error(m_monitor, QString::fromUtf8(e.what()));
    }
}

qint64 IOSClearAppCacheThread::measureTree(AfcConnection& connection, const QString& folder, bool remove)
{
    const QList<AfcFileInfo> entries = connection.listDirectory(folder);
    if (entries.isEmpty())
        return 0;
    cancelIfRejected();
    // A folder's files go together, several requests in flight; its folders one by one after them.
    qint64 total = 0;
    QStringList files;
    QStringList folders;
    for (const AfcFileInfo& entry : entries) {
        if (entry.isFile()) {
            total += entry.size;
            files << entry.path;
        } else if (entry.isDir()) {
            folders << entry.path;
        }
    }
    // Removed a few at a time, so that Cancel is never far off.
    constexpr qsizetype batch = 16;
    for (qsizetype first = 0; first < files.size(); first += batch) {
        if (first > 0)
            cancelIfRejected();
        const QStringList some = files.mid(first, batch);
        if (remove)
            connection.removePaths(some);
        for (const QString& path : some)
            WorkerReport::progress(m_monitor, QString(), -1, path);
    }
    if (remove)
        clearedBytes += quint64(total);
    for (const QString& path : std::as_const(folders)) {
        cancelIfRejected();
        total += measureTree(connection, path, remove);
        if (remove)
            connection.removePath(path);
    }
    return total;
}
