#pragma once

#include <QString>

// Shows text from a device or tool literally inside rich text: "<" and ">" become entities.
inline QString escapeAngleBrackets(QString text)
{
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}
