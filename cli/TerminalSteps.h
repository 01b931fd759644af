#pragma once

#include "StepRunner.h"

#include <QObject>
#include <QString>

class QSocketNotifier;

// Runs a flow's steps for the command line: each step's progress on standard error (one updating
// line on a terminal, a line per step otherwise, nothing when quiet), and Ctrl+C cancels the
// running step as the dialog's Cancel does. A Ctrl+C during a step that cannot be cancelled
// cancels the next one that can, before it starts its work.
class TerminalSteps : public QObject, public StepRunner
{
    Q_OBJECT
public:
    explicit TerminalSteps(bool quiet);
    ~TerminalSteps() override;

    bool run(QThread& worker, StepMonitor& monitor) override;
    // At a terminal, without echo; with passwordFromStdin, the first line of standard input,
    // once.
    Answer askPassword(const QString& question, QByteArray& password) override;
    bool interrupted() const { return m_interrupted; }
    bool passwordFromStdin = false;

private:
    void onInterrupt();
    void show(const QString& status, int percent);
    // A line of standard input, up to its end or Ctrl+C (false then).
    bool readLine(QByteArray& line);

    bool m_quiet;
    bool m_terminal;
    bool m_interrupted = false;
    StepMonitor* m_current = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    QString m_status;
    int m_percent = -1;
    bool m_stdinRead = false;
};
