#include "BackupEditThread.h"

#include "BackupEdit.h"
#include "WorkerReport.h"

#include <stdexcept>

BackupEditThread::BackupEditThread(BackupEdit& edit, ProgressForm* progressForm, QObject* parent)
    : QThread(parent), m_edit(edit), m_progressForm(progressForm)
{
}

void BackupEditThread::run()
{
    WorkerReport::progress(m_progressForm, tr("IDS_SAVING_BACKUP"), 0);
    try {
        // Short and all-or-nothing: the manifest is written whole or left as it was, so Cancel
        // waits for it.
        m_edit.finish();
        WorkerReport::succeed(m_progressForm);
    } catch (const std::exception& e) {
        WorkerReport::error(m_progressForm, QString::fromUtf8(e.what()) +
                                                QStringLiteral("<br/><br/>Your device was not changed."));
    }
}
