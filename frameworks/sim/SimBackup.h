#pragma once

#include "BackupKeyBag.h"
#include "BackupManifest.h"
#include "SimDevice.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <optional>

// Backing a simulated phone up and restoring it, as the phone itself does: shared by the
// simulated backup tool and the emulated phone's backup service.

// Whether the phone leaves a file out of every backup: caches and temporary files (Library/Caches/
// and tmp/ of every domain) never go into one, on any iOS version (Apple's guidance on what apps
// keep out of backups, since iOS 5: "Library/Caches" and "tmp" are not backed up). From iOS 13 an
// unencrypted backup also leaves out what Apple's page on encrypted backups (HT203790, "About
// encrypted backups on your iPhone, iPad, or iPod touch") says only encrypted ones hold: website
// history (Safari's History.db), call history (CallHistoryDB), Health data (HealthDomain) and saved
// passwords (KeychainDomain).
bool simNeverBackedUp(const SimDevice& device, const QString& domain, const QString& path);

// Writes a whole backup of the phone into an empty folder: one file per record named by the
// backup file name rule, the manifest of the phone's system version (Manifest.mbdb up to iOS 9,
// Manifest.db with two-character sub-folders from iOS 10), Info.plist, Manifest.plist and a
// Status.plist that says "finished". Empty on success, else what went wrong.
QString writeSimBackup(const SimDevice& device, const QString& udid, const QDir& folder);

// The restore options a phone is given (mobilebackup2's "Restore" request, as idevicebackup2's
// tools/idevicebackup2.c sets them).
struct SimRestoreOptions
{
    // "RemoveItemsNotRestored" (idevicebackup2 --remove): a migration, not a clean-up. The phone
    // removes every file the backup does not list and then downloads every app again from the
    // store, their containers empty until then (pymobiledevice3 issue 1053, iOS 16.7).
    bool removeNotRestored = false;
    // "RestoreSystemFiles" (--system): without it nothing outside the apps' own domains, HomeDomain
    // included, is restored (libimobiledevice issue 786, pymobiledevice3 issue 1053).
    bool systemFiles = false;
    // The phone keeps what it took in aside and puts it into place only when it restarts
    // (libimobiledevice issue 786): a restore without "RestoreShouldReboot" changes nothing until
    // the phone is restarted (simRestartPhone). Off for the simulated backup tool, which has no
    // restart.
    bool atRestart = false;
    // "Password": what opens an encrypted backup (pymobiledevice3 services/mobilebackup2.py restore()).
    QByteArray password;
};

// The phone's backup password (switch "BackupPassword"; a real phone keeps it in its keychain),
// empty when it has none.
QByteArray simBackupPassword(const SimDevice& device);

// A backup folder as the phone reads it in a restore: an encrypted one's Manifest.db (decrypted
// with "ManifestKey") and files (each with the key its record keeps) open only with the backup's
// password.
class SimBackupReader
{
public:
    // Empty on success, else what went wrong.
    QString open(const QDir& backupDir, const QByteArray& password);
    // The backup is encrypted and the password does not open its key bag.
    bool wrongPassword() const { return m_wrongPassword; }
    const ManifestMap& records() const { return m_records; }
    BackupManifest::Format format() const { return m_format; }
    QString manifestName() const
    {
        return m_format == BackupManifest::Format::Db ? QStringLiteral("Manifest.db")
                                                      : QStringLiteral("Manifest.mbdb");
    }
    QString filePath(const QString& name) const
    {
        return BackupManifest::backupFilePath(m_dir, name, m_format);
    }
    // A record's file as the phone had it; false when it is missing or does not decrypt.
    bool content(const QString& name, QByteArray& bytes) const;

private:
    QDir m_dir;
    BackupManifest::Format m_format = BackupManifest::Format::Mbdb;
    ManifestMap m_records;
    std::optional<BackupKeyBag> m_bag;
    bool m_wrongPassword = false;
};

// Puts a backup folder on the phone. In update mode (no removal) the phone keeps every file the
// backup does not list and overwrites those it lists. The phone's files change in one step at the
// end, so a run that stops half-way leaves them as they were. `stop` is asked between files.
// Empty on success, else what went wrong.
QString restoreSimBackup(const SimDevice& device, const QDir& backupDir, const SimRestoreOptions& options,
                         const std::function<bool()>& stop = {});

// The phone restarts: a restore waiting for it (SimRestoreOptions::atRestart) goes into place.
// False when one was waiting and could not be put in place.
bool simRestartPhone(const SimDevice& device);

// The free bytes a phone checks a restore against: it refuses one larger than that with
// "ErrorCode 105: Insufficient free disk space on device to restore (free < size)"
// (libimobiledevice issue 460). "AmountDataAvailable" of "com.apple.disk_usage", or the switch
// "DeviceFreeBytes" where a test sets it; -1 when neither says.
long long simRestoreRoom(const SimDevice& device);

// Why the phone refuses to start a backup, as it says it ({0, ""} when it does not):
//   - from iOS 16.1 it asks for the passcode on the phone first, and says so to observers of
//     "com.apple.LocalAuthentication.ui.presented" (then "...ui.dismissed"; tools/idevicebackup2.c).
//     Switch "PasscodePromptSeconds": entered after that long. Switch "PasscodeNotEntered": it
//     answers after a while (switch "PasscodeWaitSeconds", about 3 minutes on a real phone)
//     "Device locked", code 208 (libimobiledevice issues 1380, 1601, 1692). While the prompt
//     shows, the phone's switch "PasscodePromptShown" is on (the notification proxy reads it);
//     `prompt` hears it shown and closed;
//   - a phone still being set up (switch "SetupNotFinished") answers code 212.
struct SimRefusal
{
    int code = 0;
    QString text; // "... (MBErrorDomain/N)"
};
SimRefusal simBackupRefusal(const SimDevice& device, const std::function<void(bool shown)>& prompt = {});

// The phone's answer to mobilebackup2's "ChangePassword" (tools/idevicebackup2.c, "encryption on",
// "encryption off", "changepw"): "NewPassword" alone turns backup encryption on, "OldPassword" alone
// turns it off, both change the password. From iOS 13 the phone asks for its passcode first
// (idevicebackup2.c: "Please confirm enabling the backup encryption by entering the passcode on the
// device"): switch "PasscodePromptSeconds", the switch "PasscodePromptShown" on meanwhile. A wrong
// old password is refused as a restore's is (code 207). The phone's "WillEncrypt" and backup
// password follow; a new password makes a new key bag.
SimRefusal simChangePassword(const SimDevice& device, const QByteArray& oldPassword,
                             const QByteArray& newPassword,
                             const std::function<void(bool shown)>& prompt = {});

// The domains restored without "RestoreSystemFiles": those of apps.
bool simAppDomain(const QString& domain);
