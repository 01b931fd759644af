#include "FormatSize.h"

QString formatSize(qint64 bytes)
{
    const double k = double(bytes) / 1024.0;
    if (k < 1024.0)
        return QStringLiteral("%1 KB").arg(k, 0, 'f', 1);
    const double m = k / 1024.0;
    if (m < 1024.0)
        return QStringLiteral("%1 MB").arg(m, 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(m / 1024.0, 0, 'f', 1);
}
