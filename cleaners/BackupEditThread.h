#pragma once

#include <QThread>

class BackupEdit;
class StepMonitor;

// The last step of a Free Up on a backup: writes the manifest that the flow's cleaners edited,
// once for them all, and marks the folder whole again.
class BackupEditThread : public QThread
{
    Q_OBJECT
public:
    BackupEditThread(BackupEdit& edit, StepMonitor* monitor, QObject* parent);

protected:
    void run() override;

private:
    BackupEdit& m_edit;
    StepMonitor* m_monitor;
};
