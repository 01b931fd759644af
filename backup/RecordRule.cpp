#include "RecordRule.h"

bool RecordRule::matches(QByteArrayView domainText, QByteArrayView pathText) const
{
    bool domainMatches = false;
    for (const QByteArray& domain : domains)
        domainMatches = domainMatches || textEqualsIgnoreCase(domainText, QLatin1String(domain));
    if (!domainMatches)
        return false;
    for (const QByteArray& prefix : prefixes) {
        if (textStartsWith(pathText, QLatin1String(prefix), prefixCase))
            return true;
    }
    return false;
}

bool RecordRule::anyMatches(const QList<RecordRule>& rules, QByteArrayView domainText,
                            QByteArrayView pathText)
{
    for (const RecordRule& rule : rules) {
        if (rule.matches(domainText, pathText))
            return true;
    }
    return false;
}
