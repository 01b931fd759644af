#pragma once

#include <QByteArray>
#include <QString>

class QThread;
class StepMonitor;

// Runs one worker to its end under its monitor and waits for its thread whatever the outcome, so
// that a flow reads as straight-line code. The window's runner shows the modal progress dialog;
// the command line and tests run a local event loop.
class StepRunner
{
public:
    virtual ~StepRunner() = default;
    // True only when the worker reported success.
    virtual bool run(QThread& worker, StepMonitor& monitor) = 0;

    enum class Answer
    {
        Given,
        Cancelled,
        NobodyToAsk
    };
    // Asks the user for a secret (an encrypted backup's password) that is never shown, stored or
    // logged. Without a user to ask there is no answer.
    virtual Answer askPassword(const QString& question, QByteArray& password)
    {
        Q_UNUSED(question)
        Q_UNUSED(password)
        return Answer::NobodyToAsk;
    }
};

// Without a window: starts the worker, runs a local event loop until it has ended and its thread
// has finished.
class LocalStepRunner : public StepRunner
{
public:
    bool run(QThread& worker, StepMonitor& monitor) override;
};
