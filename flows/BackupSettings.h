#pragma once

#include "IOSDevice.h"

#include <QString>

// The phone's backup settings ("com.apple.mobile.backup") as they bear on a backup and restore.
struct BackupSettings
{
    enum class Verdict
    {
        Allowed,
        CloudBackupOn,
        // The phone could not be asked; `text` is why.
        Unreadable
    };

    Verdict verdict = Verdict::Allowed;
    // The warning or error for the user (rich text), and the picture of a warning.
    QString text;
    QString picture;
    // "WillEncrypt": the phone's backups are encrypted with a backup password.
    bool encrypted = false;

    static BackupSettings check(const IOSDevice& device);
};
