#include "Product.h"

#include <QCoreApplication>

namespace Product {

QString title()
{
    return QCoreApplication::translate("QObject", "Vantelmoor Spacewell");
}

QString supportEmail()
{
    return QStringLiteral(SPACEWELL_SUPPORT_EMAIL);
}

QString vendorBaseUrl()
{
    QString url = qEnvironmentVariable("SPACEWELL_VENDOR_URL");
    if (url.isEmpty())
        url = QStringLiteral(SPACEWELL_VENDOR_URL_DEFAULT);
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

QString vendorUrl(const QString& path)
{
    return vendorBaseUrl() + path;
}

} // namespace Product
