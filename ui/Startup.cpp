#include "Startup.h"

#include "AppFolders.h"
#include "FrameworkLoader.h"
#include "Log.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "Product.h"
#include "Translation.h"

#include <QApplication>

namespace {
// The Debian packages of the libraries the real-device framework needs.
QString debianPackageOf(const QString& library)
{
    static const QList<QPair<QString, QString>> packages = {
        {QStringLiteral("libimobiledevice-1.0.so.6"), QStringLiteral("libimobiledevice6")},
        {QStringLiteral("libusbmuxd-2.0.so.6"), QStringLiteral("libusbmuxd6")},
        {QStringLiteral("libplist-2.0.so.3"), QStringLiteral("libplist3")},
        {QStringLiteral("libssl.so.3"), QStringLiteral("libssl3")},
        {QStringLiteral("libcrypto.so.3"), QStringLiteral("libssl3")}};
    for (const auto& entry : packages) {
        if (entry.first == library)
            return entry.second;
    }
    return QString();
}
} // namespace

QString frameworkMissingText()
{
    QString text =
        QCoreApplication::translate("QObject", "IDS_NONE_INSTALL_ITUNES").arg(Product::vendorBaseUrl());
    const QString library = framework_missing_library();
    if (library.isEmpty())
        return text;
    text += QStringLiteral("<br/><br/>Missing library: %1").arg(library.toHtmlEscaped());
    const QString package = debianPackageOf(library);
    if (!package.isEmpty())
        text += QStringLiteral(" (install the Debian package %1)").arg(package);
    return text + QLatin1Char('.');
}

void warnIfFrameworkMissing()
{
    if (apple_framework_loaded())
        return;
    showWarningBox(frameworkMissingText());
}

int runSpacewell(QApplication& app)
{
    installTranslation();

    installLogHandler(appDataDir().filePath(QStringLiteral("qlogs")), 10);

    QString frameworkError;
    if (!load_apple_framework(frameworkError))
        qWarning("%s", qUtf8Printable(frameworkError));

    MainWindow window;
    window.show();
    warnIfFrameworkMissing();
    return app.exec();
}
