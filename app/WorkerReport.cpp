#include "WorkerReport.h"

#include "StepMonitor.h"

namespace WorkerReport {

void progress(StepMonitor* monitor, const QString& status, int percent, const QString& text)
{
    monitor->progress(status, percent, text);
}

void error(StepMonitor* monitor, const QString& text)
{
    monitor->fail(text);
}

void succeed(StepMonitor* monitor, const QString& text)
{
    monitor->succeed(text);
}

bool isRejected(const StepMonitor* monitor)
{
    return monitor->isRejected();
}

} // namespace WorkerReport

void ProgressThrottle::percent(int value)
{
    if (value == m_last)
        return;
    m_last = value;
    ++m_sent;
    WorkerReport::progress(m_monitor, QString(), value, QString());
}
