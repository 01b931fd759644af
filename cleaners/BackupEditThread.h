#pragma once

#include "PartialBackup.h"

#include <QDir>
#include <QThread>

class BackupEdit;
class StepMonitor;

// The last step of a Free Up on a backup: writes the manifest that the flow's cleaners edited,
// once for them all, and marks the folder whole again; then, when asked, the partial backup that
// lists only what changed.
class BackupEditThread : public QThread
{
    Q_OBJECT
public:
    BackupEditThread(BackupEdit& edit, StepMonitor* monitor, QObject* parent);

    // The device folder of the partial backup to write (anything there before is replaced).
    void setPartialFolder(const QDir& folder)
    {
        m_partial = folder;
        m_writesPartial = true;
    }
    // The device folder of the undo of this edit: the same entries as they were.
    void setUndoFolder(const QDir& folder)
    {
        m_undo = folder;
        m_writesUndo = true;
    }
    PartialBackup::Written partialWritten() const { return m_written; }
    PartialBackup::Written undoWritten() const { return m_undoWritten; }

protected:
    void run() override;

private:
    BackupEdit& m_edit;
    StepMonitor* m_monitor;
    QDir m_partial;
    bool m_writesPartial = false;
    QDir m_undo;
    bool m_writesUndo = false;
    PartialBackup::Written m_written;
    PartialBackup::Written m_undoWritten;
};
