// The main window on the real-device framework build, through libimobiledevice and the emulated
// daemon: a phone plugged in untrusted, then trusted, its storage, apps and app caches.
#include "AppFolders.h"
#include "BoxAnswerer.h"
#include "EmulatorProcess.h"
#include "FormatSize.h"
#include "FrameworkLoader.h"
#include "MainWindow.h"
#include "SimPhoneBuilder.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTranslator>
#include <csignal>

namespace {
// Bytes in the caches and temp folders of the phone's app containers.
qint64 appCacheBytes(const SimDeviceFolder& phone)
{
    qint64 total = 0;
    QDirIterator it(phone.dir().filePath(QStringLiteral("containers")), QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains(QLatin1String("/Library/Caches/")) || path.contains(QLatin1String("/Library/tmp/")))
            total += it.fileInfo().size();
    }
    return total;
}
} // namespace

class TestUsbmuxWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QTemporaryDir m_aside;
    EmulatorProcess m_emulator;
    QTranslator m_translator;
    std::unique_ptr<MainWindow> m_window;

    template <typename T> T* child(const char* name) { return m_window->findChild<T*>(QLatin1String(name)); }
    QComboBox* devices() { return child<QComboBox>("cbDevices"); }
    void press(const char* button) { QTest::mousePress(child<QPushButton>(button), Qt::LeftButton); }

    // Plugs the phone in (moves its folder into the root) and waits until the window is done
    // with the arrival; returns the boxes it showed.
    QStringList plugIn(SimDeviceFolder& phone, int boxes)
    {
        BoxAnswerer ok;
        if (!phone.moveTo(m_root.path()))
            return {};
        if (!QTest::qWaitFor([&] { return ok.texts.size() >= boxes && !QApplication::activeModalWidget(); },
                             20000))
            qWarning() << "boxes shown:" << ok.texts;
        return ok.texts;
    }
    void unplug(SimDeviceFolder& phone) { QVERIFY(phone.moveTo(m_aside.path())); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // As in the program: Qt Test's crash handler would make a broken pipe fatal by itself.
        signal(SIGPIPE, SIG_DFL);
        QVERIFY(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
        const QString error = m_emulator.start(m_root.path());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QString loadError;
        QVERIFY2(load_apple_framework(loadError), qPrintable(loadError));
        MainWindow::connectHintDelayMs = 24 * 3600 * 1000; // no hint box during the tests
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    // The window goes first; the daemon then exits and reports every phone gone, which must not
    // reach the destroyed window.
    void cleanupTestCase()
    {
        BoxAnswerer ok;
        SimDeviceFolder phone(m_root.path(), QStringLiteral("left plugged in"));
        QTRY_COMPARE_WITH_TIMEOUT(devices()->count(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 10000);
        m_window.reset();
        m_emulator.stop();
        QTest::qWait(500);
    }

    void untrustedThenTrustedPhone()
    {
        SimDeviceFolder phone(m_aside.path(), QStringLiteral("Ann’s iPhone"));
        SimPhoneContent content;
        content.appCount = 3;
        buildSimPhone(phone, content);
        phone.setValues(QStringLiteral("com.apple.disk_usage"),
                        {{QStringLiteral("TotalDataCapacity"), qint64(32000000000)},
                         {QStringLiteral("AmountDataAvailable"), qint64(8000000000)}});
        phone.setSwitch(QStringLiteral("TrustTapped"), false);

        const QStringList untrusted = plugIn(phone, 2);
        QVERIFY2(untrusted.size() == 2, qPrintable(untrusted.join(QStringLiteral(" | "))));
        QVERIFY(untrusted.at(0).contains(QStringLiteral("enter your passcode")));
        QVERIFY2(untrusted.at(1).contains(QStringLiteral("Error code: AMDevicePair(-19)")),
                 qPrintable(untrusted.at(1)));
        QCOMPARE(devices()->count(), 0);

        // The user taps Trust and plugs the phone in again.
        unplug(phone);
        phone.setSwitch(QStringLiteral("TrustTapped"), true);
        QTest::qWait(300);
        QCOMPARE(plugIn(phone, 1).size(), 1);
        QCOMPARE(devices()->count(), 1);
        QCOMPARE(devices()->currentText(), QStringLiteral("Ann’s iPhone"));
        QCOMPARE(child<QProgressBar>("pgSpace")->value(), 75);
        auto* apps = m_window->findChild<QAbstractItemView*>(QStringLiteral("listApp"))->model();
        QCOMPARE(apps->rowCount(), 3);
        const IOSDevice device = devices()->currentData().value<IOSDevice>();
        for (const QString& id : SimPhonePaths::appIdentifiers(3))
            QVERIFY(!QImage(appCacheDir(device, id).filePath(QStringLiteral("iTunesArtwork"))).isNull());
        QVERIFY(child<QPushButton>("btnScanAppCache")->isVisible()); // the containers open

        const qint64 caches = appCacheBytes(phone);
        QVERIFY(caches > 0);
        BoxAnswerer ok;
        press("btnScanAppCache");
        QVERIFY(ok.texts.isEmpty());
        QCOMPARE(child<QLabel>("lbTotalAppCache")->text(), QStringLiteral("(%1)").arg(formatSize(caches)));
        press("btnClearAppCache");
        QCOMPARE(ok.texts.size(), 1);
        QVERIFY(ok.texts.at(0).startsWith(QStringLiteral("Successfully deleted ")));
        QCOMPARE(appCacheBytes(phone), 0);
        QCOMPARE(child<QLabel>("lbTotalAppCache")->text(), QStringLiteral("(0.0 KB)"));

        unplug(phone);
        QTRY_COMPARE_WITH_TIMEOUT(devices()->count(), 0, 10000);
    }

    void closedContainersHideTheScan()
    {
        SimDeviceFolder phone(m_aside.path(), QStringLiteral("store apps"));
        SimPhoneContent content;
        content.appCount = 2;
        buildSimPhone(phone, content);
        phone.setSwitch(QStringLiteral("RefusedContainers"), SimPhonePaths::appIdentifiers(2));
        QCOMPARE(plugIn(phone, 1).size(), 1);
        QCOMPARE(devices()->count(), 1);
        QVERIFY(!child<QPushButton>("btnScanAppCache")->isVisible());
        unplug(phone);
        QTRY_COMPARE_WITH_TIMEOUT(devices()->count(), 0, 10000);
    }
};

QTEST_MAIN(TestUsbmuxWindow)
#include "TestUsbmuxWindow.moc"
