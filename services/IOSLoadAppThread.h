#pragma once

#include "AppInfo.h"
#include "IOSDevice.h"

#include <QByteArray>
#include <QThread>

class ProgressForm;

// Loads the user's installed apps from the device and caches each app's icon on the computer.
class IOSLoadAppThread : public QThread
{
    Q_OBJECT
public:
    IOSLoadAppThread(const IOSDevice& device, ProgressForm* progressForm, QObject* parent);

    QList<AppInfo> apps;

protected:
    void run() override;

private:
    void fetchIcon(const AppInfo& app);

    IOSDevice m_device;
    ProgressForm* m_progressForm;
    QByteArray m_buffer;
};
