#include "FrameworkLoader.h"
#include "IOSDevice.h"
#include "MobileDeviceManager.h"
#include "SimDeviceFolder.h"

#include "ErrorText.h"
#include <QTemporaryDir>

#include <QTest>
#include <QThread>

// Records device events the way the main window receives them.
class Receiver : public QObject
{
    Q_OBJECT
public:
    QList<void*> arrived;
    QList<void*> removed;
    bool onOwnThread = true;

public slots:
    void iosDeviceConnected(void* device)
    {
        onOwnThread = onOwnThread && QThread::currentThread() == thread();
        arrived << device;
    }
    void iosDeviceDisconnected(void* device)
    {
        onOwnThread = onOwnThread && QThread::currentThread() == thread();
        removed << device;
    }
};

class TestDeviceManager : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    Receiver m_receiver;
    MobileDeviceNotificationContext m_context;

    // Connects a device folder and waits for its arrival; returns its handle.
    void* attach(SimDeviceFolder& folder)
    {
        const int before = int(m_receiver.arrived.size());
        Q_UNUSED(folder);
        if (!QTest::qWaitFor([&] { return m_receiver.arrived.size() > before; }, 5000))
            return nullptr;
        return m_receiver.arrived.last();
    }

private slots:
    void initTestCase()
    {
        qputenv("SPACEWELL_FRAMEWORK_DIR", SPACEWELL_TEST_FRAMEWORKS "/sim");
        qputenv("SPACEWELL_SIM_ROOT", m_root.path().toUtf8());
        m_context.receiver = &m_receiver;
        QString error;
        QVERIFY2(load_apple_framework(error), qPrintable(error));
        QCOMPARE(mobiledevice_subscribe(&m_context), 0);
    }

    void arrivalAndRemovalReachTheReceiverThread()
    {
        SimDeviceFolder phone(m_root.path(), QStringLiteral("arrival"));
        void* device = attach(phone);
        QVERIFY(device);
        phone.remove();
        QTRY_COMPARE_WITH_TIMEOUT(m_receiver.removed.size(), 1, 5000);
        QCOMPARE(m_receiver.removed.last(), device);
        QVERIFY(m_receiver.onOwnThread);
    }

    void devicesNotOnUsbAreIgnored()
    {
        // The phone is on Wi-Fi from the moment it appears: the framework reads the switch when it
        // first sees the folder.
        QTemporaryDir staging;
        SimDeviceFolder wifi(staging.path(), QStringLiteral("wifi"));
        wifi.setSwitch(QStringLiteral("Network"), true);
        QVERIFY(wifi.moveTo(m_root.path()));
        const int before = int(m_receiver.arrived.size());
        SimDeviceFolder usb(m_root.path(), QStringLiteral("usb"));
        void* device = attach(usb);
        QVERIFY(device);
        QTest::qWait(400);
        QCOMPARE(m_receiver.arrived.size(), before + 1);
        wifi.remove();
        usb.remove();
    }

    void valuesByKeyAndDomain()
    {
        SimDeviceFolder phone(m_root.path(), QStringLiteral("values"),
                              QStringLiteral("0123456789abcdef0123456789abcdef01234567"));
        void* device = attach(phone);
        QVERIFY(device);
        const QList<CFType> v = mobiledevice_copy_values(
            device,
            {QStringLiteral("UniqueDeviceID"), QStringLiteral("NoSuchKey"), QStringLiteral("ProductType")},
            QString());
        QCOMPARE(v.size(), 3);
        QCOMPARE(v.at(0).toString(), phone.udid());
        QVERIFY(v.at(1).isNull());
        QCOMPARE(v.at(2).toString(), QStringLiteral("iPhone8,1"));

        const QList<CFType> usage =
            mobiledevice_copy_values(device, {QString()}, QStringLiteral("com.apple.disk_usage"));
        QCOMPARE(usage.at(0).value(QStringLiteral("TotalDataCapacity")).toLongLong(), 16000000000LL);
        QCOMPARE(usage.at(0).value(QStringLiteral("AmountDataAvailable")).toLongLong(), 4000000000LL);

        const IOSDevice record = mobiledevice_read_device(device);
        QCOMPARE(record.uniqueDeviceId, phone.udid());
        QCOMPARE(record.deviceName, QStringLiteral("values"));
        QCOMPARE(record.device, device);
        phone.remove();
    }

    void unsafeIdentifiersKeepTheDeviceOut_data()
    {
        QTest::addColumn<QString>("udid");
        QTest::newRow("path") << QStringLiteral("../../etc");
        QTest::newRow("slash") << QStringLiteral("abc/def");
        QTest::newRow("too long") << QString(65, QLatin1Char('a'));
        QTest::newRow("blank") << QStringLiteral("abc def");
    }

    void unsafeIdentifiersKeepTheDeviceOut()
    {
        QFETCH(QString, udid);
        static int n = 0;
        SimDeviceFolder phone(m_root.path(), QStringLiteral("unsafe%1").arg(++n), udid);
        void* device = attach(phone);
        QVERIFY(device);
        const QString error = errorOf([device] { mobiledevice_read_device(device); });
        QVERIFY2(error.contains(QStringLiteral("unusable identifier")), qPrintable(error));
        QVERIFY(isSafeUniqueDeviceId(QStringLiteral("00008030-001A2B3C4D5E6F70")));
        phone.remove();
    }

    void pairingNeedsTrust()
    {
        SimDeviceFolder phone(m_root.path(), QStringLiteral("untrusted"));
        phone.setSwitch(QStringLiteral("Paired"), false);
        phone.setSwitch(QStringLiteral("TrustTapped"), false);
        void* device = attach(phone);
        QVERIFY(device);
        QString error;
        QCOMPARE(mobiledevice_connect(device, error), -19);
        QVERIFY(error.startsWith(
            QStringLiteral("Please restart your iPhone and computer to try again. If a prompt "
                           "message pops out on your iPhone, please click \"Trust\".")));
        QVERIFY(error.endsWith(QStringLiteral("<br/><br/>Error code: AMDevicePair(-19)")));

        phone.setSwitch(QStringLiteral("PasscodeLocked"), true);
        QCOMPARE(mobiledevice_connect(device, error), -17);
        phone.setSwitch(QStringLiteral("PasscodeLocked"), false);
        phone.setSwitch(QStringLiteral("UserDenied"), true);
        QCOMPARE(mobiledevice_connect(device, error), -18);

        // The user taps Trust: the next try pairs and opens a session.
        phone.setSwitch(QStringLiteral("UserDenied"), false);
        phone.setSwitch(QStringLiteral("TrustTapped"), true);
        error.clear();
        QCOMPARE(mobiledevice_connect(device, error), 0);
        QVERIFY(error.isEmpty());
        mobiledevice_disconnect(device);
        QCOMPARE(phone.switchValue(QStringLiteral("Paired")).toBool(), true);
        phone.remove();
    }

    void sessionFailureDisconnects()
    {
        SimDeviceFolder phone(m_root.path(), QStringLiteral("nosession"));
        phone.setSwitch(QStringLiteral("SessionError"), 21);
        void* device = attach(phone);
        QString error;
        QCOMPARE(mobiledevice_connect(device, error), -21);
        QVERIFY(error.endsWith(QStringLiteral("Error code: AMDeviceStartSession(-21)")));
        QCOMPARE(errorOf([device] {
                     mobiledevice_copy_values(device, {QStringLiteral("DeviceName")}, QString());
                 }),
                 error);
        phone.remove();
    }

    void servicesSpeakFramedMessages()
    {
        SimDeviceFolder phone(m_root.path(), QStringLiteral("service"));
        void* device = attach(phone);
        int socket = -1;
        mobiledevice_start_service(device, QStringLiteral("com.vantelmoor.sim.echo"), socket);
        QVERIFY(socket >= 0);
        CFType request = CFType::newDictionary();
        request.setValue(CFType::fromString(QStringLiteral("Command")),
                         CFType::fromString(QStringLiteral("Ping")));
        mobiledevice_sendmsg(socket, request, false, 60000);
        QCOMPARE(mobiledevice_recmsg(socket, request, 60000).value(QStringLiteral("Command")).toString(),
                 QStringLiteral("Ping"));
        mobiledevice_close_socket(socket);

        // A reply that stops half-way, and one that is too slow.
        phone.setSwitch(QStringLiteral("ReplyStopsAfter"), 20);
        mobiledevice_start_service(device, QStringLiteral("com.vantelmoor.sim.echo"), socket);
        mobiledevice_sendmsg(socket, request, false, 60000);
        QCOMPARE(
            errorOf([&] { mobiledevice_recmsg(socket, CFType(), 2000); }).section(QLatin1Char('.'), 0, 0),
            QStringLiteral("mobiledevice_recmsg(msg) error, received length: 16"));
        mobiledevice_close_socket(socket);
        phone.setSwitch(QStringLiteral("ReplyStopsAfter"), -1);
        phone.setSwitch(QStringLiteral("ReplyDelayMs"), 600);
        mobiledevice_start_service(device, QStringLiteral("com.vantelmoor.sim.echo"), socket);
        mobiledevice_sendmsg(socket, request, false, 60000);
        QVERIFY(mobiledevice_wait_socket(socket, 100, SocketDirection::Read) == 0);
        QVERIFY(!mobiledevice_recmsg(socket, request, 60000).isNull());
        mobiledevice_close_socket(socket);
        phone.remove();
    }

    void refusedServiceNamesTheDevice()
    {
        SimDeviceFolder phone(m_root.path(), QStringLiteral("refusing"));
        phone.setSwitch(QStringLiteral("RefusedServices"), QStringList{QStringLiteral("com.apple.afc")});
        void* device = attach(phone);
        int socket = -1;
        QCOMPARE(
            errorOf([&] { mobiledevice_start_service(device, QStringLiteral("com.apple.afc"), socket); }),
            QStringLiteral(
                "<br/><br/>device:refusing, iPhone8,1, iOS 9.3.5 <br/><br/>Please turn off Wifi Sync on "
                "iTunes or disconnect computer internet connections to try again.<br/>Error code: "
                "AMDeviceStartService(com.apple.afc)=-34"));
        // When the device cannot even be asked for its name, it is "Unknown": two connections so far,
        // the service's is the third and the name's would be the fourth.
        phone.setSwitch(QStringLiteral("ConnectFailuresAfter"), 3);
        QCOMPARE(errorOf([&] {
                     mobiledevice_start_service(device, QStringLiteral("com.apple.afc"), socket);
                 }).section(QStringLiteral("<br/><br/>"), 1, 1),
                 QStringLiteral("device:Unknown "));
        phone.remove();
    }
};

QTEST_GUILESS_MAIN(TestDeviceManager)
#include "TestDeviceManager.moc"
