#include "FrameworkLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QMutex>
#include <QRegularExpression>

namespace {
QMutex loaderMutex;
QLibrary* mobileDevice = nullptr;
QString missingLibrary;

// The loader says "Cannot load library <file>: (<library>: cannot open shared object file: ...)".
QString missingLibraryIn(const QString& loaderError)
{
    static const QRegularExpression missing(QStringLiteral("([^\\s:()]+): cannot open shared object file"));
    const QRegularExpressionMatch m = missing.match(loaderError);
    return m.hasMatch() ? QFileInfo(m.captured(1)).fileName() : QString();
}
} // namespace

QString frameworkDir()
{
    const QString fromEnvironment = qEnvironmentVariable("SPACEWELL_FRAMEWORK_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QDir appDir(QCoreApplication::applicationDirPath());
    // The build tree keeps it in frameworks/usbmux; an installed program under its library folder.
    for (const QString& candidate :
         {QStringLiteral("frameworks/usbmux"), QStringLiteral(SPACEWELL_INSTALLED_FRAMEWORK_DIR)}) {
        const QString path = appDir.absoluteFilePath(candidate);
        if (QFileInfo(path).isDir())
            return QDir::cleanPath(path);
    }
    return appDir.absoluteFilePath(QStringLiteral("frameworks/usbmux"));
}

bool load_apple_framework(QString& error)
{
    QMutexLocker lock(&loaderMutex);
    if (mobileDevice && mobileDevice->isLoaded())
        return true;
    delete mobileDevice;
    mobileDevice = new QLibrary(QDir(frameworkDir()).filePath(QStringLiteral("iTunesMobileDevice")));
    missingLibrary.clear();
    if (!mobileDevice->load()) {
        qWarning("%s", qUtf8Printable(mobileDevice->errorString()));
        missingLibrary = missingLibraryIn(mobileDevice->errorString());
        error = QStringLiteral("Failed to load (Mobile Device) framework.");
        return false;
    }
    return true;
}

bool apple_framework_loaded()
{
    QMutexLocker lock(&loaderMutex);
    return mobileDevice && mobileDevice->isLoaded();
}

QString framework_missing_library()
{
    QMutexLocker lock(&loaderMutex);
    return missingLibrary;
}

int mobiledevice_daemon_answers()
{
    auto answers = reinterpret_cast<int (*)()>(mobiledevice_resolve("SpacewellDeviceDaemonAnswers"));
    return answers ? (answers() ? 1 : 0) : -1;
}

void* mobiledevice_resolve(const char* name)
{
    QMutexLocker lock(&loaderMutex);
    if (!mobileDevice || !mobileDevice->isLoaded())
        return nullptr;
    return reinterpret_cast<void*>(mobileDevice->resolve(name));
}

void unload_apple_framework_for_tests()
{
    QMutexLocker lock(&loaderMutex);
    // Framework threads may still run; the library stays mapped and only our handle goes.
    delete mobileDevice;
    mobileDevice = nullptr;
}
