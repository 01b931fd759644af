#include "Startup.h"

#include "AppFolders.h"
#include "FrameworkLoader.h"
#include "Log.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "Product.h"

#include <QApplication>
#include <QTranslator>

void warnIfFrameworkMissing()
{
    if (apple_framework_loaded())
        return;
    showWarningBox(
        QCoreApplication::translate("QObject", "IDS_NONE_INSTALL_ITUNES").arg(Product::vendorBaseUrl()));
}

int runSpacewell(QApplication& app)
{
    QTranslator translator;
    if (translator.load(QStringLiteral(":/en.qm")))
        QApplication::installTranslator(&translator);

    installLogHandler(appDataDir().filePath(QStringLiteral("qlogs")), 10);

    QString frameworkError;
    if (!load_apple_framework(frameworkError))
        qWarning("%s", qUtf8Printable(frameworkError));

    MainWindow window;
    window.show();
    warnIfFrameworkMissing();
    return app.exec();
}
