#pragma once

#include "AppInfo.h"
#include "IOSDevice.h"

#include <QByteArray>
#include <QThread>

class StepMonitor;

// Loads the user's installed apps from the device and caches each app's icon on the computer.
class IOSLoadAppThread : public QThread
{
    Q_OBJECT
public:
    IOSLoadAppThread(const IOSDevice& device, StepMonitor* monitor, QObject* parent);

    QList<AppInfo> apps;
    // Whether the device opens at least one app's container (current iOS opens only those of
    // developer-signed apps); false with no apps.
    bool someContainerOpens = false;

protected:
    void run() override;

private:
    // Caches the app's icon from its container unless it is cached; returns whether the container
    // opened (false also when it was not asked).
    bool fetchIcon(const AppInfo& app);
    bool containerOpens(const AppInfo& app);

    IOSDevice m_device;
    StepMonitor* m_monitor;
    QByteArray m_buffer;
};
