#include "FileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

QString sanitizeFileName(const QString& text)
{
    static const QRegularExpression forbidden(QStringLiteral("[\\\\/:*?\"<>|\\n\\r\\t]"));
    QString cleaned = text;
    cleaned.remove(forbidden);
    return cleaned.trimmed();
}

bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

void removeDirectory(const QString& path, const std::function<bool()>& stop)
{
    QDir dir(path);
    if (!dir.exists())
        return;
    // Hidden entries too: a folder that keeps one is never removed. Broken links and other
    // special files are entries like any other.
    const QFileInfoList entries = dir.entryInfoList(
        QDir::Dirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (stop && stop())
            return;
        if (entry.isSymLink() || !entry.isDir())
            dir.remove(entry.fileName());
        else
            removeDirectory(entry.filePath(), stop);
    }
    QDir().rmdir(dir.absolutePath());
}
