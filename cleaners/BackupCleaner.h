#pragma once

#include "BackupEdit.h"
#include "KnownDatabases.h"
#include "MbdbRecord.h"

#include <QDir>
#include <QHash>
#include <QThread>

#include <functional>
#include <memory>

class StepMonitor;
class Sqlite3DB;

// The frame every backup cleaner runs in: it opens the backup's manifest, lets the cleaner find
// (scan pass) or also remove (clear pass) what it frees, and in a clear pass writes the manifest
// back. A cleaner never touches the device, only the backup folder.
class BackupCleaner : public QThread
{
    Q_OBJECT
public:
    // A cleaner on its own: it reads the manifest and, in a clear pass, writes it back.
    BackupCleaner(const QDir& backupDir, StepMonitor* monitor, QObject* parent);
    // One of several cleaners of a flow: they share the edit's manifest, and the flow finishes
    // the edit after the last of them.
    BackupCleaner(BackupEdit& edit, StepMonitor* monitor, QObject* parent);

    bool scanOnly = false;
    QDir backupDir;
    StepMonitor* monitor;
    qint64 foundBytes = 0;
    qint64 clearedBytes = 0;

protected:
    enum class Outcome
    {
        WriteManifest,
        EndEarly
    };

    void run() final;

    virtual QString statusText() const = 0;
    // "<Cleaner>, can not find %1." with %1 the manifest path.
    virtual QString missingManifestMessage() const = 0;
    virtual Outcome work() = 0;

    // Visits once each record that a rule matches, with the cancellation check and a progress
    // report before each. visit returns true to remove the record (clear pass only).
    void walkRecords(const QList<RecordRule>& rules, const std::function<int(qint64 i, qint64 n)>& percent,
                     const std::function<bool(const MbdbRecord&)>& visit);
    void throwIfRejected() const;
    // Counts a record that goes: its size is found, and in a clear pass also cleared. Folders and
    // empty files count nothing.
    void countRemoved(const MbdbRecord& record);
    void reportPercent(int percent);

    QString databasePath(const BackupDatabase& database) const;
    // Opens a database of the backup for reading as the phone sees it, with the rows of its log;
    // a copy made for that is removed when the run ends. The functions its schema calls answer.
    void openForReading(const BackupDatabase& database, Sqlite3DB& db);
    // Copies the database, with its log, to a working copy and runs the statements that
    // `statements` gives for it (clear pass only); both passes count the database and the files
    // beside it. The functions the schema calls answer before any statement runs, and the copy is
    // one file again afterwards.
    void editWorkingCopy(const BackupDatabase& database, const QString& copyFailure,
                         const std::function<QStringList(Sqlite3DB&)>& statements);
    // Puts the working copy in place of the database, refreshes its record and drops the records
    // of the files beside it, whose rows the copy now holds.
    void replaceWithWorkingCopy(const BackupDatabase& database);
    void refreshRecord(const QString& name, const QString& databasePath);

private:
    // Names of the records of the log and shared-memory files that the manifest lists beside a
    // database.
    QStringList sideRecords(const BackupDatabase& database);
    void removeCopies();
    // Copies a database of the backup, and its log unless `wal` is empty, as SqliteFiles does,
    // decrypting them in an encrypted backup.
    bool copyWithWal(const BackupDatabase& database, const QString& wal, const QString& copy);
    // The size of a record's file as the phone has it.
    qint64 plainSize(const QString& name);
    BackupManifest& manifest() { return m_edit->manifest(); }

    std::unique_ptr<BackupEdit> m_ownEdit;
    BackupEdit* m_edit;
    QHash<QString, QString> m_workingCopies;
    QStringList m_readCopies;
    int m_lastPercent = -1;
};
