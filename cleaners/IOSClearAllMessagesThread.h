#pragma once

#include "BackupCleaner.h"

// Empties the messages database and drops the records of every message attachment, part and draft.
class IOSClearAllMessagesThread : public BackupCleaner
{
    Q_OBJECT
public:
    using BackupCleaner::BackupCleaner;

protected:
    QString statusText() const override;
    QString missingManifestMessage() const override;
    Outcome work() override;
};
