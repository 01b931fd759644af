#pragma once

#include "BackupCleaner.h"

// Empties Safari's history database and drops the records of website storage and thumbnails.
class IOSClearSafariThread : public BackupCleaner
{
    Q_OBJECT
public:
    using BackupCleaner::BackupCleaner;

protected:
    QString statusText() const override;
    QString missingManifestMessage() const override;
    Outcome work() override;
};
