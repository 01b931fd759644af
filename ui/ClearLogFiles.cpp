#include "ClearLogFiles.h"

#include "AppFolders.h"
#include "FileUtils.h"
#include "MessageBoxes.h"

void clearLogFiles()
{
    removeDirectory(appDataDir().filePath(QStringLiteral("ios_cache")));
    removeDirectory(appDataDir().filePath(QStringLiteral("itunes_cache")));
    showInfoBox(QStringLiteral("Successfully cleared log files."));
}
