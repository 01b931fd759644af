#include "ClearLogFiles.h"

#include "AppFolders.h"
#include "FileUtils.h"
#include "MessageBoxes.h"
#include "backup2tool.h"

void clearLogFiles()
{
    removeDirectory(appDataDir().filePath(QStringLiteral("ios_cache")));
    removeDirectory(appDataDir().filePath(QStringLiteral("itunes_cache")));
    removeTempBackupFolder();
    showInfoBox(QStringLiteral("Successfully cleared log files."));
}
