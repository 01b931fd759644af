// Writes the demo devices: simulated iPhones with realistic content, for the program's run command.
// One runs iOS 9 (its backups carry Manifest.mbdb), one iOS 14 (Manifest.db).
//   spacewell-demo-device <folder>   creates the devices in <folder> (existing ones are kept)
#include "SimDeviceFolder.h"
#include "SimPhoneBuilder.h"

#include <QGuiApplication>

#include <cstdio>

namespace {
struct DemoPhone
{
    const char* name;
    const char* udid;
    const char* version;
    const char* type;
    qint64 total;
    qint64 available;
};

bool writeDevice(const QString& root, const DemoPhone& demo)
{
    const QString name = QLatin1String(demo.name);
    if (QFileInfo::exists(QDir(root).filePath(name + QStringLiteral("/values.plist"))))
        return true;
    // Built aside and moved in whole, so the framework never sees half a device.
    const QString staging = QDir(root).filePath(QStringLiteral(".staging"));
    QDir(staging).removeRecursively();
    SimDeviceFolder phone(staging, name, QLatin1String(demo.udid));
    phone.setValues(QString(), {{QStringLiteral("UniqueDeviceID"), phone.udid()},
                                {QStringLiteral("DeviceName"), name},
                                {QStringLiteral("MobileSubscriberCountryCode"), QStringLiteral("310")},
                                {QStringLiteral("ProductVersion"), QLatin1String(demo.version)},
                                {QStringLiteral("ProductType"), QLatin1String(demo.type)}});
    phone.setValues(QStringLiteral("com.apple.disk_usage"),
                    {{QStringLiteral("TotalDataCapacity"), demo.total},
                     {QStringLiteral("AmountDataAvailable"), demo.available}});
    phone.setSwitch(QStringLiteral("BackupSeconds"), 3);
    SimPhoneContent content;
    content.current = QString::fromLatin1(demo.version).section(QLatin1Char('.'), 0, 0).toInt() >= 10;
    buildSimPhone(phone, content);
    // Freeing files frees space on the demo phones.
    followStoredFiles(phone);
    QDir().mkpath(root);
    const bool moved = QDir().rename(phone.path(), QDir(root).filePath(name));
    QDir(staging).removeRecursively();
    return moved;
}
} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const DemoPhone phones[] = {
        {"Demo iPhone", "00008101-000A1B2C3D4E5F60", "9.3.5", "iPhone8,1", 64000000000, 21500000000},
        // Full: less free space than its backup takes, as the phones of people who need this are.
        // A restore of the whole backup is refused (ErrorCode 105); one of what changed is not.
        {"Demo iPhone 12", "00008101-000B2C3D4E5F6071", "14.8", "iPhone13,2", 128000000000, 40000000},
    };
    for (const DemoPhone& phone : phones) {
        if (!writeDevice(root, phone)) {
            std::fprintf(stderr, "cannot write the demo device %s into %s\n", phone.name, qPrintable(root));
            return 1;
        }
    }
    std::printf("demo devices in %s\n", qPrintable(root));
    return 0;
}
