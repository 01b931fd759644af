#include "AboutUsForm.h"
#include "BoxAnswerer.h"
#include "Product.h"
#include "StyleSheet.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

class TestResources : public QObject
{
    Q_OBJECT

private:
    QTranslator m_translator;

private slots:
    void initTestCase()
    {
        QVERIFY(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
    }

    void everyKeyHasItsEnglishText_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("english");
        const char* rows[][3] = {
            {"BackupCleanFlow", "IDS_FOUND_%1_DATA_SUC_CLEAR_%2", "Successfully deleted %2 data.(Total:%1)."},
            {"BackupCleanFlow", "IDS_FOUND_%1_SYCCACHE_SUC_CLEAR_%2",
             "Successfully deleted %2 system cache (Total: %1)."},
            {"IOSClearSysThread", "IDS_SCANING_SYS_CACHE", "Scanning..."},
            {"IOSClearSysThread", "IDS_CLEARING_SYS_CACHE", "Deleting system cache..."},
            {"IOSClearMMSAttaThread", "IDS_SCANING_MMS_ATTA", "Scanning..."},
            {"IOSClearMMSAttaThread", "IDS_CLEARING_MMS_ATTA", "Deleting system junk..."},
            {"IOSClearAllMessagesThread", "IDS_SCANING_MESSAGES", "Scanning..."},
            {"IOSClearAllMessagesThread", "IDS_CLEARING_MESSAGES", "Deleting messages..."},
            {"IOSClearSafariThread", "IDS_SCANING_SAFARI", "Scanning..."},
            {"IOSClearSafariThread", "IDS_CLEARING_SAFARI_CACHE", "Deleting Safari cache..."},
            {"IOSClearCallsThread", "IDS_SCANING_CALLS", "Scanning..."},
            {"IOSClearCallsThread", "IDS_CLEARING_CALLS", "Deleting Call Log..."},
            {"BackupEditThread", "IDS_SAVING_BACKUP", "Saving the edited backup..."},
            {"IOSLoadAppThread", "IDS_LOADING_IOS_APP_INFO", "Loading Apps info from your device..."},
            {"IOSClearAppCacheThread", "IDS_SCAN_IOS_APP_CACHE", "Scanning Apps..."},
            {"IOSClearAppCacheThread", "IDS_SCANING_%1", "Scanning %1..."},
            {"IOSClearAppCacheThread", "IDS_CLEAR_IOS_APP_CACHE", "Deleting App cache..."},
            {"IOSClearAppCacheThread", "IDS_CLEARING_%1", "Deleting %1 cache..."},
            {"IOSClearAppCacheThread", "IDS_FOUND_%1_APPCACHE_SUC_CLEAR_%2",
             "Successfully deleted %2 App cache (Total: %1)."},
            {"AboutUsForm", "About", "About"},
        };
        for (const auto& row : rows)
            QTest::newRow(row[1]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1])
                                  << QString::fromLatin1(row[2]);
    }

    void everyKeyHasItsEnglishText()
    {
        QFETCH(QString, context);
        QFETCH(QString, key);
        QFETCH(QString, english);
        QCOMPARE(QCoreApplication::translate(context.toLatin1().constData(), key.toLatin1().constData()),
                 english);
    }

    void linkTextsCarryTheVendorPages()
    {
        const QString frameworkHint =
            QCoreApplication::translate("QObject", "IDS_NONE_INSTALL_ITUNES").arg(Product::vendorBaseUrl());
        QVERIFY(frameworkHint.startsWith(
            QStringLiteral("Failed to load (Apple Mobile Device) framework. Plese click ")));
        QVERIFY(frameworkHint.contains(Product::vendorUrl(
            QStringLiteral("/tutorial/how-to-connect-ios-device-to-vantelmoor-successfully.html"))));
        QVERIFY(frameworkHint.endsWith(QStringLiteral(">HERE</a> for help.")));

        const QString confirm = QCoreApplication::translate("MainWindow", "IDS_CONFIRM_CLEAR_ALL_MESSAGES")
                                    .arg(Product::vendorBaseUrl());
        QVERIFY(confirm.startsWith(
            QStringLiteral("Confirm to delete all messages &amp; attached files from device?")));
        QVERIFY(confirm.contains(Product::vendorUrl(
            QStringLiteral("/tutorial/transfer-sms-mms-imessage-from-iphone-to-computer.html"))));
        QVERIFY(confirm.endsWith(QStringLiteral("<b>HERE</b></a>.")));
    }

    void everyPictureLoads_data()
    {
        QTest::addColumn<QString>("path");
        for (const char* p : {":main", ":res/iphone-big.png", ":res/ipad-big.png", ":res/ipod-big.png",
                              ":res/fun_clearsys.png", ":res/fun_clearsys2.png", ":res/fun_clearsysjunk.png",
                              ":res/fun_clearsms.png", ":res/fun_clearsafari.png", ":res/fun_clearcalls.png",
                              ":res/def_app.png", ":res/arrow.png", ":res/help.png",
                              ":res/close_icloudbk.jpg", ":res/close_itunesbkenc.jpg"})
            QTest::newRow(p) << QString::fromLatin1(p);
    }

    void everyPictureLoads()
    {
        QFETCH(QString, path);
        const QImage image(path);
        QVERIFY(!image.isNull());
        if (path.contains(QStringLiteral("-big")))
            QCOMPARE(image.width(), 96);
        if (path.contains(QStringLiteral("fun_")) || path.contains(QStringLiteral("def_app")))
            QCOMPARE(image.size(), QSize(64, 64));
    }

    void styleSheet()
    {
        const QString css = applicationStyleSheet();
        QVERIFY(css.contains(QStringLiteral("#btnClearSysCache")));
        QVERIFY(css.contains(QStringLiteral("#AboutUsForm")));

        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("style.css")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("QWidget { color: red; }\0QWidget { color: blue; }", 48));
        f.close();
        QCOMPARE(readStyleSheet(f.fileName()), QStringLiteral("QWidget { color: red; }"));
        QVERIFY(readStyleSheet(dir.filePath(QStringLiteral("missing.css"))).isNull());
    }

    void aboutBox()
    {
        AboutUsForm about;
        // The designed size where the texts fit; the copyright line needs a little more width.
        QVERIFY(about.width() >= 400 && about.height() == 194);
        auto* copyright = about.findChild<QLabel*>(QStringLiteral("lbCopyRight"));
        QVERIFY(copyright->width() >= copyright->sizeHint().width());
        QVERIFY(copyright->geometry().right() < about.width());
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lbProduct"))->text(),
                 QStringLiteral("Vantelmoor Spacewell v3.1.04"));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lbTitle"))->text(), QStringLiteral("About"));
        QVERIFY(about.findChild<QLabel*>(QStringLiteral("lbCopyRight"))
                    ->text()
                    .contains(QString::number(QDate::currentDate().year())));
        QVERIFY(about.windowFlags().testFlag(Qt::FramelessWindowHint));
    }
};

QTEST_MAIN(TestResources)
#include "TestResources.moc"
