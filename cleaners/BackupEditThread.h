#pragma once

#include <QThread>

class BackupEdit;
class ProgressForm;

// The last step of a Free Up on a backup: writes the manifest that the flow's cleaners edited,
// once for them all, and marks the folder whole again.
class BackupEditThread : public QThread
{
    Q_OBJECT
public:
    BackupEditThread(BackupEdit& edit, ProgressForm* progressForm, QObject* parent);

protected:
    void run() override;

private:
    BackupEdit& m_edit;
    ProgressForm* m_progressForm;
};
