#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// One string field of a manifest record. Length 0xFFFF marks it absent, 0 empty.
struct MbdbString
{
    static constexpr quint16 absent = 0xFFFF;

    quint16 length = absent;
    QByteArray bytes;

    bool isPresent() const { return length != 0 && length != absent; }
    // UTF-8 up to the first zero byte; empty for an absent or empty string.
    QString toText() const;
    // The bytes toText decodes, without decoding them.
    QByteArrayView textBytes() const;
    // Comparisons on textBytes for ASCII patterns; they agree with the same tests on toText().
    bool equalsIgnoreCase(QLatin1String text) const;
    bool startsWith(QLatin1String prefix, Qt::CaseSensitivity cs = Qt::CaseSensitive) const;
    void setBytes(const QByteArray& data);
};

// One entry of Manifest.mbdb: a backed-up file, folder or link.
struct MbdbRecord
{
    MbdbString domain;
    MbdbString path;
    MbdbString linkTarget;
    MbdbString dataHash;
    MbdbString encryptionKey;
    quint16 mode = 0;
    quint64 inode = 0;
    quint32 userId = 0;
    quint32 groupId = 0;
    quint32 modifiedTime = 0;
    quint32 changedTime = 0;
    quint32 createdTime = 0;
    quint64 size = 0;
    quint8 protectionClass = 0;
    QList<QPair<MbdbString, MbdbString>> properties;

    // The backup file name of this record: the key of the record in a ManifestMap.
    QString fileName() const;
    // Folders and empty files: no size and no link target. Cleaners skip them.
    bool isEmptyEntry() const;
};

// The comparisons of MbdbString on text bytes (UTF-8, cut at the first zero byte): ASCII text
// compares byte by byte, anything else as decoded text.
bool textEqualsIgnoreCase(QByteArrayView text, QLatin1String other);
bool textStartsWith(QByteArrayView text, QLatin1String prefix, Qt::CaseSensitivity cs);
// Text bytes up to the first zero byte.
QByteArrayView textUpToZero(QByteArrayView bytes);

// Records keyed by backup file name.
using ManifestMap = QHash<QString, MbdbRecord>;

// True when every byte is below 0x80: such UTF-8 decodes to the same characters one by one.
inline bool isAsciiBytes(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (uchar(c) >= 0x80)
            return false;
    }
    return true;
}

// Write order: by domain, then by path (case-sensitive, by UTF-16 code unit).
bool mbdbRecordLessThan(const MbdbRecord& a, const MbdbRecord& b);
