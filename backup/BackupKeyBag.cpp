#include "BackupKeyBag.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>
#include <stdexcept>

namespace {
constexpr quint32 wrapPasscode = 2; // the class key is wrapped by the password's key

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

QByteArray run(const EVP_CIPHER* cipher, bool encrypt, const QByteArray& key, const QByteArray& data,
               bool padding, bool* ok)
{
    if (ok)
        *ok = false;
    CipherContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx || key.size() != EVP_CIPHER_key_length(cipher))
        return QByteArray();
    EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    const unsigned char zeroIv[16] = {};
    const auto* k = reinterpret_cast<const unsigned char*>(key.constData());
    // The wrap ciphers take their default IV when given none.
    const unsigned char* iv = EVP_CIPHER_mode(cipher) == EVP_CIPH_WRAP_MODE ? nullptr : zeroIv;
    if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, k, iv, encrypt ? 1 : 0) != 1)
        return QByteArray();
    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
    QByteArray out(data.size() + 32, Qt::Uninitialized);
    int written = 0;
    int last = 0;
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_CipherUpdate(ctx.get(), o, &written, reinterpret_cast<const unsigned char*>(data.constData()),
                         int(data.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), o + written, &last) != 1) {
        // A wrong key is an answer here, not an error to keep queued.
        ERR_clear_error();
        return QByteArray();
    }
    out.truncate(written + last);
    if (ok)
        *ok = true;
    return out;
}

QByteArray pbkdf2(const QByteArray& secret, const QByteArray& salt, quint32 rounds, const EVP_MD* digest)
{
    QByteArray key(32, Qt::Uninitialized);
    if (rounds == 0 || PKCS5_PBKDF2_HMAC(secret.constData(), int(secret.size()),
                                         reinterpret_cast<const unsigned char*>(salt.constData()),
                                         int(salt.size()), int(rounds), digest, int(key.size()),
                                         reinterpret_cast<unsigned char*>(key.data())) != 1)
        return QByteArray();
    return key;
}

QByteArray tlv(const char* tag, const QByteArray& value)
{
    QByteArray out(tag, 4);
    char length[4];
    qToBigEndian(quint32(value.size()), length);
    return out + QByteArray(length, 4) + value;
}

QByteArray number(quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    return QByteArray(bytes, 4);
}

quint32 numberOf(const QByteArray& value)
{
    return value.size() == 4 ? qFromBigEndian<quint32>(value.constData()) : 0;
}
} // namespace

BackupKeyBag BackupKeyBag::parse(const QByteArray& bytes)
{
    BackupKeyBag bag;
    bag.m_bytes = bytes;
    bool inClassKey = false;
    quint32 clas = 0;
    ClassKey current;
    auto closeClassKey = [&] {
        if (inClassKey && !current.wrapped.isEmpty())
            bag.m_wrapped.insert(clas, current);
        current = ClassKey();
        clas = 0;
    };
    for (qsizetype at = 0; at < bytes.size();) {
        if (bytes.size() - at < 8)
            throw std::runtime_error("the backup's key bag is cut short");
        const QByteArray tag = bytes.mid(at, 4);
        const quint32 length = qFromBigEndian<quint32>(bytes.constData() + at + 4);
        if (length > quint32(bytes.size() - at - 8))
            throw std::runtime_error("the backup's key bag is cut short");
        const QByteArray value = bytes.mid(at + 8, length);
        at += 8 + qsizetype(length);
        // The bag's own UUID comes first; every later one opens a class key.
        if (tag == "UUID" && bag.m_attributes.contains("UUID")) {
            closeClassKey();
            inClassKey = true;
        } else if (inClassKey && tag == "CLAS") {
            clas = numberOf(value);
        } else if (inClassKey && tag == "WRAP") {
            current.wrap = numberOf(value);
        } else if (inClassKey && tag == "WPKY") {
            current.wrapped = value;
        } else if (!inClassKey) {
            bag.m_attributes.insert(tag, value);
        }
    }
    closeClassKey();
    if (!bag.m_attributes.contains("SALT") || !bag.m_attributes.contains("ITER") || bag.m_wrapped.isEmpty())
        throw std::runtime_error("the backup's key bag holds no keys");
    return bag;
}

BackupKeyBag BackupKeyBag::create(const QByteArray& password, quint32 dpic, quint32 iter)
{
    const QByteArray dpsl = BackupCipher::randomBytes(20);
    const QByteArray salt = BackupCipher::randomBytes(20);
    const QByteArray passwordKey = pbkdf2(pbkdf2(password, dpsl, dpic, EVP_sha256()), salt, iter, EVP_sha1());
    QByteArray bytes = tlv("VERS", number(5)) + tlv("TYPE", number(1)) +
                       tlv("UUID", BackupCipher::randomBytes(16)) +
                       tlv("HMCK", BackupCipher::wrapKey(passwordKey, BackupCipher::randomBytes(32))) +
                       tlv("WRAP", number(0)) + tlv("SALT", salt) + tlv("ITER", number(iter)) +
                       tlv("DPWT", number(1)) + tlv("DPIC", number(dpic)) + tlv("DPSL", dpsl);
    // The classes of Data Protection a backup uses (Apple Platform Security): 1 to 11.
    for (quint32 clas = 1; clas <= 11; ++clas) {
        bytes += tlv("UUID", BackupCipher::randomBytes(16)) + tlv("CLAS", number(clas)) +
                 tlv("WRAP", number(wrapPasscode)) + tlv("KTYP", number(0)) +
                 tlv("WPKY", BackupCipher::wrapKey(passwordKey, BackupCipher::randomBytes(32)));
    }
    return parse(bytes);
}

bool BackupKeyBag::unlock(const QByteArray& password, const std::function<bool()>& stop)
{
    m_classKeys.clear();
    QByteArray secret = password;
    // Bags from before iOS 10.2 have no DPSL and go straight to the second derivation.
    if (m_attributes.contains("DPSL")) {
        secret =
            pbkdf2(password, m_attributes.value("DPSL"), numberOf(m_attributes.value("DPIC")), EVP_sha256());
        if (secret.isEmpty() || (stop && stop()))
            return false;
    }
    const QByteArray passwordKey =
        pbkdf2(secret, m_attributes.value("SALT"), numberOf(m_attributes.value("ITER")), EVP_sha1());
    if (passwordKey.isEmpty())
        return false;
    QMap<quint32, QByteArray> keys;
    for (auto it = m_wrapped.cbegin(); it != m_wrapped.cend(); ++it) {
        if (!(it.value().wrap & wrapPasscode))
            continue;
        const QByteArray key = BackupCipher::unwrapKey(passwordKey, it.value().wrapped);
        if (key.isEmpty())
            return false;
        keys.insert(it.key(), key);
    }
    m_classKeys = keys;
    return !m_classKeys.isEmpty();
}

quint32 BackupKeyBag::protectionClass(const QByteArray& stored)
{
    return stored.size() >= 4 ? qFromLittleEndian<quint32>(stored.constData()) : 0;
}

QByteArray BackupKeyBag::fileKey(const QByteArray& stored) const
{
    const QByteArray classKey = m_classKeys.value(protectionClass(stored));
    if (stored.size() <= 4 || classKey.isEmpty())
        return QByteArray();
    return BackupCipher::unwrapKey(classKey, stored.mid(4));
}

QByteArray BackupKeyBag::storedKey(quint32 protectionClass, const QByteArray& key) const
{
    const QByteArray classKey = m_classKeys.value(protectionClass);
    if (classKey.isEmpty())
        return QByteArray();
    char clas[4];
    qToLittleEndian(protectionClass, clas);
    return QByteArray(clas, 4) + BackupCipher::wrapKey(classKey, key);
}

QByteArray BackupCipher::decrypt(const QByteArray& key, const QByteArray& data, bool* ok)
{
    return run(EVP_aes_256_cbc(), false, key, data, true, ok);
}

QByteArray BackupCipher::encrypt(const QByteArray& key, const QByteArray& data)
{
    return run(EVP_aes_256_cbc(), true, key, data, true, nullptr);
}

QByteArray BackupCipher::wrapKey(const QByteArray& kek, const QByteArray& key)
{
    return run(kek.size() == 16 ? EVP_aes_128_wrap() : EVP_aes_256_wrap(), true, kek, key, false, nullptr);
}

QByteArray BackupCipher::unwrapKey(const QByteArray& kek, const QByteArray& wrapped)
{
    if (wrapped.size() < 24 || wrapped.size() % 8 != 0)
        return QByteArray();
    return run(kek.size() == 16 ? EVP_aes_128_wrap() : EVP_aes_256_wrap(), false, kek, wrapped, false,
               nullptr);
}

QByteArray BackupCipher::randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), count) != 1)
        throw std::runtime_error("no random bytes for a key");
    return bytes;
}

namespace {
bool cryptFile(bool encrypt, const QByteArray& key, const QString& from, const QString& to,
               const std::function<bool()>& stop)
{
    CipherContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const unsigned char zeroIv[16] = {};
    QFile in(from);
    QSaveFile out(to);
    if (!ctx || key.size() != 32 || !in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly) ||
        EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr,
                          reinterpret_cast<const unsigned char*>(key.constData()), zeroIv,
                          encrypt ? 1 : 0) != 1)
        return false;
    constexpr qint64 block = 1 << 20;
    QByteArray plain(block, Qt::Uninitialized);
    QByteArray crypt(block + 32, Qt::Uninitialized);
    auto* o = reinterpret_cast<unsigned char*>(crypt.data());
    int written = 0;
    for (;;) {
        if (stop && stop())
            return false;
        const qint64 n = in.read(plain.data(), block);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (EVP_CipherUpdate(ctx.get(), o, &written,
                             reinterpret_cast<const unsigned char*>(plain.constData()), int(n)) != 1 ||
            out.write(crypt.constData(), written) != written)
            return false;
    }
    if (EVP_CipherFinal_ex(ctx.get(), o, &written) != 1 || out.write(crypt.constData(), written) != written)
        return false;
    return out.commit();
}
} // namespace

bool BackupCipher::decryptFile(const QByteArray& key, const QString& from, const QString& to,
                               const std::function<bool()>& stop)
{
    return cryptFile(false, key, from, to, stop);
}

bool BackupCipher::encryptFile(const QByteArray& key, const QString& from, const QString& to,
                               const std::function<bool()>& stop)
{
    return cryptFile(true, key, from, to, stop);
}

void BackupCipher::releaseThread()
{
    ERR_clear_error();
    OPENSSL_thread_stop();
}
