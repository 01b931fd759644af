#pragma once

#include "BackupCleaner.h"

// Drops the records of system cache files (Library/Caches/ of the root and home domains).
class IOSClearSysThread : public BackupCleaner
{
    Q_OBJECT
public:
    using BackupCleaner::BackupCleaner;

protected:
    QString statusText() const override;
    QString missingManifestMessage() const override;
    Outcome work() override;
};
