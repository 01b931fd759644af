#include "AppFolders.h"
#include "CFType.h"
#include "IOSLoadAppThread.h"
#include "ItemModelAppIcon.h"
#include "MobileDeviceManager.h"
#include "SimSession.h"
#include "StepMonitor.h"
#include "WorkerRun.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QStandardPaths>

class TestAppList : public QObject
{
    Q_OBJECT

    SimSession m_sim;

    QList<AppInfo> load(const IOSDevice& device, bool* ok = nullptr, QStringList* boxes = nullptr)
    {
        StepMonitor monitor;
        monitor.setCancellable(false);
        IOSLoadAppThread worker(device, &monitor, nullptr);
        const WorkerRun run = runWorker(worker, monitor);
        if (ok)
            *ok = run.succeeded;
        if (boxes)
            *boxes = run.reports;
        return worker.apps;
    }
    static QByteArray pngOf(Qt::GlobalColor color)
    {
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(color);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_sim.start());
    }

    void loadsEveryBatchAndCachesIconsOnce()
    {
        SimDeviceFolder phone(m_sim.root.path(), QStringLiteral("apps"));
        phone.setSwitch(QStringLiteral("BrowseBatchSize"), 2);
        const QStringList ids{QStringLiteral("com.example.one"), QStringLiteral("com.example.two"),
                              QStringLiteral("com.example.three"), QStringLiteral("com.example.four"),
                              QStringLiteral("com.example.store")};
        for (const QString& id : ids) {
            const QDir c = phone.addApp(
                id, id == QLatin1String("com.example.two") ? QString() : id.section(QLatin1Char('.'), 2));
            SimDeviceFolder::writeFile(c.filePath(QStringLiteral("iTunesArtwork")), pngOf(Qt::red));
        }
        phone.setSwitch(QStringLiteral("RefusedContainers"),
                        QStringList{QStringLiteral("com.example.store")});
        const IOSDevice device = m_sim.attach(phone);

        bool ok = false;
        const QList<AppInfo> apps = load(device, &ok);
        QVERIFY(ok);
        QCOMPARE(apps.size(), 5);
        QCOMPARE(apps.at(0).name, QStringLiteral("one"));
        QCOMPARE(apps.at(1).name, QStringLiteral("com.example.two")); // no bundle name: the identifier
        QCOMPARE(apps.at(4).identifier, QStringLiteral("com.example.store"));

        const QString icon =
            appCacheDir(device, QStringLiteral("com.example.one")).filePath(QStringLiteral("iTunesArtwork"));
        QCOMPARE(QImage(icon).pixelColor(0, 0), QColor(Qt::red));
        // The refused container costs its icon only.
        QVERIFY(!QFile::exists(appCacheDir(device, QStringLiteral("com.example.store"))
                                   .filePath(QStringLiteral("iTunesArtwork"))));

        // A cached icon is never fetched again.
        SimDeviceFolder::writeFile(
            phone.dir().filePath(QStringLiteral("containers/com.example.one/iTunesArtwork")),
            pngOf(Qt::blue));
        load(device);
        QCOMPARE(QImage(icon).pixelColor(0, 0), QColor(Qt::red));
        phone.remove();
    }

    // The list asks for the user's apps only, and for the names and disk usage it shows. The
    // simulated phone answers as phones do: only the attributes asked for, disk usage only when
    // asked (libimobiledevice issues 130, 469, 511), every app when no type is given.
    void theListAsksForUserAppsAndTheirSizes()
    {
        SimDeviceFolder phone(m_sim.root.path(), QStringLiteral("sizes"));
        const QDir mail = phone.addApp(QStringLiteral("com.example.mail"), QStringLiteral("Mail"));
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("Documents/inbox.db")),
                                   QByteArray(3000, 'm'));
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("Library/Caches/c")), QByteArray(500, 'c'));
        phone.addSystemApp(QStringLiteral("com.apple.mobilesafari"), QStringLiteral("Safari"));
        const IOSDevice device = m_sim.attach(phone);
        const QList<AppInfo> apps = load(device);
        QCOMPARE(apps.size(), 1);
        QCOMPARE(apps.at(0).dataBytes, qint64(3500));
        QCOMPARE(apps.at(0).bundleBytes, qint64(24000000));

        auto browse = [&](const CFType& options) {
            int socket = -1;
            mobiledevice_start_service(device.device, QStringLiteral("com.apple.mobile.installation_proxy"),
                                       socket);
            CFType request = CFType::newDictionary();
            request.setValue(CFType::fromString(QStringLiteral("Command")),
                             CFType::fromString(QStringLiteral("Browse")));
            request.setValue(CFType::fromString(QStringLiteral("ClientOptions")), options);
            mobiledevice_sendmsg(socket, request, false, 10000);
            QList<CFType> entries;
            for (;;) {
                const CFType reply = mobiledevice_recmsg(socket, request, 10000);
                const CFType list = reply.value(QStringLiteral("CurrentList"));
                // Entries borrowed from the reply would go with it: each is copied.
                for (int i = 0; i < list.arrayCount(); ++i)
                    entries << CFType(plist_copy(list.arrayValue(i).ref()), true);
                if (reply.value(QStringLiteral("Status")).toString() == QLatin1String("Complete") ||
                    reply.isNull())
                    break;
            }
            mobiledevice_close_socket(socket);
            return entries;
        };
        const QList<CFType> every = browse(CFType::newDictionary());
        QCOMPARE(every.size(), 2);
        QVERIFY(every.at(0).value(QStringLiteral("DynamicDiskUsage")).isNull());
        CFType only = CFType::newDictionary();
        CFType names = CFType::newArray();
        names.appendValue(CFType::fromString(QStringLiteral("CFBundleName")));
        only.setValue(CFType::fromString(QStringLiteral("ReturnAttributes")), names);
        only.setValue(CFType::fromString(QStringLiteral("ApplicationType")),
                      CFType::fromString(QStringLiteral("System")));
        const QList<CFType> system = browse(only);
        QCOMPARE(system.size(), 1);
        QCOMPARE(system.at(0).value(QStringLiteral("CFBundleName")).toString(), QStringLiteral("Safari"));
        QVERIFY(system.at(0).value(QStringLiteral("CFBundleIdentifier")).isNull());
        phone.remove();
    }

    void noAppsAndUnsafeIdentifiers()
    {
        SimDeviceFolder phone(m_sim.root.path(), QStringLiteral("noapps"));
        const IOSDevice device = m_sim.attach(phone);
        bool ok = false;
        QVERIFY(load(device, &ok).isEmpty());
        QVERIFY(ok);

        // Identifiers that would not stay inside the icon cache get no icon, and the load goes on.
        SimDeviceFolder odd(m_sim.root.path(), QStringLiteral("odd"));
        odd.addApp(QStringLiteral(".."), QStringLiteral("Dots"));
        odd.addApp(QStringLiteral("/:"), QStringLiteral("Slashes"));
        odd.addApp(QStringLiteral("com.example.fine"), QStringLiteral("Fine"));
        const IOSDevice oddDevice = m_sim.attach(odd);
        const QList<AppInfo> apps = load(oddDevice, &ok);
        QVERIFY(ok);
        QCOMPARE(apps.size(), 3);
        const QDir cache = deviceCacheDir(oddDevice);
        QCOMPARE(cache.entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("com.example.fine")});
        QVERIFY(!QFile::exists(cache.filePath(QStringLiteral("../iTunesArtwork"))));
        phone.remove();
        odd.remove();
    }

    void serviceFailureEndsTheLoad()
    {
        SimDeviceFolder phone(m_sim.root.path(), QStringLiteral("noproxy"));
        phone.setSwitch(QStringLiteral("RefusedServices"),
                        QStringList{QStringLiteral("com.apple.mobile.installation_proxy")});
        const IOSDevice device = m_sim.attach(phone);
        bool ok = true;
        QStringList boxes;
        load(device, &ok, &boxes);
        QVERIFY(!ok);
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes.at(0).contains(
            QStringLiteral("AMDeviceStartService(com.apple.mobile.installation_proxy)=-34, line: 49")));
        phone.remove();
    }

    void modelRoles()
    {
        ItemModelAppIcon model;
        auto* twelve = new _APPIconItemNode(nullptr, {QStringLiteral("a"), QStringLiteral("Twelve chars")},
                                            QString(), true, false);
        auto* thirteen = new _APPIconItemNode(nullptr, {QStringLiteral("b"), QStringLiteral("Thirteenchars")},
                                              QString(), false, false);
        auto* fixed = new _APPIconItemNode(nullptr, {QStringLiteral("c"), QStringLiteral("Cache Files")},
                                           QStringLiteral(":res/fun_clearsys.png"), true, true);
        model.appendNode(twelve);
        model.appendNode(thirteen);
        model.appendNode(fixed);
        const QModelIndex i0 = model.index(0, 0);
        const QModelIndex i1 = model.index(1, 0);
        const QModelIndex i2 = model.index(2, 0);
        QCOMPARE(i0.data().toString(), QStringLiteral("Twelve chars"));
        QCOMPARE(i1.data().toString(), QStringLiteral("Thirteenc..."));
        QCOMPARE(i1.data(Qt::ToolTipRole).toString(), QStringLiteral("Thirteenchars"));
        thirteen->size = 0;
        QCOMPARE(i1.data().toString(), QStringLiteral("Thirteenc...\n(0.0 KB)"));
        QCOMPARE(i0.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(i1.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(!i2.data(Qt::CheckStateRole).isValid());
        QCOMPARE(i0.data(Qt::ForegroundRole).value<QColor>(), QColor(122, 121, 121));
        QCOMPARE(i0.data(Qt::DecorationRole).value<QImage>().size(), QSize(64, 64)); // the default icon
        QCOMPARE(i2.data(Qt::DecorationRole).value<QImage>().size(), QSize(64, 64));
        QVERIFY(model.flags(i0).testFlag(Qt::ItemIsUserCheckable));
        QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::DisplayRole).isValid());

        QSignalSpy checked(&model, &ItemModelAppIcon::itemChecked);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QVERIFY(model.setData(i1, Qt::Checked, Qt::CheckStateRole));
        QVERIFY(thirteen->checked);
        QCOMPARE(checked.count(), 1);
        QVERIFY(model.setData(i2, Qt::Unchecked, Qt::CheckStateRole)); // fixed: unchanged, still announced
        QVERIFY(fixed->checked);
        QCOMPARE(checked.count(), 1);
        QCOMPARE(changed.count(), 2);
        QVERIFY(!model.setData(i0, QStringLiteral("x"), Qt::EditRole));

        // Before a Scan, the data size the phone reports; after it, the caches or, for a container
        // the phone keeps closed, a dash (not measured is not 0).
        AppInfo sized{QStringLiteral("d"), QStringLiteral("Notes")};
        sized.dataBytes = 2048;
        auto* notes = new _APPIconItemNode(nullptr, sized, QString(), true, false);
        model.appendNode(notes);
        const QModelIndex i3 = model.index(3, 0);
        QCOMPARE(i3.data().toString(), QStringLiteral("Notes\nData 2.0 KB"));
        notes->size = 1024;
        QCOMPARE(i3.data().toString(), QStringLiteral("Notes\n(1.0 KB)"));
        notes->measurable = false;
        QCOMPARE(i3.data().toString(), QStringLiteral("Notes\n(\u2013)"));
        QVERIFY(i3.data(Qt::ToolTipRole).toString().contains(QStringLiteral("container closed")));
    }
};

QTEST_MAIN(TestAppList)
#include "TestAppList.moc"
