// Writes the demo device: a simulated iPhone with realistic content, for the program's run command.
//   spacewell-demo-device <folder>   creates <folder>/<device> (an existing device is kept)
#include "SimDeviceFolder.h"
#include "SimPhoneBuilder.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString name = QStringLiteral("Demo iPhone");
    if (QFileInfo::exists(QDir(root).filePath(name + QStringLiteral("/values.plist")))) {
        std::printf("demo device already in %s\n", qPrintable(root));
        return 0;
    }
    // Built aside and moved in whole, so the framework never sees half a device.
    const QString staging = QDir(root).filePath(QStringLiteral(".staging"));
    QDir(staging).removeRecursively();
    SimDeviceFolder phone(staging, name, QStringLiteral("00008101-000A1B2C3D4E5F60"));
    phone.setValues(QString(), {{QStringLiteral("UniqueDeviceID"), phone.udid()},
                                {QStringLiteral("DeviceName"), name},
                                {QStringLiteral("MobileSubscriberCountryCode"), QStringLiteral("310")},
                                {QStringLiteral("ProductVersion"), QStringLiteral("9.3.5")},
                                {QStringLiteral("ProductType"), QStringLiteral("iPhone8,1")}});
    phone.setValues(QStringLiteral("com.apple.disk_usage"),
                    {{QStringLiteral("TotalDataCapacity"), qint64(64000000000)},
                     {QStringLiteral("AmountDataAvailable"), qint64(21500000000)}});
    phone.setSwitch(QStringLiteral("BackupSeconds"), 3);
    SimPhoneContent content;
    buildSimPhone(phone, content);
    QDir().mkpath(root);
    if (!QDir().rename(phone.path(), QDir(root).filePath(name))) {
        std::fprintf(stderr, "cannot move the demo device into %s\n", qPrintable(root));
        return 1;
    }
    QDir(staging).removeRecursively();
    std::printf("demo device written to %s\n", qPrintable(QDir(root).filePath(name)));
    return 0;
}
