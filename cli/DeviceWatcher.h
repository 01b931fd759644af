#pragma once

#include "IOSDevice.h"

#include <QList>
#include <QObject>

// The phones connected now, as the device framework reports them: it subscribes to device events
// and collects the arrivals until they settle.
class DeviceWatcher : public QObject
{
    Q_OBJECT
public:
    DeviceWatcher();
    ~DeviceWatcher() override;

    // Waits for the framework's first reports; false with `error` when it could not subscribe.
    bool collect(QString& error);
    QList<IOSDevice> devices() const { return m_devices; }
    // Phones that arrived but could not be read (not trusted, locked...), with why.
    QStringList unreadable() const { return m_unreadable; }

public slots:
    void iosDeviceConnected(void* device);
    void iosDeviceDisconnected(void* device);

private:
    QList<void*> m_arrived;
    QList<IOSDevice> m_devices;
    QStringList m_unreadable;
    bool m_subscribed = false;
};
