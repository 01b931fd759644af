#pragma once

#include "BackupManifest.h"
#include "MbdbRecord.h"

#include <QDir>
#include <QHash>
#include <QThread>

#include <functional>

class ProgressForm;
class Sqlite3DB;

// The frame every backup cleaner runs in: it reads the backup's manifest, lets the cleaner find
// (scan pass) or also remove (clear pass) what it frees, and in a clear pass writes the manifest
// back. A cleaner never touches the device, only the backup folder.
class BackupCleaner : public QThread
{
    Q_OBJECT
public:
    BackupCleaner(const QDir& backupDir, ProgressForm* progressForm, QObject* parent);

    bool scanOnly = false;
    QDir backupDir;
    ProgressForm* progressForm;
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
    virtual Outcome work(ManifestMap& map) = 0;

    // Visits every record once, in the map's order, with the cancellation check and a progress
    // report before each. visit returns true to remove the record.
    void walkRecords(ManifestMap& map, const std::function<int(qint64 i, qint64 n)>& percent,
                     const std::function<bool(const MbdbRecord&)>& visit);
    void throwIfRejected() const;
    // Counts a record that goes: its size is found, and in a clear pass also cleared. Folders and
    // empty files count nothing.
    void countRemoved(const MbdbRecord& record);
    void reportPercent(int percent);

    QString databasePath(const QString& name) const;
    // Copies the database to a working copy and runs the statements on it (clear pass only);
    // both passes count its size. prepare runs on the open working copy before the statements
    // and may return further statements to run after them.
    void editWorkingCopy(const QString& name, const QString& copyFailure, const QStringList& statements,
                         const std::function<QStringList(Sqlite3DB&)>& prepare = {});
    // Puts the working copy in place of the database and refreshes its record.
    void replaceWithWorkingCopy(const QString& name, ManifestMap& map);
    void refreshRecord(ManifestMap& map, const QString& name, const QString& databasePath);

private:
    BackupManifest m_manifest;
    QHash<QString, QString> m_workingCopies;
    int m_lastPercent = -1;
};
