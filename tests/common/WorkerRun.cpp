#include "WorkerRun.h"

#include "StepMonitor.h"
#include "StepRunner.h"

WorkerRun runWorker(QThread& worker, StepMonitor& monitor)
{
    WorkerRun run;
    run.succeeded = LocalStepRunner().run(worker, monitor);
    run.cancelled = monitor.ending() == StepMonitor::Ending::Cancelled;
    if (!monitor.endingText().isEmpty())
        run.reports << monitor.endingText();
    return run;
}

void cancelWhenProgressPasses(StepMonitor& monitor, int percent)
{
    QObject::connect(&monitor, &StepMonitor::progressed, &monitor,
                     [&monitor, percent](const QString&, int value, const QString&) {
                         if (value > percent)
                             monitor.cancel();
                     });
}
