#include "WorkerStep.h"

#include "ProgressForm.h"

#include <QThread>

bool runWorkerStep(ProgressForm& form, QThread& worker)
{
    worker.start(QThread::InheritPriority);
    const int result = form.exec();
    const bool succeeded = result == 1 && !form.isRejected();
    worker.wait();
    return succeeded;
}
