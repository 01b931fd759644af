#include "AppFolders.h"
#include "BoxAnswerer.h"
#include "FrameworkLoader.h"
#include "MainWindow.h"
#include "Product.h"
#include "ProgressForm.h"
#include "SimPhoneBuilder.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

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

    QTemporaryDir m_simRoot;
    QTemporaryDir m_backupRoot;
    QTranslator m_translator;
    std::unique_ptr<MainWindow> m_window;
    int m_phones = 0;

    QComboBox* devices() { return m_window->findChild<QComboBox*>(QStringLiteral("cbDevices")); }
    void press(const char* name)
    {
        QTest::mousePress(m_window->findChild<QPushButton*>(QLatin1String(name)), Qt::LeftButton);
    }
    QDir backupOf(const SimDeviceFolder& phone) const
    {
        return QDir(m_backupRoot.filePath(QStringLiteral("__vantelmoor_iosbk_temp/") + phone.udid()));
    }

    std::unique_ptr<SimDeviceFolder> connectPhone()
    {
        const QString name = QStringLiteral("phone%1").arg(++m_phones);
        QTemporaryDir staging;
        staging.setAutoRemove(false);
        SimDeviceFolder built(staging.path(), name);
        SimPhoneContent content;
        content.cacheFiles = 4;
        content.attachments = 2;
        content.orphanedAttachments = 2;
        content.photos = 2;
        content.appCount = 1;
        buildSimPhone(built, content);
        built.setSwitch(QStringLiteral("BackupSeconds"), 2);
        const int before = devices()->count();
        QDir().rename(built.path(), m_simRoot.filePath(name));
        auto phone = std::make_unique<SimDeviceFolder>(m_simRoot.path(), name, built.udid());
        phone->setSwitch(QStringLiteral("BackupSeconds"), 2);
        BoxAnswerer ok;
        if (!QTest::qWaitFor(
                [&] { return devices()->count() > before && !QApplication::activeModalWidget(); }, 10000))
            return nullptr;
        QTest::qWait(50);
        return phone;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
        qputenv("SPACEWELL_FRAMEWORK_DIR", SPACEWELL_TEST_FRAMEWORKS "/sim");
        qputenv("SPACEWELL_SIM_ROOT", m_simRoot.path().toUtf8());
        QString error;
        QVERIFY(load_apple_framework(error));
        QFile memory(appDataDir().filePath(QStringLiteral("__vantelmoor_iosbk_temp.path")));
        QVERIFY(memory.open(QIODevice::WriteOnly | QIODevice::Truncate));
        memory.write(m_backupRoot.path().toUtf8());
        memory.close();
        MainWindow::connectHintDelayMs = 3600000;
        m_window = std::make_unique<MainWindow>();
        m_window->show();
    }

    void cleanup()
    {
        for (const QString& name : QDir(m_simRoot.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QDir(m_simRoot.filePath(name)).removeRecursively();
        QTRY_COMPARE_WITH_TIMEOUT(devices()->count(), 0, 5000);
    }

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
