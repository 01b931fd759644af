#pragma once

#include "BackupCleaner.h"

// Empties the call history: the older call database and the Core Data store, whichever exist.
class IOSClearCallsThread : public BackupCleaner
{
    Q_OBJECT
public:
    using BackupCleaner::BackupCleaner;

protected:
    QString statusText() const override;
    QString missingManifestMessage() const override;
    Outcome work() override;
};
