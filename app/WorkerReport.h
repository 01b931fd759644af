#pragma once

#include <QString>

class StepMonitor;

// The worker's side of a step: each report goes to the step's monitor, whose watcher may live on
// another thread.
namespace WorkerReport {

void progress(StepMonitor* monitor, const QString& status, int percent, const QString& text = QString());
void error(StepMonitor* monitor, const QString& text);
void succeed(StepMonitor* monitor, const QString& text = QString());
// The step failed or was cancelled.
bool isRejected(const StepMonitor* monitor);

} // namespace WorkerReport

// Sends a progress report only when what the watcher shows would change, so that a walk over
// many items keeps the user-interface thread free. Used from one worker thread.
class ProgressThrottle
{
public:
    explicit ProgressThrottle(StepMonitor* monitor) : m_monitor(monitor) {}
    // Empty status and text, as the record walks report.
    void percent(int value);
    int reportsSent() const { return m_sent; }

private:
    StepMonitor* m_monitor;
    int m_last = -1;
    int m_sent = 0;
};
