#include "SimPhoneBuilder.h"

#include "FixtureDatabases.h"

#include <QBuffer>
#include <QColor>
#include <QDirIterator>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

namespace {

// Content that does not compress to nothing, of a given size.
QByteArray bytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray b((size + 3) / 4 * 4, Qt::Uninitialized);
    generator.fillRange(reinterpret_cast<quint32*>(b.data()), b.size() / 4);
    b.truncate(size);
    return b;
}

QByteArray iconPng(const QColor& color, QChar letter)
{
    QImage image(120, 120, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(color);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(4, 4, 112, 112), 26, 26);
    // Text needs fonts, which only a GUI application has; a test without one gets plain icons.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        p.setPen(Qt::white);
        QFont font = p.font();
        font.setPixelSize(64);
        font.setBold(true);
        p.setFont(font);
        p.drawText(image.rect(), Qt::AlignCenter, QString(letter));
    }
    p.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

struct App
{
    const char* identifier;
    const char* name;
    QColor color;
};

const App apps[] = {
    {"com.facebook.Facebook", "Facebook", QColor(0x3b, 0x59, 0x98)},
    {"com.burbn.instagram", "Instagram", QColor(0xc1, 0x35, 0x84)},
    {"net.whatsapp.WhatsApp", "WhatsApp", QColor(0x25, 0xd3, 0x66)},
    {"com.spotify.client", "Spotify", QColor(0x1d, 0xb9, 0x54)},
    {"com.google.Maps", "Google Maps", QColor(0x34, 0xa8, 0x53)},
    {"com.atebits.Tweetie2", "Twitter", QColor(0x1d, 0xa1, 0xf2)},
    {"com.netflix.Netflix", "Netflix", QColor(0xe5, 0x09, 0x14)},
    {"com.skype.skype", "Skype", QColor(0x00, 0xaf, 0xf0)},
    {"com.dropbox.Dropbox", "Dropbox", QColor(0x00, 0x61, 0xfe)},
    {"com.evernote.iPhone.Evernote", "Evernote", QColor(0x2d, 0xbe, 0x60)},
    {"com.amazon.Amazon", "Amazon Shopping", QColor(0xff, 0x99, 0x00)},
    {"com.yelp.yelpiphone", "Yelp", QColor(0xd3, 0x23, 0x23)},
    {"com.vantelmoor.notes", "Notes Plus", QColor(0x8e, 0x44, 0xad)},
    {"com.vantelmoor.weather", "Weather Now", QColor(0x29, 0x80, 0xb9)},
};

} // namespace

QString SimPhonePaths::file(const SimDeviceFolder& phone, const QString& domain, const QString& path)
{
    return phone.dir().filePath(QStringLiteral("files/") + domain + QLatin1Char('/') + path);
}

void followStoredFiles(SimDeviceFolder& phone)
{
    qint64 stored = 0;
    for (const char* part : {"files", "containers", "media"}) {
        QDirIterator it(phone.dir().filePath(QLatin1String(part)), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            if (!it.fileInfo().isSymLink())
                stored += it.fileInfo().size();
        }
    }
    const QString usage = QStringLiteral("com.apple.disk_usage");
    const qint64 total = phone.value(usage, QStringLiteral("TotalDataCapacity")).toLongLong();
    const qint64 available = phone.value(usage, QStringLiteral("AmountDataAvailable")).toLongLong();
    phone.setSwitch(QStringLiteral("OtherUsedBytes"), qMax<qint64>(0, total - available - stored));
}

QString SimPhonePaths::safariHistory(const SimDeviceFolder& phone, bool current)
{
    return file(phone,
                current ? QStringLiteral("HomeDomain") : QStringLiteral("AppDomain-com.apple.mobilesafari"),
                QStringLiteral("Library/Safari/History.db"));
}

QStringList SimPhonePaths::appIdentifiers(int count)
{
    QStringList ids;
    for (int i = 0; i < count && i < int(std::size(apps)); ++i)
        ids << QLatin1String(apps[i].identifier);
    return ids;
}

void buildSimPhone(SimDeviceFolder& phone, const SimPhoneContent& c)
{
    const int k = 1024 * c.scale;
    quint32 seed = 1;
    auto put = [&](const QString& domain, const QString& path, int size) {
        SimDeviceFolder::writeFile(SimPhonePaths::file(phone, domain, path), bytes(size, seed++));
    };
    const QString home = QStringLiteral("HomeDomain");
    const QString media = QStringLiteral("MediaDomain");

    // System caches and temp files.
    const char* services[] = {"com.apple.mobilesafari",    "com.apple.Maps",
                              "com.apple.itunesstored",    "com.apple.AppStore",
                              "com.apple.mobileslideshow", "com.apple.parsecd"};
    for (int i = 0; i < c.cacheFiles; ++i)
        put(home, QStringLiteral("Library/Caches/%1/Cache-%2.db").arg(QLatin1String(services[i % 6])).arg(i),
            (20 + (i * 37) % 400) * k);
    put(QStringLiteral("RootDomain"), QStringLiteral("Library/Caches/locationd/cache_encryptedA.db"),
        900 * k);
    put(QStringLiteral("RootDomain"), QStringLiteral("Library/Caches/com.apple.wifid/cache.plist"), 12 * k);
    put(home, QStringLiteral("Library/Caches/Snapshots/com.apple.mobilemail/main.ktx"), 350 * k);
    put(home, QStringLiteral("tmp/com.apple.mobilesafari/download-1.part"), 240 * k);
    put(home, QStringLiteral("tmp/MediaCache/stream-7.ts"), 480 * k);
    for (const char* pref : {"com.apple.springboard.plist", "com.apple.Preferences.plist",
                             ".GlobalPreferences.plist", "com.apple.mobilephone.plist"})
        put(home, QStringLiteral("Library/Preferences/") + QLatin1String(pref), 3 * k);
    put(home, QStringLiteral("Library/AddressBook/AddressBook.sqlitedb"), 600 * k);
    put(home, QStringLiteral("Library/Notes/notes.sqlite"), 200 * k);

    // Messages with their attachments; the orphans are left from deleted conversations.
    QList<FixtureDatabases::Attachment> linked;
    for (int i = 0; i < c.attachments; ++i) {
        const QString folder = QStringLiteral("Library/SMS/Attachments/%1/%2/GUID-%3")
                                   .arg(i * 7 % 256, 2, 16, QLatin1Char('0'))
                                   .arg(i % 16, 2, 10, QLatin1Char('0'))
                                   .arg(1000 + i);
        const QString file = folder + QStringLiteral("/IMG_%1.jpeg").arg(4000 + i);
        put(media, file, (150 + i * 13 % 900) * k);
        linked.append({QStringLiteral("~/") + file, true});
    }
    for (int i = 0; i < c.orphanedAttachments; ++i)
        put(media,
            QStringLiteral("Library/SMS/Attachments/%1/%2/GUID-OLD-%3/IMG_%4.MOV")
                .arg(200 + i, 2, 16, QLatin1Char('0'))
                .arg(i % 16, 2, 10, QLatin1Char('0'))
                .arg(i)
                .arg(9000 + i),
            (400 + i * 71 % 1500) * k);
    put(media, QStringLiteral("Library/SMS/Parts/2c/03/35-2.jpg"), 220 * k);
    put(home, QStringLiteral("Library/SMS/Drafts/+15550100/composition.plist"), 2 * k);
    const QString sms = SimPhonePaths::file(phone, home, QStringLiteral("Library/SMS/sms.db"));
    QDir().mkpath(QFileInfo(sms).absolutePath());
    if (c.current) {
        FixtureDatabases::createCurrentMessages(sms, linked);
        // A conversation Messages had not yet written into the main file when the phone was
        // backed up: sms.db-wal and sms.db-shm lie beside the database.
        const QString file = QStringLiteral("Library/SMS/Attachments/7e/14/GUID-RECENT/IMG_5000.HEIC");
        put(media, file, 330 * k);
        FixtureDatabases::addMessageInLog(sms, QStringLiteral("Sent from the beach"),
                                          {QStringLiteral("~/") + file});
    } else {
        FixtureDatabases::createNewerMessages(sms, linked, false);
    }

    // Safari: up to iOS 9 its history lies in its own domain, from iOS 10 on in the home domain.
    const QString safari = QStringLiteral("AppDomain-com.apple.mobilesafari");
    const QString history = SimPhonePaths::safariHistory(phone, c.current);
    QDir().mkpath(QFileInfo(history).absolutePath());
    FixtureDatabases::createSafariHistory(history, 400, c.current);
    FixtureDatabases::exec(history, QStringLiteral("PRAGMA journal_mode=DELETE;"));
    for (int i = 0; i < 15; ++i)
        put(safari, QStringLiteral("Library/Safari/Thumbnails/%1.png").arg(QStringLiteral("TAB-%1").arg(i)),
            60 * k);
    for (int i = 0; i < 6; ++i)
        put(safari,
            QStringLiteral("Library/WebKit/WebsiteData/LocalStorage/https_site%1.example.com_0.localstorage")
                .arg(i),
            90 * k);
    put(safari, QStringLiteral("Library/Safari/Bookmarks.db"), 120 * k);

    // Call history: phones before iOS 10 still keep the older database beside the Core Data store.
    if (!c.current) {
        const QString calls = SimPhonePaths::file(phone, QStringLiteral("WirelessDomain"),
                                                  QStringLiteral("Library/CallHistory/call_history.db"));
        QDir().mkpath(QFileInfo(calls).absolutePath());
        FixtureDatabases::createCallHistory(calls, 300);
    }
    const QString store =
        SimPhonePaths::file(phone, home, QStringLiteral("Library/CallHistoryDB/CallHistory.storedata"));
    QDir().mkpath(QFileInfo(store).absolutePath());
    FixtureDatabases::createCallHistoryStore(store, 300);

    // Camera roll.
    for (int i = 0; i < c.photos; ++i)
        put(QStringLiteral("CameraRollDomain"),
            QStringLiteral("Media/DCIM/100APPLE/IMG_%1.JPG").arg(1000 + i), (200 + i * 97 % 600) * k);

    // Apps with icons, caches and temp files.
    for (int i = 0; i < c.appCount && i < int(std::size(apps)); ++i) {
        const App& app = apps[i];
        const QDir container = phone.addApp(QLatin1String(app.identifier), QLatin1String(app.name));
        SimDeviceFolder::writeFile(container.filePath(QStringLiteral("iTunesArtwork")),
                                   iconPng(app.color, QLatin1String(app.name).at(0)));
        const int files = 3 + i % 5;
        for (int f = 0; f < files; ++f)
            SimDeviceFolder::writeFile(
                container.filePath(QStringLiteral("Library/Caches/com.cache/%1.cache").arg(f)),
                bytes((100 + (i * 31 + f * 17) % 1800) * k, seed++));
        SimDeviceFolder::writeFile(
            container.filePath(QStringLiteral("Library/Caches/Images/thumb-%1.png").arg(i)),
            bytes(70 * k, seed++));
        SimDeviceFolder::writeFile(container.filePath(QStringLiteral("Library/tmp/download-%1.part").arg(i)),
                                   bytes((10 + i * 13) * k, seed++));
        SimDeviceFolder::writeFile(container.filePath(QStringLiteral("Documents/userdata.sqlite")),
                                   bytes(40 * k, seed++));
    }
    // Phones list their own apps too, to requests that ask for them.
    if (c.appCount > 0)
        phone.addSystemApp(QStringLiteral("com.apple.mobilesafari"), QStringLiteral("Safari"));
}
