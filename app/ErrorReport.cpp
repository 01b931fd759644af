#include "ErrorReport.h"

#include "Product.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QUrl>

QString normaliseReportMessage(const QString& message)
{
    static const QRegularExpression lineBreak(QStringLiteral("< *br */?>"),
                                              QRegularExpression::CaseInsensitiveOption);
    QString text = message;
    text.replace(lineBreak, QStringLiteral("\r\n"));
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    return text;
}

QString encodeReportField(const QString& text)
{
    QString encoded = QString::fromLatin1(text.toUtf8().toBase64());
    encoded.replace(QLatin1Char('/'), QLatin1Char('!'));
    encoded.replace(QLatin1Char('='), QLatin1Char('-'));
    return encoded;
}

QByteArray errorReportBody(const QString& message)
{
    const QString version =
        QStringLiteral("%1(%2)").arg(QLatin1String(Product::versionText)).arg(Product::versionCode);
    return (QStringLiteral("prod=") + encodeReportField(Product::title()) + QStringLiteral("&ver=") +
            encodeReportField(version) + QStringLiteral("&err=") +
            encodeReportField(normaliseReportMessage(message)))
        .toUtf8();
}

void sendErrorReport(const QString& message)
{
    qDebug("error report: %s", qUtf8Printable(message));
    if (!QCoreApplication::instance())
        return;
    // Each report has a client of its own, owned by the application so that it lives until the
    // request is sent and goes quietly with the program.
    auto* client = new QNetworkAccessManager(QCoreApplication::instance());
    const QUrl url(Product::vendorUrl(QStringLiteral("/err_report.php")));
    QNetworkRequest request(url);
    request.setRawHeader("Host", url.port() > 0
                                     ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port()).toLatin1()
                                     : url.host().toLatin1());
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setTransferTimeout(30000);
    QNetworkReply* reply = client->post(request, errorReportBody(message));
    QObject::connect(reply, &QNetworkReply::finished, client, [client, reply] {
        reply->deleteLater();
        client->deleteLater();
    });
}
