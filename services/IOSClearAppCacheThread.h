#pragma once

#include "AppInfo.h"
#include "IOSDevice.h"

#include <QHash>
#include <QThread>

class AfcConnection;
class ProgressForm;

// Measures, and unless scanning deletes, the contents of "/Library/Caches" and "/Library/tmp" in
// each app's container on the device.
class IOSClearAppCacheThread : public QThread
{
    Q_OBJECT
public:
    IOSClearAppCacheThread(const IOSDevice& device, const QList<AppInfo>& apps, ProgressForm* progressForm,
                           QObject* parent);

    bool scanOnly = false;
    QHash<QString, qint64> sizes;
    quint64 clearedBytes = 0;

    qint64 totalSize() const;

protected:
    void run() override;

private:
    qint64 measureTree(AfcConnection& connection, const QString& folder, bool remove);
    void cancelIfRejected() const;

    IOSDevice m_device;
    QList<AppInfo> m_apps;
    ProgressForm* m_progressForm;
};
