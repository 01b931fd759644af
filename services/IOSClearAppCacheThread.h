#pragma once

#include "AppInfo.h"
#include "IOSDevice.h"

#include <QHash>
#include <QThread>

class AfcConnection;
class StepMonitor;

// Measures, and unless scanning deletes, the contents of "/Library/Caches" and "/Library/tmp" in
// each app's container on the device. Apps whose containers the device refuses are skipped and
// listed in `refused`; a device that drops during a walk ends the run with an error.
class IOSClearAppCacheThread : public QThread
{
    Q_OBJECT
public:
    IOSClearAppCacheThread(const IOSDevice& device, const QList<AppInfo>& apps, StepMonitor* monitor,
                           QObject* parent);

    bool scanOnly = false;
    QHash<QString, qint64> sizes; // measured apps only
    QStringList refused;          // identifiers, in list order
    quint64 clearedBytes = 0;

    qint64 totalSize() const;
    // The closing text of a Free Up: what was found and deleted in the containers that opened.
    QString clearedText() const;

protected:
    void run() override;

private:
    qint64 measureTree(AfcConnection& connection, const QString& folder, bool remove);
    void cancelIfRejected() const;

    IOSDevice m_device;
    QList<AppInfo> m_apps;
    StepMonitor* m_monitor;
};
