#include "BackupCleaner.h"

#include "BackupFileName.h"
#include "Sqlite3DB.h"
#include "WorkerReport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

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
    try {
        if (!m_manifest.locate(backupDir))
            throw std::runtime_error(missingManifestMessage().arg(m_manifest.path()).toStdString());
        m_manifest.read();
        if (work(m_manifest.records()) == Outcome::WriteManifest && !scanOnly)
            m_manifest.write();
        WorkerReport::succeed(progressForm);
    } catch (int) {
        // Cancelled: the dialog already ended, nothing more to say.
    } catch (const std::exception& e) {
        WorkerReport::error(progressForm, QString::fromUtf8(e.what()));
    }
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

QString BackupCleaner::databasePath(const QString& name) const
{
    return m_manifest.filePath(name);
}

void BackupCleaner::editWorkingCopy(const QString& name, const QString& copyFailure,
                                    const QStringList& statements,
                                    const std::function<QStringList(Sqlite3DB&)>& prepare)
{
    const QString d = databasePath(name);
    const QString w = QStringLiteral("%1-%2").arg(d).arg(QDateTime::currentMSecsSinceEpoch());
    m_workingCopies.insert(name, w);
    if (!QFileInfo(d).isFile())
        return;
    const qint64 size = QFileInfo(d).size();
    foundBytes += size;
    if (scanOnly)
        return;
    clearedBytes += size;
    // The kernel copies the file (QFile::copy would read and write it in small blocks).
    std::error_code error;
    if (!std::filesystem::copy_file(QFile::encodeName(d).toStdString(), QFile::encodeName(w).toStdString(),
                                    error))
        throw std::runtime_error(copyFailure.arg(w).toStdString());
    Sqlite3DB db;
    db.openThrow(w, 2);
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
    QStringList all = statements;
    if (prepare)
        all += prepare(db);
    for (const QString& statement : all)
        db.executeThrow(statement.toUtf8().constData());
    db.close();
}

void BackupCleaner::replaceWithWorkingCopy(const QString& name, ManifestMap& map)
{
    const QString w = m_workingCopies.value(name);
    if (w.isEmpty() || !QFileInfo(w).isFile())
        return;
    const QString d = databasePath(name);
    // One rename replaces the database, so it is never missing from the backup, even when the
    // rename fails.
    if (std::rename(QFile::encodeName(w).constData(), QFile::encodeName(d).constData()) != 0)
        throw std::runtime_error(QStringLiteral("cant rename %1 to %2").arg(w, d).toStdString());
    refreshRecord(map, name, d);
}

void BackupCleaner::refreshRecord(ManifestMap& map, const QString& name, const QString& databasePath)
{
    MbdbRecord& record = map[name];
    record.dataHash.setBytes(fileSha1(databasePath).left(20));
    const QFileInfo info(databasePath);
    const auto modified = quint32(info.lastModified().toSecsSinceEpoch());
    record.modifiedTime = modified;
    record.changedTime = modified;
    const QDateTime born = info.birthTime();
    record.createdTime = born.isValid() ? quint32(born.toSecsSinceEpoch()) : modified;
    m_manifest.markRefreshed(name);
}
