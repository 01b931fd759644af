#pragma once

#include "BackupEncryption.h"
#include "BackupManifest.h"
#include "BackupStatus.h"

#include <QDir>

// One edit of a backup folder, shared by the cleaners of one Scan or Free Up: the manifest is
// read once for them all and, after a Free Up, written once at the end. Until then the folder is
// marked as not whole from its first change on, so a flow that stops half-way leaves a folder
// that nothing restores or builds on.
class BackupEdit
{
public:
    explicit BackupEdit(const QDir& backupDir) : m_dir(backupDir), m_mark(backupDir) {}

    QDir backupDir() const { return m_dir; }
    BackupManifest& manifest() { return m_manifest; }
    // An encrypted backup's unlocked keys: the manifest and each database are decrypted into
    // working copies in the folder and encrypted again when they replace the originals.
    void setEncryption(std::shared_ptr<const BackupEncryption> encryption)
    {
        m_manifest.setEncryption(std::move(encryption));
    }
    const BackupEncryption* encryption() const { return m_manifest.encryption(); }
    // Before the first change to the folder.
    void markChanging() { m_mark.markChanging(); }

    // Finds and opens the manifest unless a cleaner before did; throws std::runtime_error with
    // missingManifest (%1: the manifest's path) when the folder has none.
    void open(const QString& missingManifest);
    // Writes the manifest back when a clear pass ran on it, then marks the folder whole again.
    // Throws std::runtime_error; the folder then stays marked.
    void finish();
    // A clear pass ran: finish() writes the manifest.
    void setEdited() { m_edited = true; }
    // Each replaced database is kept as it was, for an undo of the edit (see PartialBackup).
    void setKeepsOriginals(bool keep) { m_keepsOriginals = keep; }
    bool keepsOriginals() const { return m_keepsOriginals; }

private:
    QDir m_dir;
    BackupManifest m_manifest;
    BackupEditMark m_mark;
    bool m_edited = false;
    bool m_keepsOriginals = false;
};
