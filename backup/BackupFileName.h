#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Name of the backup file that holds (domain, relative path): 40 lower-case hex digits of
// SHA-1 over "domain-path" in UTF-8.
QString backupFileName(const QString& domain, const QString& relativePath);
// The same from UTF-8 bytes, without decoding what needs no decoding.
QString backupFileName(QByteArrayView domainUtf8, QByteArrayView relativePathUtf8);

// The 20 bytes of SHA-1 that backupFileName writes in hex, and the name they give.
QByteArray backupFileDigest(QByteArrayView domainUtf8, QByteArrayView relativePathUtf8);
void backupFileDigest(QByteArrayView domainUtf8, QByteArrayView relativePathUtf8, char (&digest)[20]);
QString backupFileNameOfDigest(QByteArrayView digest);

// The 20-byte SHA-1 of a file's content; empty when the file cannot be read.
QByteArray fileSha1(const QString& path);
