#include "AppFolders.h"
#include "BoxAnswerer.h"
#include "FrameworkLoader.h"
#include "MainWindow.h"
#include "Product.h"
#include "ProgressForm.h"
#include "SimPhoneBuilder.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Runs `act` once, when a progress dialog shows a status containing `status`.
class OnProgress : public QObject
{
public:
    OnProgress(const QString& status, std::function<void()> act) : m_status(status), m_act(std::move(act))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* form = qobject_cast<ProgressForm*>(QApplication::activeModalWidget());
            if (!form || done ||
                !form->findChild<QLabel*>(QStringLiteral("lbStatus"))->text().contains(m_status))
                return;
            done = true;
            m_act();
        });
        m_timer.start(20);
    }
    bool done = false;

private:
    QString m_status;
    std::function<void()> m_act;
    QTimer m_timer;
};
} // namespace

// What the user sees, and what is left, when things go wrong half-way.
class TestFaults : public QObject
{
    Q_OBJECT

    WindowFixture m_fx;
    int m_phones = 0;

    QComboBox* devices() { return m_fx.devices(); }
    void press(const char* name) { m_fx.press(name); }
    QDir backupOf(const SimDeviceFolder& phone) const { return m_fx.backupOf(phone); }

    std::unique_ptr<SimDeviceFolder> connectPhone()
    {
        SimPhoneContent content;
        content.cacheFiles = 4;
        content.attachments = 2;
        content.orphanedAttachments = 2;
        content.photos = 2;
        content.appCount = 1;
        return m_fx.connectPhone(QStringLiteral("phone%1").arg(++m_phones), content,
                                 [](SimDeviceFolder& p) { p.setSwitch(QStringLiteral("BackupSeconds"), 2); });
    }

private slots:
    void initTestCase()
    {
        const QString error = m_fx.prepare(QStringLiteral(SPACEWELL_TEST_FRAMEWORKS "/sim"));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(m_fx.openWindow());
    }

    void cleanup() { QVERIFY(m_fx.removePhones()); }

    void phoneRemovedDuringTheBackup()
    {
        auto phone = connectPhone();
        QVERIFY(phone);
        BoxAnswerer ok;
        OnProgress unplug(QStringLiteral("Loading data from Device..."), [&phone] { phone->remove(); });
        press("btnClearSysCache");
        QVERIFY(unplug.done);
        QCOMPARE(ok.texts.size(), 1);
        // Depending on when the cable goes, the tool finds no device or loses it half-way.
        QVERIFY2(ok.texts.at(0).contains(QStringLiteral("disconnected during the backup")) ||
                     ok.texts.at(0).contains(QStringLiteral("No device found with udid")),
                 qPrintable(ok.texts.at(0)));
        QVERIFY(!backupOf(*phone).exists()); // a failed backup is not kept
        QTRY_COMPARE(devices()->count(), 0); // the removal waited for the flow's end
    }

    void phoneRemovedDuringTheRestore()
    {
        auto phone = connectPhone();
        QVERIFY(phone);
        BoxAnswerer ok;
        OnProgress unplug(QStringLiteral("Transferring data to Device..."), [&phone] { phone->remove(); });
        press("btnClearSysCache");
        QVERIFY(unplug.done);
        QCOMPARE(ok.texts.size(), 1);
        QVERIFY2(ok.texts.at(0).contains(QStringLiteral("disconnected during the restore")) ||
                     ok.texts.at(0).contains(QStringLiteral("No device found with udid")),
                 qPrintable(ok.texts.at(0)));
        // The edited backup stays whole, Info.plist under its own name.
        QVERIFY(backupOf(*phone).exists(QStringLiteral("Info.plist")));
        QVERIFY(backupOf(*phone).exists(QStringLiteral("Manifest.mbdb")));
    }

    void otherPhoneRemovedMidFlow()
    {
        auto first = connectPhone();
        auto second = connectPhone();
        QVERIFY(first && second);
        QCOMPARE(devices()->currentText(), QStringLiteral("phone%1").arg(m_phones));
        BoxAnswerer ok;
        OnProgress unplug(QStringLiteral("Loading data from Device..."), [&first] { first->remove(); });
        press("btnClearSysCache");
        QCOMPARE(ok.texts.size(), 1);
        QVERIFY(ok.texts.at(0).startsWith(QStringLiteral("Successfully deleted ")));
        QTRY_COMPARE(devices()->count(), 1);
        QCOMPARE(devices()->currentText(), QStringLiteral("phone%1").arg(m_phones));
    }

    void unwritableDataFolderStillOpensTheWindow()
    {
        // The redirect names a file: nothing can be created below it.
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("not-a-folder"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QString redirect =
            QDir(roamingDir())
                .filePath(QStringLiteral("VantelMoor/") + QLatin1String(Product::productKey) +
                          QStringLiteral(".redirect"));
        QFile r(redirect);
        QVERIFY(r.open(QIODevice::WriteOnly | QIODevice::Truncate));
        r.write(file.toUtf8());
        r.close();
        resetAppDataDirForTests();
        {
            BoxAnswerer ok;
            MainWindow window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(!QFileInfo(appDataDir().absolutePath()).isDir());
        }
        QFile::remove(redirect);
        resetAppDataDirForTests();
    }
};

QTEST_MAIN(TestFaults)
#include "TestFaults.moc"
