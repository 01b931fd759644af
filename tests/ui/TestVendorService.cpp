#include "AppFolders.h"
#include "BoxAnswerer.h"
#include "ErrorReport.h"
#include "FileUtils.h"
#include "LocalHttpServer.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "OpenExternal.h"
#include "Product.h"
#include "VendorService.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

// The daily check, the status-bar link, the error report and the help pages, against a local
// stand-in for the vendor's server.
class TestVendorService : public QObject
{
    Q_OBJECT

    std::unique_ptr<LocalHttpServer> m_server;
    QStringList m_opened;

    QString timeFile() const { return appDataDir().filePath(QStringLiteral("last-check-version-time")); }
    QString advFile() const { return appDataDir().filePath(QStringLiteral("last-adv")); }
    static void write(const QString& path, const QByteArray& content)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    int requestsTo(const QByteArray& path) const
    {
        int n = 0;
        for (const auto& r : m_server->requests)
            n += r.target.startsWith(path) ? 1 : 0;
        return n;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        MainWindow::connectHintDelayMs = 3600000;
        setOpenExternalHandler([this](const QString& target) { m_opened << target; });
    }

    void init()
    {
        m_server = std::make_unique<LocalHttpServer>();
        qputenv("SPACEWELL_VENDOR_URL", m_server->url().toUtf8());
        QFile::remove(timeFile());
        QFile::remove(advFile());
        m_opened.clear();
    }

    void dailyRule()
    {
        const qint64 now = 1800000000;
        QVERIFY(VendorService::dailyCheckDue(QByteArray(), now));
        QVERIFY(VendorService::dailyCheckDue("0", now));
        QVERIFY(VendorService::dailyCheckDue("yesterday", now));
        QVERIFY(!VendorService::dailyCheckDue(QByteArray::number(now - 86400), now));
        QVERIFY(VendorService::dailyCheckDue(QByteArray::number(now - 86401), now));
        QVERIFY(VendorService::dailyCheckDue(QByteArray::number(now + 100), now)); // a future time
    }

    void checkRunsOrNot_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("runs");
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QTest::newRow("no file") << QByteArray() << true;
        QTest::newRow("a day ago") << QByteArray::number(now - 86300) << false;
        QTest::newRow("more than a day ago") << QByteArray::number(now - 90000) << true;
        QTest::newRow("zero") << QByteArray("0") << true;
        QTest::newRow("not a number") << QByteArray("soon") << true;
    }

    void checkRunsOrNot()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, runs);
        if (!stored.isEmpty())
            write(timeFile(), stored);
        m_server->answer("/sms_check_update.php", 200, "");
        m_server->answer("/adv.php", 200, "");
        MainWindow window;
        if (runs) {
            QTRY_COMPARE(m_server->requests.size(), 2);
            QSet<QByteArray> targets{m_server->requests.at(0).target, m_server->requests.at(1).target};
            QCOMPARE(targets,
                     (QSet<QByteArray>{"/sms_check_update.php?pid=3C9E51B07A2D4F86B1E0C47D92A6F315&ver=4&q=1",
                                       "/adv.php?pid=3C9E51B07A2D4F86B1E0C47D92A6F315"}));
            for (const auto& r : m_server->requests)
                QCOMPARE(r.method, QByteArray("GET"));
            // An empty answer only records the time.
            QTRY_VERIFY(qAbs(read(timeFile()).toLongLong() - QDateTime::currentSecsSinceEpoch()) < 5);
        } else {
            QTest::qWait(300);
            QCOMPARE(m_server->requests.size(), 0);
            QCOMPARE(read(timeFile()), stored);
        }
    }

    void otherStatusesAreIgnoredButTimed()
    {
        m_server->answer("/sms_check_update.php", 500, "http://example.invalid/new.deb");
        m_server->answer("/adv.php", 404, "<a href=\"x\">x</a>");
        BoxAnswerer boxes;
        MainWindow window;
        QTRY_VERIFY(QFile::exists(timeFile()));
        QTest::qWait(200);
        QVERIFY(boxes.texts.isEmpty());
        QVERIFY(!QFile::exists(advFile()));
    }

    void newVersionOffer()
    {
        m_server->answer("/sms_check_update.php", 200,
                         QByteArray("HTTP://downloads.example/spacewell.deb\0junk", 43));
        {
            BoxAnswerer no({QMessageBox::No});
            MainWindow window;
            window.show();
            QTRY_COMPARE(no.texts.size(), 1);
            QCOMPARE(no.texts.at(0),
                     QStringLiteral("A new version of Vantelmoor Spacewell is available. Would you like "
                                    "to download it now?"));
            QVERIFY(m_opened.isEmpty());
            QVERIFY(window.isVisible());
        }
        QFile::remove(timeFile());
        BoxAnswerer yes({QMessageBox::Yes});
        MainWindow window;
        window.show();
        QTRY_COMPARE(m_opened, QStringList{QStringLiteral("HTTP://downloads.example/spacewell.deb")});
        QTRY_VERIFY(!window.isVisible());
    }

    void statusLink()
    {
        m_server->answer("/adv.php", 200, "<A href=\"http://127.0.0.1/offer\">Spring offer</A>");
        {
            MainWindow window;
            auto* label = window.findChild<QLabel*>(QStringLiteral("lbStatusLink"));
            QTRY_VERIFY(!label->text().isEmpty());
            QCOMPARE(label->text(), QStringLiteral("<a style=\"color:#145577;text-decoration:none;\" "
                                                   "href=\"http://127.0.0.1/offer\">Spring offer</A>"));
            QCOMPARE(QString::fromUtf8(read(advFile())), label->text());
        }
        // The next start shows the cached link before any request; text that is no link changes nothing.
        QFile::remove(timeFile());
        m_server->answer("/adv.php", 200, "Buy now!");
        MainWindow window;
        auto* label = window.findChild<QLabel*>(QStringLiteral("lbStatusLink"));
        QVERIFY(label->text().contains(QStringLiteral("Spring offer")));
        QTRY_COMPARE(requestsTo("/adv.php"), 2);
        QTest::qWait(200);
        QVERIFY(label->text().contains(QStringLiteral("Spring offer")));
    }

    void errorReports()
    {
        QCOMPARE(encodeReportField(QStringLiteral("abc")), QStringLiteral("YWJj"));
        QCOMPARE(encodeReportField(QStringLiteral("ab")), QStringLiteral("YWI-"));
        QCOMPARE(encodeReportField(QStringLiteral("\xff\xfe\xfd")), QStringLiteral("w7!DvsO9"));
        QCOMPARE(normaliseReportMessage(QStringLiteral("One.<BR />Two.< br>x &lt;b&gt;")),
                 QStringLiteral("One.\r\nTwo.\r\nx <b>"));

        BoxAnswerer ok;
        showErrorBox(QStringLiteral("Backup failed.<br/>Tool said &lt;error&gt;"));
        QTRY_COMPARE(requestsTo("/err_report.php"), 1);
        const LocalHttpServer::Request& r = m_server->requests.last();
        QCOMPARE(r.requestLine, QByteArray("POST /err_report.php HTTP/1.1"));
        QCOMPARE(r.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(r.headers.value("host"), QStringLiteral("127.0.0.1:%1").arg(m_server->port()).toLatin1());
        QCOMPARE(r.body,
                 "prod=" + encodeReportField(QStringLiteral("Vantelmoor Spacewell")).toLatin1() +
                     "&ver=" + encodeReportField(QStringLiteral("3.1.04(4)")).toLatin1() + "&err=" +
                     encodeReportField(QStringLiteral("Backup failed.\r\nTool said <error>")).toLatin1());
    }

    void menuPages()
    {
        MainWindow window;
        window.miHelp();
        window.miFeedback();
        window.miCheckUpdate();
        QCOMPARE(m_opened.value(0), m_server->url() + QStringLiteral("/spacewell/help.html"));
        QCOMPARE(m_opened.value(1), m_server->url() + QStringLiteral("/support.html"));
        QCOMPARE(m_opened.value(2),
                 m_server->url() +
                     QStringLiteral(
                         "/sms_check_update.php?pid=3C9E51B07A2D4F86B1E0C47D92A6F315&ver=4&vs=%1&sys=linux")
                         .arg(VendorService::machineSerial()));
    }

    // machine-id(5): the id never leaves the computer; the number sent is a keyed hash of it.
    void machineNumberKeepsTheIdAtHome()
    {
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first"));
        const QString second = dir.filePath(QStringLiteral("second"));
        write(first, "0123456789abcdef0123456789abcdef\n");
        write(second, "0123456789abcdef0123456789abcdee\n");
        const quint32 n = VendorService::machineSerial(first);
        QCOMPARE(VendorService::machineSerial(first), n);
        QVERIFY(n != 0x01234567u); // not the id's first digits, as it used to be
        QVERIFY(VendorService::machineSerial(second) != n);
        QCOMPARE(VendorService::machineSerial(dir.filePath(QStringLiteral("missing"))), 123456u);
        write(dir.filePath(QStringLiteral("empty")), "");
        QCOMPARE(VendorService::machineSerial(dir.filePath(QStringLiteral("empty"))), 123456u);

        // Nothing of this computer's own id is in the address the browser opens.
        const QByteArray id = read(QStringLiteral("/etc/machine-id")).trimmed();
        const QString url = VendorService::updatePageUrl();
        for (int i = 0; i + 8 <= id.size(); ++i) {
            QVERIFY(!url.contains(QString::fromLatin1(id.mid(i, 8)), Qt::CaseInsensitive));
            const uint asNumber = id.mid(i, 8).toUInt(nullptr, 16);
            if (asNumber > 1000000) // short numbers turn up anywhere ("ver=4")
                QVERIFY(!url.contains(QString::number(asNumber)));
        }
    }

    void nothingListeningStaysSilent()
    {
        // A port that refuses: reserve one, then free it.
        QTcpServer reserve;
        QVERIFY(reserve.listen(QHostAddress::LocalHost, 0));
        const quint16 port = reserve.serverPort();
        reserve.close();
        qputenv("SPACEWELL_VENDOR_URL", QStringLiteral("http://127.0.0.1:%1").arg(port).toUtf8());
        BoxAnswerer boxes;
        MainWindow window;
        window.show();
        showErrorBox(QStringLiteral("report to nowhere"));
        QCOMPARE(boxes.texts.size(), 1); // only the error box itself
        // The window keeps answering while the requests fail.
        QElapsedTimer t;
        t.start();
        bool ticked = false;
        QTimer::singleShot(50, &window, [&ticked] { ticked = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ticked, 1000);
        QVERIFY(t.elapsed() < 1000);
        QTest::qWait(500);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(!QFile::exists(timeFile()));
    }
};

QTEST_MAIN(TestVendorService)
#include "TestVendorService.moc"
