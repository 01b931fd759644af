#include "BackupCleaner.h"

#include "BackupFileName.h"
#include "SchemaFunctions.h"
#include "Sqlite3DB.h"
#include "SqliteFiles.h"
#include "WorkerReport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cstdio>
#include <stdexcept>

namespace {
QString timestamped(const QString& path)
{
    return QStringLiteral("%1-%2").arg(path).arg(QDateTime::currentMSecsSinceEpoch());
}
} // namespace

BackupCleaner::BackupCleaner(const QDir& backupDir, ProgressForm* progressForm, QObject* parent)
    : QThread(parent), backupDir(backupDir), progressForm(progressForm)
{
}

void BackupCleaner::run()
{
    WorkerReport::progress(progressForm, statusText(), 0);
    m_lastPercent = 0;
    foundBytes = 0;
    clearedBytes = 0;
    m_mark.emplace(backupDir);
    try {
        if (!m_manifest.locate(backupDir))
            throw std::runtime_error(missingManifestMessage().arg(m_manifest.path()).toStdString());
        m_manifest.read();
        if (work(m_manifest.records()) == Outcome::WriteManifest && !scanOnly) {
            markChanging();
            m_manifest.write();
        }
        m_mark->markWhole();
        removeCopies();
        WorkerReport::succeed(progressForm);
    } catch (int) {
        // Cancelled: the dialog already ended, nothing more to say. Walks end before any change.
        removeCopies();
    } catch (const std::exception& e) {
        removeCopies();
        QString text = QString::fromUtf8(e.what());
        // A cleaner only ever edits the copy on this computer.
        if (!scanOnly)
            text += QStringLiteral("<br/><br/>Your device was not changed.");
        WorkerReport::error(progressForm, text);
    }
}

void BackupCleaner::markChanging()
{
    m_mark->markChanging();
}

void BackupCleaner::removeCopies()
{
    for (const QString& copy : std::as_const(m_workingCopies))
        SqliteFiles::removeWithSideFiles(copy);
    for (const QString& copy : std::as_const(m_readCopies))
        SqliteFiles::removeWithSideFiles(copy);
    m_workingCopies.clear();
    m_readCopies.clear();
}

void BackupCleaner::throwIfRejected() const
{
    if (WorkerReport::isRejected(progressForm))
        throw -1;
}

void BackupCleaner::countRemoved(const MbdbRecord& record)
{
    if (record.isEmptyEntry())
        return;
    foundBytes += qint64(record.size);
    if (!scanOnly)
        clearedBytes += qint64(record.size);
}

void BackupCleaner::reportPercent(int percent)
{
    // Only what the dialog would show differently is sent.
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    WorkerReport::progress(progressForm, QString(), percent);
}

void BackupCleaner::walkRecords(ManifestMap& map, const std::function<int(qint64, qint64)>& percent,
                                const std::function<bool(const MbdbRecord&)>& visit)
{
    // Each record is visited once in the map's order; the removals wait until the walk is over
    // so that they cannot disturb it.
    const qint64 n = map.size();
    qint64 i = 0;
    QList<QString> removed;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        ++i;
        throwIfRejected();
        reportPercent(percent(i, n));
        if (visit(it.value()))
            removed.append(it.key());
    }
    for (const QString& name : removed)
        map.remove(name);
}

QString BackupCleaner::databasePath(const BackupDatabase& database) const
{
    return m_manifest.filePath(database.fileName());
}

QStringList BackupCleaner::sideRecords(const BackupDatabase& database) const
{
    QStringList names;
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString name = database.sideFileName(suffix);
        if (m_manifest.records().contains(name))
            names << name;
    }
    return names;
}

void BackupCleaner::openForReading(const BackupDatabase& database, Sqlite3DB& db)
{
    const QString d = databasePath(database);
    const QString wal = m_manifest.filePath(database.sideFileName("-wal"));
    if (sideRecords(database).contains(database.sideFileName("-wal")) && QFileInfo(wal).size() > 0) {
        // The log's rows count: a copy paired with it is read, and the backup stays as it was.
        const QString copy = timestamped(d);
        m_readCopies << copy;
        if (!SqliteFiles::copyWithWal(d, wal, copy,
                                      [this] { return WorkerReport::isRejected(progressForm); })) {
            throwIfRejected();
            throw std::runtime_error(QStringLiteral("cant copy db to %1").arg(copy).toUtf8().toStdString());
        }
        db.openThrow(copy, 2);
    } else {
        db.openForReadingThrow(d);
    }
    registerSchemaFunctions(db);
}

void BackupCleaner::editWorkingCopy(const BackupDatabase& database, const QString& copyFailure,
                                    const std::function<QStringList(Sqlite3DB&)>& statements)
{
    const QString d = databasePath(database);
    const QString w = timestamped(d);
    if (!QFileInfo(d).isFile())
        return;
    const QStringList sides = sideRecords(database);
    qint64 size = QFileInfo(d).size();
    for (const QString& side : sides)
        size += QFileInfo(m_manifest.filePath(side)).size();
    foundBytes += size;
    if (scanOnly)
        return;
    clearedBytes += size;
    const QString walName = database.sideFileName("-wal");
    const QString wal = sides.contains(walName) && QFileInfo::exists(m_manifest.filePath(walName))
                            ? m_manifest.filePath(walName)
                            : QString();
    m_workingCopies.insert(database.fileName(), w);
    if (!SqliteFiles::copyWithWal(d, wal, w, [this] { return WorkerReport::isRejected(progressForm); })) {
        throwIfRejected();
        throw std::runtime_error(copyFailure.arg(w).toUtf8().toStdString());
    }
    Sqlite3DB db;
    db.openThrow(w, 2);
    registerSchemaFunctions(db);
    // Cancel stops a long statement too (emptying and compacting a large database takes a while);
    // the working copy is then dropped and the backup stays as it was.
    sqlite3_progress_handler(
        db.handle(), 1000,
        [](void* cleaner) {
            return WorkerReport::isRejected(static_cast<BackupCleaner*>(cleaner)->progressForm) ? 1 : 0;
        },
        this);
    // The working copy is never used if anything fails, so it needs no rollback journal; without
    // one the database is not written a second time. A write-ahead-log database keeps its mode,
    // which is part of the file.
    {
        Sqlite3Cursor mode = db.queryThrow("pragma journal_mode");
        if (mode.moveNext() &&
            mode.getText(QStringLiteral("journal_mode")).compare(QLatin1String("wal"), Qt::CaseInsensitive) !=
                0)
            db.executeThrow("pragma journal_mode=off");
    }
    try {
        for (const QString& statement : statements(db)) {
            throwIfRejected();
            db.executeThrow(statement.toUtf8().constData());
        }
    } catch (const Sqlite3Error&) {
        throwIfRejected(); // interrupted by Cancel: no error to show
        throw;
    }
    db.closeThrow();
}

void BackupCleaner::replaceWithWorkingCopy(const BackupDatabase& database, ManifestMap& map)
{
    const QString name = database.fileName();
    const QString w = m_workingCopies.value(name);
    if (w.isEmpty() || !QFileInfo(w).isFile())
        return;
    const QString d = databasePath(database);
    markChanging();
    // One rename replaces the database, so it is never missing from the backup, even when the
    // rename fails.
    if (std::rename(QFile::encodeName(w).constData(), QFile::encodeName(d).constData()) != 0)
        throw std::runtime_error(QStringLiteral("cant rename %1 to %2").arg(w, d).toStdString());
    m_workingCopies.remove(name);
    refreshRecord(map, name, d);
    // The copy took the log's rows in; the phone must not get the old log with the new file.
    for (const QString& side : sideRecords(database))
        map.remove(side);
}

void BackupCleaner::refreshRecord(ManifestMap& map, const QString& name, const QString& databasePath)
{
    auto it = map.find(name);
    if (it == map.end()) {
        // A record made up here would have neither domain nor path.
        qWarning("the manifest lists no record for %s; its record is not refreshed", qUtf8Printable(name));
        return;
    }
    MbdbRecord& record = it.value();
    const QFileInfo info(databasePath);
    record.size = quint64(info.size());
    record.dataHash.setBytes(fileSha1(databasePath).left(20));
    const auto modified = quint32(info.lastModified().toSecsSinceEpoch());
    record.modifiedTime = modified;
    record.changedTime = modified;
    const QDateTime born = info.birthTime();
    record.createdTime = born.isValid() ? quint32(born.toSecsSinceEpoch()) : modified;
    m_manifest.markRefreshed(name);
}
