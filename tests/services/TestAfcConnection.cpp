#include "AfcConnection.h"
#include "ErrorText.h"
#include "SimSession.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

// AFC over the simulated device's house arrest and media services.
class TestAfcConnection : public QObject
{
    Q_OBJECT

    SimSession m_sim;
    std::unique_ptr<SimDeviceFolder> m_phone;
    IOSDevice m_device;
    QDir m_container;

private slots:
    void initTestCase()
    {
        QVERIFY(m_sim.start());
        m_phone = std::make_unique<SimDeviceFolder>(m_sim.root.path(), QStringLiteral("afc"));
        m_container = m_phone->addApp(QStringLiteral("com.example.notes"), QStringLiteral("Notes"));
        m_phone->addApp(QStringLiteral("com.example.store"), QStringLiteral("Store App"));
        m_phone->setSwitch(QStringLiteral("RefusedContainers"),
                           QStringList{QStringLiteral("com.example.store")});
        SimDeviceFolder::writeFile(m_container.filePath(QStringLiteral("Library/Caches/a.db")),
                                   QByteArray(300, 'a'));
        QDir().mkpath(m_container.filePath(QStringLiteral("Library/Caches/empty")));
        QDir().mkpath(m_container.filePath(QStringLiteral("Library/tmp")));
        SimDeviceFolder::writeFile(m_container.filePath(QStringLiteral("iTunesArtwork")),
                                   QByteArray(700000, 'i'));
        QFile::link(m_container.filePath(QStringLiteral("Library/Caches/a.db")),
                    m_container.filePath(QStringLiteral("Library/Caches/link")));
        SimDeviceFolder::writeFile(m_phone->dir().filePath(QStringLiteral("secret.txt")), "outside");
        QFile::link(m_phone->dir().filePath(QStringLiteral("secret.txt")),
                    m_container.filePath(QStringLiteral("Library/escape")));
        m_device = m_sim.attach(*m_phone);
        QVERIFY(m_device.device);
    }

    void listings()
    {
        AfcConnection afc(m_device.device);
        afc.open(QStringLiteral("com.example.notes"));
        const QList<AfcFileInfo> caches = afc.listDirectory(QStringLiteral("/Library/Caches"));
        QStringList names;
        for (const AfcFileInfo& info : caches)
            names << info.path + (info.isDir() ? QStringLiteral("/") : QString());
        names.sort();
        // The link is neither a file nor a folder and is left out.
        QCOMPARE(names, (QStringList{QStringLiteral("/Library/Caches/a.db"),
                                     QStringLiteral("/Library/Caches/empty/")}));
        for (const AfcFileInfo& info : caches) {
            if (info.isFile()) {
                QCOMPARE(info.size, 300);
                QVERIFY(info.modified.isValid());
            }
        }
        QVERIFY(afc.listDirectory(QStringLiteral("/Library/tmp")).isEmpty());
        QVERIFY(afc.listDirectory(QStringLiteral("/Library/Missing")).isEmpty());
        QCOMPARE(afc.listDirectory(QStringLiteral("/")).size(), 2); // Library and iTunesArtwork
    }

    void readingFiles()
    {
        AfcConnection afc(m_device.device);
        afc.open(QStringLiteral("com.example.notes"));
        AfcFile missing;
        QVERIFY(!afc.openForRead(QStringLiteral("/NoSuchFile"), missing));
        QVERIFY(!missing.isOpen());
        AfcFile icon;
        QVERIFY(afc.openForRead(QStringLiteral("/iTunesArtwork"), icon));
        QByteArray buffer(262144, '\0');
        qint64 total = 0;
        QList<qint64> reads;
        for (;;) {
            const qint64 n = icon.read(buffer.data(), buffer.size());
            reads << n;
            if (n < 1)
                break;
            total += n;
        }
        QCOMPARE(total, 700000);
        QCOMPARE(reads, (QList<qint64>{262144, 262144, 175712, 0}));
        icon.close();
        QCOMPARE(icon.read(buffer.data(), 10), -1); // closed handle: the device answers with an error
    }

    void theContainerConfinesEveryPath()
    {
        AfcConnection afc(m_device.device);
        afc.open(QStringLiteral("com.example.notes"));
        AfcFile f;
        QVERIFY(!afc.openForRead(QStringLiteral("/../../secret.txt"), f));
        QVERIFY(!afc.openForRead(QStringLiteral("/Library/escape"), f));
        QVERIFY(afc.fileInfo(QStringLiteral("/../secret.txt")).type.isEmpty());
        QVERIFY(!afc.removePath(QStringLiteral("/../secret.txt")));
        QVERIFY(!afc.removePath(QStringLiteral("/")));
        QVERIFY(QFile::exists(m_phone->dir().filePath(QStringLiteral("secret.txt"))));
        // Removing the link removes the link, not what it points to.
        QVERIFY(afc.removePath(QStringLiteral("/Library/escape")));
        QVERIFY(QFile::exists(m_phone->dir().filePath(QStringLiteral("secret.txt"))));
    }

    void refusedContainer()
    {
        AfcConnection afc(m_device.device);
        const QString error = errorOf([&afc] { afc.open(QStringLiteral("com.example.store")); });
        QVERIFY2(error.startsWith(QStringLiteral("can not find com.example.store.<br/>&lt;?xml")),
                 qPrintable(error));
        QVERIFY(error.contains(QStringLiteral("InstallationLookupFailed")));
        QVERIFY(!error.contains(QLatin1Char('<'), Qt::CaseSensitive) ||
                error.indexOf(QLatin1Char('<')) == error.indexOf(QStringLiteral("<br/>")));
        QVERIFY(!afc.isOpen());
    }

    void mediaFolder()
    {
        SimDeviceFolder::writeFile(
            m_phone->dir().filePath(QStringLiteral("media/DCIM/100APPLE/IMG_0001.JPG")), "jpg");
        AfcConnection afc(m_device.device);
        afc.open(QString());
        QCOMPARE(afc.listDirectory(QStringLiteral("/DCIM/100APPLE")).value(0).path,
                 QStringLiteral("/DCIM/100APPLE/IMG_0001.JPG"));
    }

    // A program started with standard input closed gets descriptor 0 for its first socket; that
    // socket is open like any other and is closed with the connection.
    void descriptorZeroIsASocketLikeAnyOther()
    {
        const int savedInput = ::dup(0);
        ::close(0);
        {
            AfcConnection afc(m_device.device);
            afc.open(QStringLiteral("com.example.notes"));
            QCOMPARE(afc.socket(), 0);
            QVERIFY(afc.isOpen());
            QCOMPARE(afc.fileInfo(QStringLiteral("/Library/Caches/a.db")).size, 300);
            afc.close();
            QVERIFY(!afc.isOpen());
            QCOMPARE(::fcntl(0, F_GETFD), -1); // closed, not leaked
        }
        ::dup2(savedInput, 0);
        ::close(savedInput);
    }
};

QTEST_GUILESS_MAIN(TestAfcConnection)
#include "TestAfcConnection.moc"
