#include "IOSLoadAppThread.h"

#include "AfcConnection.h"
#include "AppFolders.h"
#include "CFType.h"
#include "FileUtils.h"
#include "MobileDeviceManager.h"
#include "WorkerReport.h"

#include <QFile>

#include <stdexcept>
#include <utility>

namespace {
constexpr int iconBlock = 262144;
}

IOSLoadAppThread::IOSLoadAppThread(const IOSDevice& device, StepMonitor* monitor, QObject* parent)
    : QThread(parent), m_device(device), m_monitor(monitor)
{
}

void IOSLoadAppThread::run()
{
    WorkerReport::progress(m_monitor, tr("IDS_LOADING_IOS_APP_INFO"), 0);
    apps.clear();
    int socket = -1;
    try {
        mobiledevice_start_service(m_device.device, QStringLiteral("com.apple.mobile.installation_proxy"),
                                   socket);
        CFType options = CFType::newDictionary();
        options.setValue(CFType::fromString(QStringLiteral("ApplicationType")),
                         CFType::fromString(QStringLiteral("User")));
        // Only what the window shows: the phone works out disk usage only for the apps it is
        // asked about, and sends nothing else.
        CFType attributes = CFType::newArray();
        for (const char* name : {"CFBundleIdentifier", "CFBundleName", "StaticDiskUsage", "DynamicDiskUsage"})
            attributes.appendValue(CFType::fromString(QLatin1String(name)));
        options.setValue(CFType::fromString(QStringLiteral("ReturnAttributes")), attributes);
        CFType request = CFType::newDictionary();
        request.setValue(CFType::fromString(QStringLiteral("Command")),
                         CFType::fromString(QStringLiteral("Browse")));
        request.setValue(CFType::fromString(QStringLiteral("ClientOptions")), options);
        mobiledevice_sendmsg(socket, request, false, 60000);
        for (;;) {
            const CFType reply = mobiledevice_recmsg(socket, request, 60000);
            const CFType list = reply.value(QStringLiteral("CurrentList"));
            for (int i = 0; i < list.arrayCount(); ++i) {
                const CFType entry = list.arrayValue(i);
                AppInfo app;
                app.identifier = entry.value(QStringLiteral("CFBundleIdentifier")).toString();
                app.name = entry.value(QStringLiteral("CFBundleName")).toString();
                if (app.name.isEmpty())
                    app.name = app.identifier;
                for (auto [key, bytes] : {std::pair{"StaticDiskUsage", &app.bundleBytes},
                                          std::pair{"DynamicDiskUsage", &app.dataBytes}}) {
                    const CFType value = entry.value(QLatin1String(key));
                    *bytes = value.isNumber() ? value.toLongLong(-1) : -1;
                }
                apps.append(app);
            }
            if (reply.value(QStringLiteral("Status"))
                    .toString()
                    .compare(QLatin1String("Complete"), Qt::CaseInsensitive) == 0)
                break;
            // A peer that stops answering ends the load with the receive error.
        }
        mobiledevice_close_socket(socket);
        socket = -1;
    } catch (const std::exception& e) {
        if (socket >= 0)
            mobiledevice_close_socket(socket);
        WorkerReport::error(m_monitor,
                            QStringLiteral("%1, line: %2").arg(QString::fromUtf8(e.what())).arg(49));
        return;
    }

    const int n = int(apps.size());
    someContainerOpens = false;
    for (int i = 1; i <= n; ++i) {
        WorkerReport::progress(m_monitor, QString(), int(double(i) / n * 100));
        try {
            someContainerOpens = fetchIcon(apps.at(i - 1)) || someContainerOpens;
        } catch (const std::exception& e) {
            qDebug("Error: %s", e.what());
        }
    }
    // Icons cached earlier told nothing: ask the containers until one opens.
    for (int i = 0; i < n && !someContainerOpens; ++i)
        someContainerOpens = containerOpens(apps.at(i));
    WorkerReport::succeed(m_monitor);
}

bool IOSLoadAppThread::containerOpens(const AppInfo& app)
{
    try {
        AfcConnection probe(m_device.device);
        probe.open(app.identifier);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool IOSLoadAppThread::fetchIcon(const AppInfo& app)
{
    // The identifier names a folder on this computer: it must stay one entry of the cache folder.
    if (!isPlainFileName(sanitizeFileName(app.identifier))) {
        qDebug("Error: %s",
               qUtf8Printable(QStringLiteral("no icon folder for the app \"%1\"").arg(app.identifier)));
        return false;
    }
    const QDir cache = appCacheDir(m_device, app.identifier);
    QDir().mkpath(cache.absolutePath());
    const QString iconPath = cache.filePath(QStringLiteral("iTunesArtwork"));
    if (QFile::exists(iconPath))
        return false;
    AfcConnection afc(m_device.device);
    try {
        afc.open(app.identifier);
    } catch (const ContainerRefused&) {
        return false;
    }
    AfcFile remote;
    if (afc.openForRead(QStringLiteral("/iTunesArtwork"), remote)) {
        QFile local(iconPath);
        if (local.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            if (m_buffer.isEmpty())
                m_buffer.resize(iconBlock);
            for (;;) {
                const qint64 n = remote.read(m_buffer.data(), iconBlock);
                if (n < 1)
                    break;
                local.write(m_buffer.constData(), n);
            }
            local.close();
        }
    }
    remote.close();
    afc.close();
    return true;
}
