#pragma once

#include "MbdbRecord.h"

#include <QByteArray>
#include <QList>

// Which records a cleaner looks at: a domain among `domains` (compared ignoring case) and a path
// that begins with one of `prefixes` (with the case rule given). A cleaner still decides on each
// record it is shown; the rule only spares it the others, so it must let through every record
// the cleaner could take. Domains and prefixes are ASCII.
struct RecordRule
{
    QList<QByteArray> domains;
    QList<QByteArray> prefixes;
    Qt::CaseSensitivity prefixCase = Qt::CaseSensitive;

    // On the text of the fields, as MbdbString compares it (up to the first zero byte).
    bool matches(QByteArrayView domainText, QByteArrayView pathText) const;
    bool matches(const MbdbRecord& record) const
    {
        return matches(record.domain.textBytes(), record.path.textBytes());
    }
    static bool anyMatches(const QList<RecordRule>& rules, QByteArrayView domainText,
                           QByteArrayView pathText);
};
