#include "PartialBackup.h"

#include "BackupEncryption.h"
#include "BackupFileName.h"
#include "ManifestDb.h"
#include "ManifestMbdb.h"

#include <QCryptographicHash>
#include <QFile>

#include <plist/plist.h>

#include <cstdlib>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const QString& text)
{
    throw std::runtime_error(text.toUtf8().toStdString());
}

constexpr quint16 typeMask = 0170000;
constexpr quint16 regularFile = 0100000;
constexpr quint16 folderType = 040000;

MbdbString text(const QString& s)
{
    MbdbString m;
    m.setBytes(s.toUtf8());
    return m;
}

QByteArray emptySha1()
{
    return QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha1);
}

// An empty file in place of `like`: same place, owner and protection.
MbdbRecord emptyFile(const MbdbRecord& like, const QString& path)
{
    MbdbRecord r = like;
    r.path = text(path);
    r.mode = quint16(regularFile | (like.mode & 07777));
    r.size = 0;
    r.linkTarget = MbdbString();
    r.dataHash.setBytes(emptySha1());
    r.properties.clear();
    return r;
}

// Status.plist of the full backup, with "IsFullBackup" false; "finished" is what makes a
// restore of it possible at all.
void writeStatus(const QDir& full, const QDir& into)
{
    QFile source(full.filePath(QStringLiteral("Status.plist")));
    if (!source.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1").arg(source.fileName()));
    const QByteArray bytes = source.readAll();
    plist_t status = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &status);
    if (!status || plist_get_node_type(status) != PLIST_DICT) {
        plist_free(status);
        fail(QStringLiteral("%1 is not a backup status").arg(source.fileName()));
    }
    plist_dict_set_item(status, "IsFullBackup", plist_new_bool(0));
    plist_dict_set_item(status, "SnapshotState", plist_new_string("finished"));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(status, &xml, &length);
    plist_free(status);
    QFile target(into.filePath(QStringLiteral("Status.plist")));
    const bool ok = xml && target.open(QIODevice::WriteOnly) && target.write(xml, length) == qint64(length);
    std::free(xml);
    if (!ok)
        fail(QStringLiteral("cannot write %1").arg(target.fileName()));
}

} // namespace

QString PartialBackup::keptOriginal(const QString& databasePath)
{
    return databasePath + QStringLiteral(".before-edit");
}

PartialBackup::Written PartialBackup::write(const QDir& full, BackupManifest& edited, const QDir& into,
                                            Kind kind)
{
    const bool undo = kind == Kind::Undo;
    if (!QDir().mkpath(into.absolutePath()))
        fail(QStringLiteral("cannot create %1").arg(into.absolutePath()));
    const BackupManifest::Format format = edited.format();
    ManifestMap listed;
    // Files first; a file's content is copied from the edited backup, or empty.
    // In an encrypted backup the edited backup's files are encrypted already; an empty file is
    // encrypted too, with a key of its own (a block of padding).
    const BackupEncryption* encryption = edited.encryption();
    auto addFile = [&](MbdbRecord record, const QString& contentFrom, bool move = false) {
        const QString name = record.fileName();
        if (listed.contains(name))
            return;
        const QString target = BackupManifest::backupFilePath(into, name, format);
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile::remove(target);
        bool ok;
        if (contentFrom.isEmpty()) {
            QFile empty(target);
            ok = empty.open(QIODevice::WriteOnly);
            if (ok && encryption)
                ok = empty.write(BackupCipher::encrypt(encryption->giveNewKey(record), QByteArray())) == 16;
        } else if (move) {
            ok = QFile::rename(contentFrom, target);
        } else {
            ok = QFile::copy(contentFrom, target);
        }
        if (!ok)
            fail(QStringLiteral("cannot write %1 of the partial backup").arg(target));
        listed.insert(name, record);
    };
    const ManifestMap replaced = edited.replaced();
    for (auto it = replaced.cbegin(); it != replaced.cend(); ++it) {
        const MbdbRecord& db = undo ? edited.originals().value(it.key()) : it.value();
        if ((db.mode & typeMask) != regularFile)
            continue;
        if (undo) {
            addFile(db, keptOriginal(edited.filePath(it.key())), true);
            continue;
        }
        addFile(db, edited.filePath(it.key()));
        const QString path = db.path.toText();
        for (const char* side : {"-wal", "-shm"})
            addFile(emptyFile(db, path + QLatin1String(side)), QString());
    }
    const ManifestMap dropped = edited.dropped();
    for (auto it = dropped.cbegin(); it != dropped.cend(); ++it) {
        // A dropped folder or link frees nothing on the phone; the files in it are dropped too.
        // Their content stays in the folder until the next backup writes over it.
        if ((it->mode & typeMask) == regularFile)
            addFile(undo ? *it : emptyFile(*it, it->path.toText()),
                    undo ? edited.filePath(it.key()) : QString());
    }

    // The folders above each entry, as the edited backup lists them where it does.
    ManifestMap folders;
    for (const MbdbRecord& r : std::as_const(listed)) {
        const QString domain = r.domain.toText();
        QString path = r.path.toText();
        while (!path.isEmpty()) {
            const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
            path = slash < 0 ? QString() : path.left(slash);
            MbdbRecord folder;
            folder.domain = text(domain);
            folder.path = text(path);
            const QString name = folder.fileName();
            if (folders.contains(name))
                continue;
            if (edited.contains(name) && (edited.record(name).mode & typeMask) == folderType) {
                folder = edited.record(name);
            } else {
                folder.mode = quint16(folderType | 0755);
                folder.userId = folder.groupId = 501;
                folder.modifiedTime = folder.changedTime = folder.createdTime = r.modifiedTime;
                folder.protectionClass = r.protectionClass;
            }
            folders.insert(name, folder);
        }
    }

    Written written;
    for (const MbdbRecord& r : std::as_const(listed))
        written.bytes += qint64(r.size);
    listed.insert(folders);
    written.entries = int(listed.size());
    if (format == BackupManifest::Format::Mbdb)
        writeManifestMbdb(listed, into.filePath(QStringLiteral("Manifest.mbdb")));
    else if (!encryption || encryption->manifestKey().isEmpty())
        createManifestDb(into.filePath(QStringLiteral("Manifest.db")), listed);
    else {
        // Encrypted with the key the copied Manifest.plist names, as the full backup's is.
        const QString plain = into.filePath(QStringLiteral("Manifest.db.decrypted"));
        createManifestDb(plain, listed);
        encryption->encrypt(encryption->manifestKey(), plain, into.filePath(QStringLiteral("Manifest.db")));
        QFile::remove(plain);
    }
    for (const char* file : {"Info.plist", "Manifest.plist"}) {
        const QString name = QLatin1String(file);
        if (QFileInfo::exists(full.filePath(name)) && !QFile::copy(full.filePath(name), into.filePath(name)))
            fail(QStringLiteral("cannot copy %1 into the partial backup").arg(name));
    }
    writeStatus(full, into);
    return written;
}
