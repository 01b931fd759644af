#include "MbdbRecord.h"

#include "BackupFileName.h"

QString MbdbString::toText() const
{
    if (!isPresent())
        return QString();
    const qsizetype zero = bytes.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
}

void MbdbString::setBytes(const QByteArray& data)
{
    bytes = data;
    length = quint16(data.size());
}

QString MbdbRecord::fileName() const
{
    return backupFileName(domain.toText(), path.toText());
}

bool MbdbRecord::isEmptyEntry() const
{
    return size == 0 && linkTarget.toText().isEmpty();
}

bool mbdbRecordLessThan(const MbdbRecord& a, const MbdbRecord& b)
{
    const int byDomain = QString::compare(a.domain.toText(), b.domain.toText(), Qt::CaseSensitive);
    if (byDomain != 0)
        return byDomain < 0;
    return QString::compare(a.path.toText(), b.path.toText(), Qt::CaseSensitive) < 0;
}
