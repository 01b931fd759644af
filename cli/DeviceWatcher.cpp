#include "DeviceWatcher.h"

#include "MobileDeviceManager.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {
// The framework reports the phones already attached within moments of the subscription (the
// simulated one looks every 150 ms); an arrival is given a little longer for any that follow.
constexpr int firstWaitMs = 800;
constexpr int afterArrivalMs = 400;
constexpr int longestWaitMs = 3000;
} // namespace

DeviceWatcher::DeviceWatcher() = default;

DeviceWatcher::~DeviceWatcher()
{
    if (m_subscribed)
        mobiledevice_stop_notifications(this);
}

bool DeviceWatcher::collect(QString& error)
{
    MobileDeviceNotificationContext context;
    context.receiver = this;
    try {
        mobiledevice_subscribe(&context);
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
        return false;
    }
    m_subscribed = true;
    QElapsedTimer since;
    since.start();
    qsizetype seen = 0;
    qint64 until = firstWaitMs;
    while (since.elapsed() < qMin<qint64>(until, longestWaitMs)) {
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
        if (m_arrived.size() != seen) {
            seen = m_arrived.size();
            until = since.elapsed() + afterArrivalMs;
        }
    }
    for (void* handle : std::as_const(m_arrived)) {
        try {
            m_devices << mobiledevice_read_device(handle);
        } catch (const std::exception& e) {
            m_unreadable << QString::fromUtf8(e.what());
        }
    }
    return true;
}

void DeviceWatcher::iosDeviceConnected(void* device)
{
    if (!m_arrived.contains(device))
        m_arrived << device;
}

void DeviceWatcher::iosDeviceDisconnected(void* device)
{
    m_arrived.removeAll(device);
}
