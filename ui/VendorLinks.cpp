#include "VendorLinks.h"

#include "AppFolders.h"
#include "MessageBoxes.h"
#include "OpenExternal.h"
#include "Product.h"
#include "VendorService.h"

#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {
QString timeFilePath()
{
    return appDataDir().filePath(QStringLiteral("last-check-version-time"));
}

QString linkCachePath()
{
    return appDataDir().filePath(QStringLiteral("last-adv"));
}
} // namespace

VendorLinks::VendorLinks(QWidget* window)
    : QObject(window), m_versionClient(new QNetworkAccessManager(this)),
      m_linkClient(new QNetworkAccessManager(this)), m_statusLabel(new QLabel(window))
{
    setObjectName(QStringLiteral("vendorLinks"));
    m_statusLabel->setObjectName(QStringLiteral("lbStatusLink"));
    m_statusLabel->setTextFormat(Qt::RichText);
    m_statusLabel->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(m_statusLabel, &QLabel::linkActivated, this, [](const QString& link) { openExternal(link); });
    QFile cached(linkCachePath());
    if (cached.open(QIODevice::ReadOnly))
        m_statusLabel->setText(QString::fromUtf8(cached.readAll()));
}

void VendorLinks::startDailyCheck()
{
    QFile timeFile(timeFilePath());
    const QByteArray stored = timeFile.open(QIODevice::ReadOnly) ? timeFile.readAll() : QByteArray();
    if (!VendorService::dailyCheckDue(stored, QDateTime::currentSecsSinceEpoch()))
        return;
    auto get = [](QNetworkAccessManager* client, const QString& path) {
        QNetworkRequest request(QUrl(Product::vendorUrl(path)));
        request.setTransferTimeout(30000);
        client->get(request);
    };
    connect(m_versionClient, &QNetworkAccessManager::finished, this, &VendorLinks::onCheckVersionReadyRead);
    get(m_versionClient, VendorService::versionCheckPath());
    connect(m_linkClient, &QNetworkAccessManager::finished, this, &VendorLinks::onGetAdvLinkRead);
    get(m_linkClient, VendorService::statusLinkPath());
}

void VendorLinks::onCheckVersionReadyRead(QNetworkReply* reply)
{
    reply->deleteLater();
    // No answer at all (no server, no network) leaves the check due for the next start.
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return;
    QFile timeFile(timeFilePath());
    if (timeFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        timeFile.write(QByteArray::number(QDateTime::currentSecsSinceEpoch()));
    timeFile.close();
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return;
    const QString address = VendorService::downloadAddress(reply->readAll());
    if (address.isEmpty())
        return;
    if (askYesNo(QStringLiteral("A new version of %1 is available. Would you like to download it now?")
                     .arg(Product::title()))) {
        openExternal(address);
        emit updateAccepted();
    }
}

void VendorLinks::onGetAdvLinkRead(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return;
    const QString link = VendorService::recolouredLink(reply->readAll());
    if (link.isEmpty())
        return;
    m_statusLabel->setText(link);
    QFile cache(linkCachePath());
    if (cache.open(QIODevice::WriteOnly | QIODevice::Truncate))
        cache.write(link.toUtf8());
}
