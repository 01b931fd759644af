#pragma once

#include "BackupEncryption.h"

#include <QDir>
#include <QStringList>
#include <QThread>

#include <memory>

class StepMonitor;

// Checks a backup before anything reads or edits it: the tool's word for success is not enough
// (a file written while the disk was full comes out short, and idevicebackup2 still says "Backup
// Successful."). The backup is whole when its Status.plist says finished, its manifest opens and
// every file a record lists with content is there with that size (padded to whole AES blocks in an
// encrypted backup). A backup that is not whole is marked, so that nothing edits, restores or
// builds on it, and the step fails with incompleteText().
class BackupCheckThread : public QThread
{
    Q_OBJECT
public:
    BackupCheckThread(const QDir& backupDir, std::shared_ptr<const BackupEncryption> encryption,
                      StepMonitor* monitor, QObject* parent);

    static QString statusText() { return QStringLiteral("Checking the backup..."); }
    static QString incompleteText(int files, const QString& folder);
    // After a run: the backup files that are missing or short.
    QStringList shortFiles() const { return m_short; }

protected:
    void run() override;

private:
    QDir m_dir;
    std::shared_ptr<const BackupEncryption> m_encryption;
    StepMonitor* m_monitor;
    QStringList m_short;
};
