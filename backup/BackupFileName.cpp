#include "BackupFileName.h"

#include "MbdbRecord.h"

#include <QCryptographicHash>
#include <QFile>

#include <cstring>

namespace {
QString hexName(QByteArrayView digest)
{
    static const char digits[] = "0123456789abcdef";
    QString name(digest.size() * 2, Qt::Uninitialized);
    QChar* out = name.data();
    for (char c : digest) {
        *out++ = QLatin1Char(digits[uchar(c) >> 4]);
        *out++ = QLatin1Char(digits[uchar(c) & 15]);
    }
    return name;
}
} // namespace

QString backupFileName(const QString& domain, const QString& relativePath)
{
    const QByteArray text = (domain + QLatin1Char('-') + relativePath).toUtf8();
    return hexName(QCryptographicHash::hash(text, QCryptographicHash::Sha1));
}

QString backupFileName(QByteArrayView domainUtf8, QByteArrayView relativePathUtf8)
{
    return hexName(backupFileDigest(domainUtf8, relativePathUtf8));
}

QByteArray backupFileDigest(QByteArrayView domainUtf8, QByteArrayView relativePathUtf8)
{
    char digest[20];
    backupFileDigest(domainUtf8, relativePathUtf8, digest);
    return QByteArray(digest, 20);
}

void backupFileDigest(QByteArrayView domainUtf8, QByteArrayView relativePathUtf8, char (&digest)[20])
{
    thread_local QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.reset();
    // Non-ASCII bytes may be invalid UTF-8, which decoding replaces; only the text form is named.
    if (!isAsciiBytes(domainUtf8) || !isAsciiBytes(relativePathUtf8)) {
        hash.addData((QString::fromUtf8(domainUtf8) + QLatin1Char('-') + QString::fromUtf8(relativePathUtf8))
                         .toUtf8());
    } else {
        hash.addData(domainUtf8);
        hash.addData(QByteArrayView("-", 1));
        hash.addData(relativePathUtf8);
    }
    std::memcpy(digest, hash.resultView().data(), 20);
}

QString backupFileNameOfDigest(QByteArrayView digest)
{
    return hexName(digest);
}

QByteArray fileSha1(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&file))
        return QByteArray();
    return hash.result();
}
