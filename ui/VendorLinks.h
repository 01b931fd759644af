#pragma once

#include <QObject>

class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

// The vendor's two daily answers: the update offer, and the link the status bar shows (kept for
// the next start, so it shows before any request).
class VendorLinks : public QObject
{
    Q_OBJECT
public:
    // The status link is a label of the window, shown in its status bar.
    explicit VendorLinks(QWidget* window);

    QLabel* statusLabel() const { return m_statusLabel; }
    // Asks the vendor, once a day.
    void startDailyCheck();

public slots:
    void onCheckVersionReadyRead(QNetworkReply* reply);
    void onGetAdvLinkRead(QNetworkReply* reply);

signals:
    // The user took the offer; the download page is open.
    void updateAccepted();

private:
    QNetworkAccessManager* m_versionClient;
    QNetworkAccessManager* m_linkClient;
    QLabel* m_statusLabel;
};
