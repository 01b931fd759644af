#include "VendorService.h"

#include "Product.h"

#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QtEndian>

namespace VendorService {

bool dailyCheckDue(const QByteArray& timeFileContent, qint64 now)
{
    bool ok = false;
    const qint64 t = timeFileContent.trimmed().toLongLong(&ok);
    if (!ok || t == 0)
        return true;
    return quint32(now - t) >= checkInterval + 1;
}

QString downloadAddress(const QByteArray& body)
{
    const qsizetype zero = body.indexOf('\0');
    const QString text = QString::fromLatin1(zero < 0 ? body : body.left(zero));
    return text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ? text : QString();
}

QString recolouredLink(const QByteArray& body)
{
    QString text = QString::fromUtf8(body);
    if (!text.startsWith(QLatin1String("<a"), Qt::CaseInsensitive))
        return QString();
    static const QRegularExpression anchor(QStringLiteral("^<a"), QRegularExpression::CaseInsensitiveOption);
    text.replace(anchor,
                 QStringLiteral("<a style=\"color:%1;text-decoration:none;\"").arg(QLatin1String("#145577")));
    return text;
}

quint32 machineSerial(const QString& machineIdFile)
{
    // machine-id(5): the id itself must never leave the computer; what does is a keyed hash of it
    // with a key of this program's own, so the number means nothing elsewhere and cannot be
    // turned back into the id.
    static const QByteArray key =
        QByteArrayLiteral("Vantelmoor Spacewell 5b0d6f2e-8a41-4c7e-9f3a-2d1c7e6b9a04");
    QFile id(machineIdFile);
    if (!id.open(QIODevice::ReadOnly))
        return 123456;
    const QByteArray machineId = id.readLine().trimmed();
    if (machineId.isEmpty())
        return 123456;
    const QByteArray mac = QMessageAuthenticationCode::hash(machineId, key, QCryptographicHash::Sha256);
    return qFromBigEndian<quint32>(mac.constData());
}

QString versionCheckPath()
{
    return QStringLiteral("/sms_check_update.php?pid=%1&ver=%2&q=1")
        .arg(QLatin1String(Product::productKey))
        .arg(Product::versionCode);
}

QString statusLinkPath()
{
    return QStringLiteral("/adv.php?pid=%1").arg(QLatin1String(Product::productKey));
}

QString updatePageUrl()
{
    return Product::vendorUrl(QStringLiteral("/sms_check_update.php?pid=%1&ver=%2&vs=%3&sys=linux")
                                  .arg(QLatin1String(Product::productKey))
                                  .arg(Product::versionCode)
                                  .arg(machineSerial()));
}

} // namespace VendorService
