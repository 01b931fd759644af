#include "BackupCleaner.h"

#include "PartialBackup.h"

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
#include <unistd.h>

namespace {
QString timestamped(const QString& path)
{
    return QStringLiteral("%1-%2").arg(path).arg(QDateTime::currentMSecsSinceEpoch());
}
} // namespace

BackupCleaner::BackupCleaner(const QDir& backupDir, StepMonitor* monitor, QObject* parent)
    : QThread(parent), backupDir(backupDir), monitor(monitor),
      m_ownEdit(std::make_unique<BackupEdit>(backupDir)), m_edit(m_ownEdit.get())
{
}

BackupCleaner::BackupCleaner(BackupEdit& edit, StepMonitor* monitor, QObject* parent)
    : QThread(parent), backupDir(edit.backupDir()), monitor(monitor), m_edit(&edit)
{
}

void BackupCleaner::run()
{
    WorkerReport::progress(monitor, statusText(), 0);
    m_lastPercent = 0;
    foundBytes = 0;
    clearedBytes = 0;
    // A long look-up in the manifest stops on Cancel too; the edit outlives this cleaner.
    manifest().setInterrupt([this] { return WorkerReport::isRejected(monitor); });
    try {
        m_edit->open(missingManifestMessage());
        if (work() == Outcome::WriteManifest && !scanOnly)
            m_edit->setEdited();
        if (m_ownEdit)
            m_edit->finish();
        manifest().setInterrupt(nullptr);
        removeCopies();
        WorkerReport::succeed(monitor);
        return;
    } catch (int) {
        // Cancelled: the dialog already ended, nothing more to say. Walks end before any change.
    } catch (const std::exception& e) {
        // A look-up interrupted by Cancel ends with an error nobody needs to see.
        if (!WorkerReport::isRejected(monitor)) {
            QString text = QString::fromUtf8(e.what());
            // A cleaner only ever edits the copy on this computer.
            if (!scanOnly)
                text += QStringLiteral("<br/><br/>Your device was not changed.");
            WorkerReport::error(monitor, text);
        }
    }
    manifest().setInterrupt(nullptr);
    removeCopies();
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
    if (WorkerReport::isRejected(monitor))
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
    WorkerReport::progress(monitor, QString(), percent);
}

void BackupCleaner::walkRecords(const QList<RecordRule>& rules,
                                const std::function<int(qint64, qint64)>& percent,
                                const std::function<bool(const MbdbRecord&)>& visit)
{
    throwIfRejected();
    const QStringList names = manifest().select(rules);
    // Each record is visited once; the removals wait until the walk is over so that they cannot
    // disturb it. A scan leaves the records to the cleaners after it.
    const qint64 n = names.size();
    qint64 i = 0;
    QStringList removed;
    for (const QString& name : names) {
        ++i;
        throwIfRejected();
        reportPercent(percent(i, n));
        if (visit(manifest().record(name)) && !scanOnly)
            removed.append(name);
    }
    for (const QString& name : std::as_const(removed))
        manifest().remove(name);
}

QString BackupCleaner::databasePath(const BackupDatabase& database) const
{
    return m_edit->manifest().filePath(database.fileName());
}

QStringList BackupCleaner::sideRecords(const BackupDatabase& database)
{
    const QStringList sides = {database.sideFileName("-wal"), database.sideFileName("-shm")};
    manifest().load(sides);
    QStringList names;
    for (const QString& name : sides) {
        if (manifest().contains(name))
            names << name;
    }
    return names;
}

bool BackupCleaner::copyWithWal(const BackupDatabase& database, const QString& wal, const QString& copy)
{
    const auto stop = [this] { return WorkerReport::isRejected(monitor); };
    const BackupEncryption* encryption = m_edit->encryption();
    if (!encryption)
        return SqliteFiles::copyWithWal(databasePath(database), wal, copy, stop);
    // The working copies are the only plain text of an encrypted backup, and go when the run does.
    SqliteFiles::removeWithSideFiles(copy);
    const QString walName = database.sideFileName("-wal");
    const bool copied = encryption->decrypt(encryption->fileKey(manifest().record(database.fileName())),
                                            databasePath(database), copy, stop) &&
                        (wal.isEmpty() || encryption->decrypt(encryption->fileKey(manifest().record(walName)),
                                                              wal, copy + QStringLiteral("-wal"), stop));
    if (!copied)
        SqliteFiles::removeWithSideFiles(copy);
    return copied;
}

qint64 BackupCleaner::plainSize(const QString& name)
{
    // An encrypted file is padded; its record keeps the size the phone has.
    if (m_edit->encryption())
        return qint64(manifest().record(name).size);
    return QFileInfo(manifest().filePath(name)).size();
}

void BackupCleaner::openForReading(const BackupDatabase& database, Sqlite3DB& db)
{
    const QString d = databasePath(database);
    const QString wal = manifest().filePath(database.sideFileName("-wal"));
    const bool withWal = sideRecords(database).contains(database.sideFileName("-wal")) &&
                         plainSize(database.sideFileName("-wal")) > 0;
    if (withWal || m_edit->encryption()) {
        // The log's rows count: a copy paired with it is read, and the backup stays as it was.
        const QString copy = timestamped(d);
        m_readCopies << copy;
        if (!copyWithWal(database, withWal ? wal : QString(), copy)) {
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
    qint64 size = plainSize(database.fileName());
    for (const QString& side : sides)
        size += plainSize(side);
    foundBytes += size;
    if (scanOnly)
        return;
    clearedBytes += size;
    const QString walName = database.sideFileName("-wal");
    const QString wal = sides.contains(walName) && QFileInfo::exists(manifest().filePath(walName))
                            ? manifest().filePath(walName)
                            : QString();
    m_workingCopies.insert(database.fileName(), w);
    if (!copyWithWal(database, wal, w)) {
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
            return WorkerReport::isRejected(static_cast<BackupCleaner*>(cleaner)->monitor) ? 1 : 0;
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

void BackupCleaner::replaceWithWorkingCopy(const BackupDatabase& database)
{
    const QString name = database.fileName();
    const QString w = m_workingCopies.value(name);
    if (w.isEmpty() || !QFileInfo(w).isFile())
        return;
    const QString d = databasePath(database);
    m_edit->markChanging();
    // The database as it was stays under a second name, for the undo of this Free Up.
    if (m_edit->keepsOriginals()) {
        const QString kept = PartialBackup::keptOriginal(d);
        QFile::remove(kept);
        if (::link(QFile::encodeName(d).constData(), QFile::encodeName(kept).constData()) != 0 &&
            !QFile::copy(d, kept))
            throw std::runtime_error(QStringLiteral("cant keep %1 as %2").arg(d, kept).toStdString());
    }
    // One rename replaces the database, so it is never missing from the backup, even when the
    // rename fails.
    if (const BackupEncryption* encryption = m_edit->encryption()) {
        // A new key for the new content; the record, refreshed from the plain copy, keeps it.
        MbdbRecord record = manifest().record(name);
        const QByteArray key = encryption->giveNewKey(record);
        encryption->encrypt(key, w, d);
        manifest().refresh(name, record);
        refreshRecord(name, w);
        SqliteFiles::removeWithSideFiles(w);
    } else {
        if (std::rename(QFile::encodeName(w).constData(), QFile::encodeName(d).constData()) != 0)
            throw std::runtime_error(QStringLiteral("cant rename %1 to %2").arg(w, d).toStdString());
        refreshRecord(name, d);
    }
    m_workingCopies.remove(name);
    // The copy took the log's rows in; the phone must not get the old log with the new file.
    for (const QString& side : sideRecords(database))
        manifest().remove(side);
}

void BackupCleaner::refreshRecord(const QString& name, const QString& databasePath)
{
    if (!manifest().contains(name)) {
        // A record made up here would have neither domain nor path.
        qWarning("the manifest lists no record for %s; its record is not refreshed", qUtf8Printable(name));
        return;
    }
    MbdbRecord record = manifest().record(name);
    const QFileInfo info(databasePath);
    record.size = quint64(info.size());
    record.dataHash.setBytes(fileSha1(databasePath).left(20));
    const auto modified = quint32(info.lastModified().toSecsSinceEpoch());
    record.modifiedTime = modified;
    record.changedTime = modified;
    const QDateTime born = info.birthTime();
    record.createdTime = born.isValid() ? quint32(born.toSecsSinceEpoch()) : modified;
    manifest().refresh(name, record);
}
