#include "StepRunner.h"

#include "StepMonitor.h"

#include <QEventLoop>
#include <QThread>

bool LocalStepRunner::run(QThread& worker, StepMonitor& monitor)
{
    QEventLoop loop;
    // Queued, so that a worker done before the loop starts still ends it. A worker ends its step
    // before its thread finishes; one that returns without a word has not succeeded.
    QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    worker.start(QThread::InheritPriority);
    loop.exec();
    worker.wait();
    return monitor.succeeded();
}
