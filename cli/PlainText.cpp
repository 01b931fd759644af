#include "PlainText.h"

#include <QRegularExpression>

QString plainText(const QString& richText)
{
    static const QRegularExpression breaks(QStringLiteral("<\\s*br\\s*/?\\s*>|</p\\s*>"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression links(
        QStringLiteral("<a\\s[^>]*href\\s*=\\s*\"([^\"]*)\"[^>]*>(.*?)</a\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    static const QRegularExpression emptyLines(QStringLiteral("\\n{3,}"));

    QString text = richText;
    text.replace(breaks, QStringLiteral("\n"));
    text.replace(links, QStringLiteral("\\2 (\\1)"));
    text.remove(tags);
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&#39;"), QLatin1String("'"));
    text.replace(QLatin1String("&nbsp;"), QLatin1String(" "));
    // Last, so that an escaped entity ("&amp;lt;") stays as written.
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    text.replace(blanks, QStringLiteral(" "));
    text.replace(emptyLines, QStringLiteral("\n\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = line.trimmed();
    return lines.join(QLatin1Char('\n')).trimmed();
}
