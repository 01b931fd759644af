#include "WindowFixture.h"

#include "AppFolders.h"
#include "BoxAnswerer.h"
#include "FrameworkLoader.h"
#include "Translation.h"

#include <QApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

QString WindowFixture::prepare(const QString& simFramework)
{
    QStandardPaths::setTestModeEnabled(true);
    if (!installTranslation())
        return QStringLiteral("no translation");
    if (!simFramework.isEmpty()) {
        qputenv("SPACEWELL_FRAMEWORK_DIR", simFramework.toUtf8());
        qputenv("SPACEWELL_SIM_ROOT", simRoot.path().toUtf8());
    }
    QString error;
    if (!load_apple_framework(error))
        return error;
    QFile memory(appDataDir().filePath(QStringLiteral("__vantelmoor_iosbk_temp.path")));
    if (!memory.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("cannot write %1").arg(memory.fileName());
    memory.write(backupRoot.path().toUtf8());
    return QString();
}

bool WindowFixture::openWindow(int hintDelayMs)
{
    MainWindow::connectHintDelayMs = hintDelayMs;
    window = std::make_unique<MainWindow>();
    window->show();
    return QTest::qWaitForWindowExposed(window.get());
}

void WindowFixture::press(const char* button) const
{
    QTest::mousePress(child<QPushButton>(button), Qt::LeftButton);
}

QDir WindowFixture::backupOf(const SimDeviceFolder& phone) const
{
    return QDir(backupRoot.filePath(QStringLiteral("__vantelmoor_iosbk_temp/") + phone.udid()));
}

std::unique_ptr<SimDeviceFolder>
WindowFixture::connectPhone(const QString& name, const SimPhoneContent& content,
                            const std::function<void(SimDeviceFolder&)>& tune, int waitMs)
{
    QTemporaryDir staging;
    staging.setAutoRemove(false);
    SimDeviceFolder built(staging.path(), name);
    buildSimPhone(built, content);
    if (tune)
        tune(built);
    const int before = devices()->count();
    QDir().rename(built.path(), simRoot.filePath(name));
    auto phone = std::make_unique<SimDeviceFolder>(simRoot.path(), name, built.udid());
    if (tune)
        tune(*phone);
    BoxAnswerer ok;
    if (!QTest::qWaitFor([&] { return devices()->count() > before && !QApplication::activeModalWidget(); },
                         waitMs))
        return nullptr;
    QTest::qWait(50);
    return phone;
}

bool WindowFixture::removePhones(int waitMs)
{
    for (const QString& name : QDir(simRoot.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        QDir(simRoot.filePath(name)).removeRecursively();
    return QTest::qWaitFor([&] { return devices()->count() == 0; }, waitMs);
}

void WindowFixture::setIdentity(SimDeviceFolder& phone, const QString& version, const QString& type)
{
    phone.setValues(QString(), {{QStringLiteral("UniqueDeviceID"), phone.udid()},
                                {QStringLiteral("DeviceName"), QFileInfo(phone.path()).fileName()},
                                {QStringLiteral("ProductVersion"), version},
                                {QStringLiteral("ProductType"), type}});
}
