#include "BackupEditThread.h"

#include "BackupEdit.h"
#include "FileUtils.h"
#include "WorkerReport.h"

#include <stdexcept>

BackupEditThread::BackupEditThread(BackupEdit& edit, StepMonitor* monitor, QObject* parent)
    : QThread(parent), m_edit(edit), m_monitor(monitor)
{
}

void BackupEditThread::run()
{
    WorkerReport::progress(m_monitor, tr("IDS_SAVING_BACKUP"), 0);
    try {
        // Short and all-or-nothing: the manifest is written whole or left as it was, so Cancel
        // waits for it.
        m_edit.finish();
        if (m_writesPartial) {
            removeDirectory(m_partial.absolutePath());
            m_written = PartialBackup::write(m_edit.backupDir(), m_edit.manifest(), m_partial);
        }
        if (m_writesUndo) {
            removeDirectory(m_undo.absolutePath());
            m_undoWritten = PartialBackup::write(m_edit.backupDir(), m_edit.manifest(), m_undo,
                                                 PartialBackup::Kind::Undo);
        }
        WorkerReport::succeed(m_monitor);
    } catch (const std::exception& e) {
        WorkerReport::error(m_monitor, QString::fromUtf8(e.what()) +
                                           QStringLiteral("<br/><br/>Your device was not changed."));
    }
}
