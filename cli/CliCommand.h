#pragma once

#include "FlowResult.h"
#include "IOSDevice.h"

#include <QStringList>

class TerminalSteps;

// One run of spacewell-cli: parses the arguments, finds the phone and runs the panel's flow.
// Exit status: 0 success, 1 failure, 2 bad usage, 130 cancelled.
class CliCommand
{
public:
    enum Status
    {
        Success = 0,
        Failure = 1,
        Usage = 2,
        Cancelled = 130
    };

    explicit CliCommand(const QStringList& arguments) : m_arguments(arguments) {}
    int run();

private:
    int listDevices(const QList<IOSDevice>& devices);
    int runPanel(const QString& command, const QString& panel, const IOSDevice& device);
    int runUndo(const IOSDevice& device);
    int runEncrypt(const IOSDevice& device);
    // Ends a flow: prints what it found (JSON or a summary) or its error; the exit status.
    int finish(const QString& panel, const IOSDevice& device, const FlowResult& result, bool freeUp);
    bool confirm(const QString& question);

    QStringList m_arguments;
    QStringList m_only;
    bool m_json = false;
    bool m_yes = false;
    bool m_quiet = false;
    bool m_passwordStdin = false;
    QString m_deviceId;
    TerminalSteps* m_steps = nullptr;
};
