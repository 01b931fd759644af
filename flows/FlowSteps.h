#pragma once

#include "FlowResult.h"
#include "IOSDevice.h"

#include <QDir>

#include <memory>

class BackupEncryption;

class QThread;
class StepMonitor;
class StepRunner;

// The steps the flows share, each one worker run by the flow's step runner. A step that does not
// succeed records why in the result, and the flow ends there.
class FlowSteps
{
public:
    explicit FlowSteps(StepRunner& runner) : m_runner(runner) {}
    // The backup password is held only for the flow.
    ~FlowSteps();
    FlowSteps(const FlowSteps&) = delete;
    FlowSteps& operator=(const FlowSteps&) = delete;

    // Said before the backup of a Free Up: a phone with Find My on refuses every restore ("Find
    // My iPhone must be disabled before restoring (MBErrorDomain/211)"), and nothing it tells
    // beforehand says so.
    static QString findMyReminder();
    // Said after the last wrong try of the backup password.
    static QString wrongPasswordText();
    static constexpr int passwordTries = 3;

protected:
    bool step(QThread& worker, StepMonitor& monitor, FlowResult& result);
    // The phone's backup settings allow a backup and restore; otherwise the result says why. A
    // phone whose backups are encrypted is asked for its backup password first, which is checked
    // against its last backup on this computer, when there is one, before anything long runs.
    bool backupAllowed(const IOSDevice& device, FlowResult& result);
    // An encrypted backup folder (a full backup, or a partial one) is opened with the backup
    // password: asked unless given before in this flow, three tries. Nothing to do for a folder
    // that is not encrypted. The keys are then in m_encryption.
    bool unlock(const IOSDevice& device, const QDir& backupDir, FlowResult& result);
    // The backup just made is whole (see BackupCheckThread); otherwise the result says what is not.
    bool checkBackup(const QDir& backupDir, FlowResult& result);
    // On success `folder` is the temporary backup folder it used.
    bool backUp(const IOSDevice& device, QDir& folder, FlowResult& result);
    // Restores the backup of the device in `folder` in update mode: the phone keeps what it does
    // not list.
    bool restore(const IOSDevice& device, const QDir& folder, FlowResult& result);
    // The phone refuses a restore larger than its free space ("ErrorCode 105"): said before it
    // is tried, with both figures.
    bool roomForRestore(const IOSDevice& device, qint64 restoreBytes, FlowResult& result);
    // After a restore: the phone's free space now (unless it restarts) and the sentence that
    // says what it gained since `result.freeBefore`.
    QString gainedText(const IOSDevice& device, FlowResult& result);

    StepRunner& m_runner;
    std::shared_ptr<const BackupEncryption> m_encryption;

private:
    // Asks for the password; false (and the result says why) when none was given.
    bool askPassword(const IOSDevice& device, int tries, FlowResult& result);
    QByteArray m_password;
};
