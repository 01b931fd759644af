#include "BackupEdit.h"

#include <stdexcept>

void BackupEdit::open(const QString& missingManifest)
{
    if (m_manifest.isOpen())
        return;
    if (!m_manifest.locate(m_dir))
        throw std::runtime_error(missingManifest.arg(m_manifest.path()).toUtf8().toStdString());
    m_manifest.open();
}

void BackupEdit::finish()
{
    if (m_edited && m_manifest.isOpen()) {
        m_mark.markChanging();
        m_manifest.write();
        m_edited = false;
    }
    m_mark.markWhole();
}
