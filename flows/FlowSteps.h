#pragma once

#include "FlowResult.h"
#include "IOSDevice.h"

#include <QDir>

class QThread;
class StepMonitor;
class StepRunner;

// The steps the flows share, each one worker run by the flow's step runner. A step that does not
// succeed records why in the result, and the flow ends there.
class FlowSteps
{
public:
    explicit FlowSteps(StepRunner& runner) : m_runner(runner) {}

    // Said before the backup of a Free Up: a phone with Find My on refuses every restore ("Find
    // My iPhone must be disabled before restoring (MBErrorDomain/211)"), and nothing it tells
    // beforehand says so.
    static QString findMyReminder();

protected:
    bool step(QThread& worker, StepMonitor& monitor, FlowResult& result);
    // The phone's backup settings allow a backup and restore; otherwise the result says why.
    bool backupAllowed(const IOSDevice& device, FlowResult& result);
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
};
