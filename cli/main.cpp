#include "AppFolders.h"
#include "CliCommand.h"
#include "Log.h"
#include "Translation.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    installTranslation();
    // Workers log as in the window; the terminal gets only progress and the result.
    installLogHandler(appDataDir().filePath(QStringLiteral("qlogs")), 10);
    setLogEchoesDebug(false);
    return CliCommand(QCoreApplication::arguments()).run();
}
