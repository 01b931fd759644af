#include "IOSClearAppCacheThread.h"
#include "SimSession.h"
#include "StepMonitor.h"
#include "WorkerRun.h"

#include <QDirIterator>
#include <QFile>
#include <QTimer>
#include <QTranslator>

namespace {
// Counts the reports that reach the watcher's thread, and cancels at a chosen one.
class ReportCounter : public QObject
{
public:
    int calls = 0;
    int cancelAt = -1;
    int actAt = -1;
    std::function<void()> act;
    void watch(StepMonitor& monitor)
    {
        connect(&monitor, &StepMonitor::progressed, this, [this, &monitor] {
            ++calls;
            if (calls == cancelAt)
                monitor.cancel();
            if (calls == actAt && act)
                act();
        });
    }
};

QStringList filesUnder(const QDir& dir)
{
    QStringList files;
    QDirIterator it(dir.absolutePath(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << dir.relativeFilePath(it.next());
    files.sort();
    return files;
}
} // namespace

class TestAppCacheCleaner : public QObject
{
    Q_OBJECT

    SimSession m_sim;
    QTranslator m_translator;

    struct Result
    {
        bool ok = false;
        QStringList boxes;
        QHash<QString, qint64> sizes;
        qint64 total = 0;
        int reports = 0;
        QStringList refused;
    };

    Result run(const IOSDevice& device, const QList<AppInfo>& apps, bool scanOnly, int cancelAtReport = -1,
               int actAtReport = -1, std::function<void()> act = {})
    {
        StepMonitor monitor;
        ReportCounter counter;
        counter.cancelAt = cancelAtReport;
        counter.actAt = actAtReport;
        counter.act = std::move(act);
        counter.watch(monitor);
        IOSClearAppCacheThread worker(device, apps, &monitor, nullptr);
        worker.scanOnly = scanOnly;
        const WorkerRun r = runWorker(worker, monitor);
        return {r.succeeded, r.reports, worker.sizes, worker.totalSize(), counter.calls, worker.refused};
    }

    // Two apps with caches, one with none at all.
    void fill(SimDeviceFolder& phone)
    {
        const QDir mail = phone.addApp(QStringLiteral("com.example.mail"), QStringLiteral("Mail"));
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("Library/Caches/a.db")),
                                   QByteArray(1000, 'a'));
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("Library/Caches/img/1.png")),
                                   QByteArray(200, 'b'));
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("Library/Caches/img/deep/2.png")),
                                   QByteArray(30, 'c'));
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("Library/tmp/upload.part")),
                                   QByteArray(4, 'd'));
        SimDeviceFolder::writeFile(mail.filePath(QStringLiteral("Documents/keep.txt")), QByteArray(50, 'e'));
        const QDir maps = phone.addApp(QStringLiteral("com.example.maps"), QStringLiteral("Maps"));
        SimDeviceFolder::writeFile(maps.filePath(QStringLiteral("Library/Caches/tiles.db")),
                                   QByteArray(5000, 't'));
        const QDir bare = phone.addApp(QStringLiteral("com.example.bare"), QStringLiteral("Bare"));
        SimDeviceFolder::writeFile(bare.filePath(QStringLiteral("Documents/x")), "x");
    }
    static QList<AppInfo> appsOf()
    {
        return {{QStringLiteral("com.example.mail"), QStringLiteral("Mail")},
                {QStringLiteral("com.example.maps"), QStringLiteral("Maps")},
                {QStringLiteral("com.example.bare"), QStringLiteral("Bare")}};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_sim.start());
        QVERIFY(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
    }

    void scanMeasuresAndChangesNothing()
    {
        SimDeviceFolder phone(m_sim.root.path(), QStringLiteral("scan"));
        fill(phone);
        const IOSDevice device = m_sim.attach(phone);
        const QStringList before = filesUnder(phone.dir());
        const Result r = run(device, appsOf(), true);
        QVERIFY(r.ok);
        QVERIFY(r.boxes.isEmpty());
        QCOMPARE(r.sizes.value(QStringLiteral("com.example.mail")), 1234);
        QCOMPARE(r.sizes.value(QStringLiteral("com.example.maps")), 5000);
        QCOMPARE(r.sizes.value(QStringLiteral("com.example.bare")), 0);
        QVERIFY(r.sizes.contains(QStringLiteral("com.example.bare")));
        QCOMPARE(r.total, 6234);
        QCOMPARE(filesUnder(phone.dir()), before);
        phone.remove();
    }

    void appWithoutFoldersMakesNoFileReports()
    {
        SimDeviceFolder phone(m_sim.root.path(), QStringLiteral("bare"));
        fill(phone);
        const IOSDevice device = m_sim.attach(phone);
        const Result r = run(device, {{QStringLiteral("com.example.bare"), QStringLiteral("Bare")}}, true);
        QVERIFY(r.ok);
        QCOMPARE(r.reports, 2); // the status and the app
        // The worker only measures; its flow says what was freed.
        const Result empty = run(device, {}, false);
        QVERIFY(empty.ok);
        QVERIFY(empty.boxes.isEmpty());
        phone.remove();
    }

    void cleanEmptiesBothFoldersButKeepsThem()
    {
        SimDeviceFolder phone(m_sim.root.path(), QStringLiteral("clean"));
        fill(phone);
        const IOSDevice device = m_sim.attach(phone);
        const Result r = run(device, {appsOf().at(0)}, false);
        QVERIFY(r.ok);
        QCOMPARE(r.sizes.value(QStringLiteral("com.example.mail")), 1234);
        const QDir mail(phone.dir().filePath(QStringLiteral("containers/com.example.mail")));
        QCOMPARE(filesUnder(mail),
                 (QStringList{QStringLiteral("Documents"), QStringLiteral("Documents/keep.txt"),
                              QStringLiteral("Library"), QStringLiteral("Library/Caches"),
                              QStringLiteral("Library/tmp")}));
        // Apps not in the list keep their caches.
        QVERIFY(QFile::exists(
            phone.dir().filePath(QStringLiteral("containers/com.example.maps/Library/Caches/tiles.db"))));
        phone.remove();
    }

    void cancelStopsBeforeTheNextEntry()
    {
        SimDeviceFolder phone(m_sim.root.path(), QStringLiteral("cancel"));
        const QDir app = phone.addApp(QStringLiteral("com.example.big"), QStringLiteral("Big"));
        for (int i = 0; i < 200; ++i)
            SimDeviceFolder::writeFile(
                app.filePath(QStringLiteral("Library/Caches/d/f%1").arg(i, 3, 10, QLatin1Char('0'))), "x");
        phone.setSwitch(QStringLiteral("ReplyDelayMs"), 2);
        const IOSDevice device = m_sim.attach(phone);
        // Cancel once fifty files have been reported deleted.
        const Result r = run(device, {{QStringLiteral("com.example.big"), QStringLiteral("Big")}}, false, 52);
        QVERIFY(!r.ok);
        QVERIFY(r.boxes.isEmpty());
        const int left =
            int(QDir(app.filePath(QStringLiteral("Library/Caches/d"))).entryList(QDir::Files).size());
        QVERIFY2(left > 0 && left < 200, qPrintable(QString::number(left)));
        // Nothing more goes after the cancel.
        QTest::qWait(300);
        QCOMPARE(int(QDir(app.filePath(QStringLiteral("Library/Caches/d"))).entryList(QDir::Files).size()),
                 left);
        phone.remove();
    }

    void connectionLostDuringAScanSaysSo()
    {
        SimDeviceFolder phone(m_sim.root.path(), QStringLiteral("cut"));
        const QDir app = phone.addApp(QStringLiteral("com.example.big"), QStringLiteral("Big"));
        for (int i = 0; i < 200; ++i)
            SimDeviceFolder::writeFile(
                app.filePath(QStringLiteral("Library/Caches/d/f%1").arg(i, 3, 10, QLatin1Char('0'))), "x");
        // The device stops answering part-way through the listing, as a pulled cable does.
        phone.setSwitch(QStringLiteral("ReplyStopsAfter"), 6000);
        const IOSDevice device = m_sim.attach(phone);
        const Result r = run(device, {{QStringLiteral("com.example.big"), QStringLiteral("Big")}}, true);
        QVERIFY(!r.ok);
        QCOMPARE(r.boxes.size(), 1);
        QVERIFY2(
            r.boxes.at(0).contains(QStringLiteral("connection to the device was lost while reading Big")),
            qPrintable(r.boxes.at(0)));
        phone.remove();
    }

    // Current iOS opens only developer-signed apps' containers: a refused one is skipped and
    // named, the others are measured or cleaned, and nothing says done on the worker's own.
    void refusedContainersAreSkipped()
    {
        SimDeviceFolder phone(m_sim.root.path(), QStringLiteral("refused"));
        fill(phone);
        phone.setSwitch(QStringLiteral("RefusedContainers"), QStringList{QStringLiteral("com.example.maps")});
        const IOSDevice device = m_sim.attach(phone);
        Result r = run(device, appsOf(), true);
        QVERIFY(r.ok);
        QCOMPARE(r.refused, QStringList{QStringLiteral("com.example.maps")});
        QVERIFY(!r.sizes.contains(QStringLiteral("com.example.maps")));
        QCOMPARE(r.total, qint64(1234));

        r = run(device, appsOf(), false);
        QVERIFY(r.ok);
        QVERIFY2(r.boxes.isEmpty(), qPrintable(r.boxes.join(QLatin1Char('\n'))));
        QCOMPARE(r.refused, QStringList{QStringLiteral("com.example.maps")});
        QVERIFY(!QFile::exists(
            phone.dir().filePath(QStringLiteral("containers/com.example.mail/Library/Caches/a.db"))));
        QVERIFY(QFile::exists(
            phone.dir().filePath(QStringLiteral("containers/com.example.maps/Library/Caches/tiles.db"))));
        phone.remove();
    }
};

QTEST_GUILESS_MAIN(TestAppCacheCleaner)
#include "TestAppCacheCleaner.moc"
