#include "MbdbRecord.h"

#include "BackupFileName.h"

#include <cstring>

QByteArrayView textUpToZero(QByteArrayView bytes)
{
    const qsizetype zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.first(zero);
}

QByteArrayView MbdbString::textBytes() const
{
    if (!isPresent())
        return QByteArrayView();
    return textUpToZero(bytes);
}

QString MbdbString::toText() const
{
    if (!isPresent())
        return QString();
    return QString::fromUtf8(textBytes());
}

// ASCII text compares byte by byte; anything else goes through Unicode case folding.
bool textEqualsIgnoreCase(QByteArrayView b, QLatin1String text)
{
    if (!isAsciiBytes(b))
        return QString::fromUtf8(b).compare(text, Qt::CaseInsensitive) == 0;
    return b.size() == text.size() && qstrnicmp(b.data(), text.data(), size_t(b.size())) == 0;
}

bool textStartsWith(QByteArrayView b, QLatin1String prefix, Qt::CaseSensitivity cs)
{
    if (cs == Qt::CaseInsensitive && !isAsciiBytes(b))
        return QString::fromUtf8(b).startsWith(prefix, cs);
    if (b.size() < prefix.size())
        return false;
    if (cs == Qt::CaseSensitive)
        return std::memcmp(b.data(), prefix.data(), size_t(prefix.size())) == 0;
    return qstrnicmp(b.data(), prefix.data(), size_t(prefix.size())) == 0;
}

bool MbdbString::equalsIgnoreCase(QLatin1String text) const
{
    return textEqualsIgnoreCase(textBytes(), text);
}

bool MbdbString::startsWith(QLatin1String prefix, Qt::CaseSensitivity cs) const
{
    return textStartsWith(textBytes(), prefix, cs);
}

void MbdbString::setBytes(const QByteArray& data)
{
    bytes = data;
    length = quint16(data.size());
}

QString MbdbRecord::fileName() const
{
    return backupFileName(domain.textBytes(), path.textBytes());
}

bool MbdbRecord::isEmptyEntry() const
{
    return size == 0 && linkTarget.textBytes().isEmpty();
}

bool mbdbRecordLessThan(const MbdbRecord& a, const MbdbRecord& b)
{
    const int byDomain = QString::compare(a.domain.toText(), b.domain.toText(), Qt::CaseSensitive);
    if (byDomain != 0)
        return byDomain < 0;
    return QString::compare(a.path.toText(), b.path.toText(), Qt::CaseSensitive) < 0;
}
