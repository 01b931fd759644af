#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <functional>

// The key bag of an encrypted backup ("BackupKeyBag" of Manifest.plist), as Apple Platform
// Security ("Keybags for Data Protection") and the iphone-dataprotection reader describe it: tag,
// 4-byte big-endian length, value. First the bag's own VERS, TYPE, UUID, HMCK, WRAP, SALT, ITER and
// (from iOS 10.2) DPWT, DPIC, DPSL; then each class key, opened by its UUID: CLAS, WRAP, KTYP, WPKY.
// The backup password opens it: PBKDF2-HMAC-SHA256 over DPSL for DPIC rounds, then PBKDF2-HMAC-SHA1
// over SALT for ITER rounds gives the key that unwraps (RFC 3394) each class key.
class BackupKeyBag
{
public:
    // Throws std::runtime_error when the bytes are not a backup's key bag.
    static BackupKeyBag parse(const QByteArray& bytes);
    // A new bag of random class keys for the password, with the rounds given (a phone states its
    // own: 10,000,000 DPIC rounds on current ones). For the simulated phone and the tests.
    static BackupKeyBag create(const QByteArray& password, quint32 dpic, quint32 iter);

    QByteArray bytes() const { return m_bytes; }
    // Derives the password's key and unwraps every class key with it: false when the password is
    // wrong. `stop` is asked between the two derivations.
    bool unlock(const QByteArray& password, const std::function<bool()>& stop = {});
    bool isUnlocked() const { return !m_classKeys.isEmpty(); }

    // A file's key from what its record keeps (4-byte little-endian protection class, then the
    // wrapped key); empty when it does not unwrap.
    QByteArray fileKey(const QByteArray& stored) const;
    // What a record keeps for a file key of this class.
    QByteArray storedKey(quint32 protectionClass, const QByteArray& key) const;
    // The protection class a record's key names.
    static quint32 protectionClass(const QByteArray& stored);

private:
    struct ClassKey
    {
        quint32 wrap = 0;
        QByteArray wrapped;
    };
    QByteArray m_bytes;
    QMap<QByteArray, QByteArray> m_attributes; // the bag's own tags
    QMap<quint32, ClassKey> m_wrapped;
    QMap<quint32, QByteArray> m_classKeys; // once unlocked
};

// Files of an encrypted backup: AES-256-CBC, a zero IV, PKCS#7 padding, each file with its own key.
namespace BackupCipher {
// Empty, and `ok` false, when the key or the padding is wrong.
QByteArray decrypt(const QByteArray& key, const QByteArray& data, bool* ok = nullptr);
QByteArray encrypt(const QByteArray& key, const QByteArray& data);
// RFC 3394 AES key wrap with the default IV; unwrap gives empty when the integrity check fails.
QByteArray wrapKey(const QByteArray& kek, const QByteArray& key);
QByteArray unwrapKey(const QByteArray& kek, const QByteArray& wrapped);
QByteArray randomBytes(int count);
// The same for a file of any size, read and written a block at a time; `to` is written whole or
// not at all. False when a file cannot be read or written, the key or padding is wrong, or `stop`
// (asked between blocks) ends it.
bool decryptFile(const QByteArray& key, const QString& from, const QString& to,
                 const std::function<bool()>& stop = {});
bool encryptFile(const QByteArray& key, const QString& from, const QString& to,
                 const std::function<bool()>& stop = {});
// Frees what OpenSSL keeps for the calling thread (its error queue); for a worker before it ends.
void releaseThread();
} // namespace BackupCipher
