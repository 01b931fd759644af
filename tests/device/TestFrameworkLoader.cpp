#include "BoxAnswerer.h"
#include "FrameworkLoader.h"
#include "MainWindow.h"
#include "MobileDeviceManager.h"
#include "Startup.h"

#include <QTest>
#include <QTranslator>

class Receiver : public QObject
{
    Q_OBJECT
public:
    int events = 0;
public slots:
    void iosDeviceConnected(void*) { ++events; }
    void iosDeviceDisconnected(void*) { ++events; }
};

class TestFrameworkLoader : public QObject
{
    Q_OBJECT

    QTranslator m_translator;

private slots:
    void initTestCase()
    {
        QVERIFY(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
    }

    void missingFrameworkStillOpensTheWindow()
    {
        qputenv("SPACEWELL_FRAMEWORK_DIR", "/nonexistent/frameworks");
        QString error;
        QVERIFY(!load_apple_framework(error));
        QCOMPARE(error, QStringLiteral("Failed to load (Mobile Device) framework."));
        QVERIFY(!apple_framework_loaded());
        QVERIFY(!mobiledevice_resolve("AMDeviceConnect"));
        MobileDeviceNotificationContext context;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, mobiledevice_subscribe(&context));

        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        BoxAnswerer boxes;
        warnIfFrameworkMissing();
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.texts.at(0).contains(
            QStringLiteral("/tutorial/how-to-connect-ios-device-to-vantelmoor-successfully.html")));
        QCOMPARE(boxes.icons.at(0), QMessageBox::Warning);
        QVERIFY(boxes.texts.at(0).endsWith(QStringLiteral("Missing library: libiTunesMobileDevice.so.")));
    }

    // The framework's own file is there but a library it needs is not: the warning names it.
    void theWarningNamesAMissingLibrary()
    {
        unload_apple_framework_for_tests();
        qputenv("SPACEWELL_FRAMEWORK_DIR", SPACEWELL_BROKEN_FRAMEWORK);
        QString error;
        QVERIFY(!load_apple_framework(error));
        QCOMPARE(framework_missing_library(), QStringLiteral("libspacewell_test_absent.so"));
        BoxAnswerer boxes;
        warnIfFrameworkMissing();
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.at(0).endsWith(
                     QStringLiteral("<br/><br/>Missing library: libspacewell_test_absent.so.")),
                 qPrintable(boxes.texts.at(0)));
        QCOMPARE(mobiledevice_daemon_answers(), -1);
    }

    void realDeviceBuildWorksWithoutDaemon()
    {
        // No usbmuxd answers here: the build loads, subscribes and reports nothing.
        qputenv("USBMUXD_SOCKET_ADDRESS", "UNIX:/nonexistent/usbmuxd");
        qputenv("SPACEWELL_FRAMEWORK_DIR", SPACEWELL_TEST_FRAMEWORKS "/usbmux");
        QString error;
        QVERIFY2(load_apple_framework(error), qPrintable(error));
        for (const char* f :
             {"AMDeviceNotificationSubscribe", "AMDeviceConnect", "AMDeviceIsPaired", "AMDevicePair",
              "AMDeviceValidatePairing", "AMDeviceStartSession", "AMDeviceStopSession", "AMDeviceDisconnect",
              "AMDeviceCopyValue", "AMDeviceStartService"})
            QVERIFY2(mobiledevice_resolve(f), f);
        Receiver receiver;
        MobileDeviceNotificationContext context;
        context.receiver = &receiver;
        QCOMPARE(mobiledevice_subscribe(&context), 0);
        BoxAnswerer boxes;
        warnIfFrameworkMissing();
        QTest::qWait(1000);
        QCOMPARE(receiver.events, 0);
        QVERIFY(boxes.texts.isEmpty());
        QCOMPARE(mobiledevice_daemon_answers(), 0);

        // The first connect hint says what is missing and how to get it.
        MainWindow::connectHintDelayMs = 100;
        MainWindow window;
        window.show();
        QTRY_COMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.at(0).startsWith(QStringLiteral("Device not found. Please connect your device "
                                                             "with USB cable.<br/><br/>Phones are reached "
                                                             "through the usbmuxd service")),
                 qPrintable(boxes.texts.at(0)));
        QVERIFY(boxes.texts.at(0).contains(QStringLiteral("sudo apt install usbmuxd")));
    }
};

QTEST_MAIN(TestFrameworkLoader)
#include "TestFrameworkLoader.moc"
