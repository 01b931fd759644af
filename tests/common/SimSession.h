#pragma once

#include "FrameworkLoader.h"
#include "IOSDevice.h"
#include "MobileDeviceManager.h"
#include "SimDeviceFolder.h"

#include <QObject>
#include <QTemporaryDir>
#include <QTest>

// The sim framework loaded over a private root, with device arrivals collected.
class SimSession : public QObject
{
    Q_OBJECT
public:
    QTemporaryDir root;
    QList<void*> arrived;

    bool start()
    {
        qputenv("SPACEWELL_FRAMEWORK_DIR", SPACEWELL_TEST_FRAMEWORKS "/sim");
        qputenv("SPACEWELL_SIM_ROOT", root.path().toUtf8());
        QString error;
        if (!load_apple_framework(error))
            return false;
        m_context.receiver = this;
        return mobiledevice_subscribe(&m_context) == 0;
    }

    // Waits for the folder's device to arrive and reads its record.
    IOSDevice attach(const SimDeviceFolder&)
    {
        const qsizetype before = arrived.size();
        if (!QTest::qWaitFor([&] { return arrived.size() > before; }, 5000))
            return IOSDevice();
        return mobiledevice_read_device(arrived.last());
    }

public slots:
    void iosDeviceConnected(void* device) { arrived << device; }
    void iosDeviceDisconnected(void*) {}

private:
    MobileDeviceNotificationContext m_context;
};
