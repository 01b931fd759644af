#include "BackupEncryption.h"

#include "CFType.h"

#include <QFile>

#include <stdexcept>

namespace {
CFType manifestPlist(const QDir& backupDir)
{
    QFile plist(backupDir.absoluteFilePath(QStringLiteral("Manifest.plist")));
    if (!plist.open(QIODevice::ReadOnly))
        return CFType();
    return CFType::fromPlistBytes(plist.readAll());
}

[[noreturn]] void fail(const QString& text)
{
    throw std::runtime_error(text.toUtf8().toStdString());
}
} // namespace

bool BackupEncryption::isEncrypted(const QDir& backupDir)
{
    return manifestPlist(backupDir).value(QStringLiteral("IsEncrypted")).toBool(false);
}

BackupEncryption BackupEncryption::of(const QDir& backupDir)
{
    BackupEncryption e;
    e.m_plist = backupDir.absoluteFilePath(QStringLiteral("Manifest.plist"));
    const CFType plist = manifestPlist(backupDir);
    try {
        e.m_bag = BackupKeyBag::parse(plist.value(QStringLiteral("BackupKeyBag")).toByteArray());
    } catch (const std::exception& why) {
        fail(QStringLiteral("%1: the backup is encrypted and its key bag cannot be read (%2)")
                 .arg(e.m_plist, QString::fromUtf8(why.what())));
    }
    e.m_manifestKey = plist.value(QStringLiteral("ManifestKey")).toByteArray();
    return e;
}

bool BackupEncryption::unlock(const QByteArray& password, const std::function<bool()>& stop)
{
    return m_bag.unlock(password, stop);
}

QByteArray BackupEncryption::manifestKey() const
{
    if (m_manifestKey.isEmpty())
        return QByteArray();
    const QByteArray key = m_bag.fileKey(m_manifestKey);
    if (key.isEmpty())
        fail(QStringLiteral("%1: the key bag does not open the manifest's key").arg(m_plist));
    return key;
}

QByteArray BackupEncryption::fileKey(const MbdbRecord& record) const
{
    const QByteArray key = m_bag.fileKey(record.encryptionKey.bytes);
    if (key.isEmpty())
        fail(QStringLiteral("%1-%2: the backup keeps no key for this file that its key bag opens")
                 .arg(record.domain.toText(), record.path.toText()));
    return key;
}

QByteArray BackupEncryption::giveNewKey(MbdbRecord& record) const
{
    const QByteArray key = BackupCipher::randomBytes(32);
    // The class the record's old key named, else the record's own.
    const quint32 protection = record.encryptionKey.bytes.size() >= 4
                                   ? BackupKeyBag::protectionClass(record.encryptionKey.bytes)
                                   : record.protectionClass;
    const QByteArray stored = m_bag.storedKey(protection, key);
    if (stored.isEmpty())
        fail(QStringLiteral("%1-%2: the key bag has no key of protection class %3")
                 .arg(record.domain.toText(), record.path.toText())
                 .arg(protection));
    record.encryptionKey.setBytes(stored);
    return key;
}

bool BackupEncryption::decrypt(const QByteArray& key, const QString& from, const QString& to,
                               const std::function<bool()>& stop) const
{
    if (BackupCipher::decryptFile(key, from, to, stop))
        return true;
    if (stop && stop())
        return false;
    fail(QStringLiteral("%1 cannot be decrypted into %2").arg(from, to));
}

bool BackupEncryption::encrypt(const QByteArray& key, const QString& from, const QString& to,
                               const std::function<bool()>& stop) const
{
    if (BackupCipher::encryptFile(key, from, to, stop))
        return true;
    if (stop && stop())
        return false;
    fail(QStringLiteral("%1 cannot be encrypted into %2").arg(from, to));
}
