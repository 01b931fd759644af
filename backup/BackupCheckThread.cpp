#include "BackupCheckThread.h"

#include "BackupManifest.h"
#include "BackupStatus.h"
#include "Markup.h"
#include "WorkerReport.h"

#include <QFileInfo>

BackupCheckThread::BackupCheckThread(const QDir& backupDir,
                                     std::shared_ptr<const BackupEncryption> encryption, StepMonitor* monitor,
                                     QObject* parent)
    : QThread(parent), m_dir(backupDir), m_encryption(std::move(encryption)), m_monitor(monitor)
{
}

QString BackupCheckThread::incompleteText(int files, const QString& folder)
{
    return QStringLiteral(
               "The backup on this computer is incomplete: %1 %2 not written whole (in %3). Is the "
               "disk full? Nothing was changed on your phone; the next backup starts afresh.")
        .arg(files)
        .arg(files == 1 ? QStringLiteral("file was") : QStringLiteral("files were"),
             escapeAngleBrackets(folder));
}

void BackupCheckThread::run()
{
    WorkerReport::progress(m_monitor, statusText(), 0);
    auto fail = [this](const QString& text) {
        // Whatever is wrong, the next backup must not build on this one.
        try {
            BackupEditMark(m_dir).markChanging();
        } catch (const std::exception& e) {
            qWarning("%s", e.what());
        }
        WorkerReport::error(m_monitor, text);
    };
    try {
        if (!BackupStatus::isFinished(m_dir)) {
            fail(
                QStringLiteral("The backup on this computer did not finish (%1). Nothing was changed on your "
                               "phone; the next backup starts afresh.")
                    .arg(escapeAngleBrackets(m_dir.absolutePath())));
            return;
        }
        BackupManifest manifest;
        if (!manifest.locate(m_dir)) {
            fail(QStringLiteral(
                     "The backup on this computer has no manifest (%1). Nothing was changed on your "
                     "phone; the next backup starts afresh.")
                     .arg(escapeAngleBrackets(m_dir.absolutePath())));
            return;
        }
        manifest.setEncryption(m_encryption);
        manifest.setInterrupt([this] { return WorkerReport::isRejected(m_monitor); });
        manifest.read();
        const qint64 n = manifest.records().size();
        qint64 i = 0;
        ProgressThrottle throttle(m_monitor);
        for (auto it = manifest.records().cbegin(); it != manifest.records().cend(); ++it, ++i) {
            if (WorkerReport::isRejected(m_monitor))
                return;
            throttle.percent(int(i * 100 / qMax<qint64>(1, n)));
            const MbdbRecord& r = *it;
            if ((r.mode & 0170000) != 0100000 || r.size == 0)
                continue;
            // AES-CBC with PKCS#7 padding: the next whole block, a full one when already whole.
            const qint64 expected = m_encryption ? qint64(r.size / 16 + 1) * 16 : qint64(r.size);
            const QFileInfo file(manifest.filePath(it.key()));
            if (!file.isFile() || file.size() != expected)
                m_short << it.key();
        }
        if (!m_short.isEmpty()) {
            qWarning("backup files missing or short: %s",
                     qUtf8Printable(m_short.mid(0, 20).join(QLatin1Char(' '))));
            fail(incompleteText(int(m_short.size()), m_dir.absolutePath()));
            return;
        }
        WorkerReport::succeed(m_monitor);
    } catch (const std::exception& e) {
        if (!WorkerReport::isRejected(m_monitor))
            fail(QStringLiteral("The backup on this computer cannot be read whole: %1<br/><br/>Nothing was "
                                "changed on your phone; the next backup starts afresh.")
                     .arg(escapeAngleBrackets(QString::fromUtf8(e.what()))));
    }
}
