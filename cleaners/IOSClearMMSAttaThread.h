#pragma once

#include "BackupCleaner.h"

#include <QSet>

// Drops the records of message attachments that no message refers to any more.
class IOSClearMMSAttaThread : public BackupCleaner
{
    Q_OBJECT
public:
    using BackupCleaner::BackupCleaner;

protected:
    QString statusText() const override;
    QString missingManifestMessage() const override;
    Outcome work() override;

private:
    void addAttachmentFolder(QSet<QString>& referenced, const QString& fileName);
};
