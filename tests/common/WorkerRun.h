#pragma once

#include <QStringList>

class QThread;
class StepMonitor;

// How one worker step ended, run as the flows run it but without a window.
struct WorkerRun
{
    bool succeeded = false;
    bool cancelled = false;
    QStringList reports; // the text the step ended with (its error, or a success text), if any
};

WorkerRun runWorker(QThread& worker, StepMonitor& monitor);

// Cancels the step as soon as it reports a progress above `percent`.
void cancelWhenProgressPasses(StepMonitor& monitor, int percent);
