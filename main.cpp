#include "AppFolders.h"
#include "Log.h"
#include "MainWindow.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    QTranslator translator;
    if (translator.load(QStringLiteral(":/en.qm")))
        QApplication::installTranslator(&translator);

    installLogHandler(appDataDir().filePath(QStringLiteral("qlogs")), 10);

    MainWindow window;
    window.show();
    return QApplication::exec();
}
