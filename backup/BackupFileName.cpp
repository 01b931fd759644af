#include "BackupFileName.h"

#include <QCryptographicHash>
#include <QFile>

QString backupFileName(const QString& domain, const QString& relativePath)
{
    const QByteArray text = (domain + QLatin1Char('-') + relativePath).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex());
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
