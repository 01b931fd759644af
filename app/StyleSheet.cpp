#include "StyleSheet.h"

#include <QFile>

QString readStyleSheet(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    QString text = QString::fromLatin1(bytes);
    if (text.isNull())
        text = QLatin1String("");
    return text;
}

QString applicationStyleSheet()
{
    // Message boxes and dialogs live on the user-interface thread only.
    static QString cached;
    if (cached.isNull())
        cached = readStyleSheet(QStringLiteral(":style.css"));
    return cached;
}
