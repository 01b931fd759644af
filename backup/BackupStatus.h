#pragma once

#include <QByteArray>
#include <QDir>

// Status.plist of a backup folder. Its "SnapshotState" is "finished" only for a whole backup:
// idevicebackup2 restores nothing else ("Cannot ensure we restore from a successful backup"),
// and the backup worker builds the next backup on nothing else.
namespace BackupStatus {
QString snapshotState(const QDir& backupDir);
bool isFinished(const QDir& backupDir);
} // namespace BackupStatus

// Keeps a backup folder from being used while a cleaner changes it: before the first change the
// folder's Status.plist says "uncommitted", and only a whole edit puts the file back as it was.
// A run that fails or is killed half-way thus leaves a folder that nothing restores or reuses.
class BackupEditMark
{
public:
    explicit BackupEditMark(const QDir& backupDir) : m_dir(backupDir) {}

    // Idempotent; throws std::runtime_error when Status.plist cannot be written.
    void markChanging();
    // Puts Status.plist back byte for byte (or removes it when there was none).
    void markWhole();
    bool isMarked() const { return m_marked; }

private:
    QString path() const;

    QDir m_dir;
    bool m_marked = false;
    bool m_hadStatus = false;
    QByteArray m_original;
};
