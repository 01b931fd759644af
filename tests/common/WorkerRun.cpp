#include "WorkerRun.h"

#include "BoxAnswerer.h"
#include "ProgressForm.h"
#include "WorkerStep.h"

#include <QProgressBar>

WorkerRun runUnderDialog(ProgressForm& form, QThread& worker)
{
    BoxAnswerer boxes;
    WorkerRun run;
    run.succeeded = runWorkerStep(form, worker);
    run.boxTexts = boxes.texts;
    return run;
}

void cancelWhenProgressPasses(ProgressForm& form, int percent)
{
    auto* bar = form.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    QObject::connect(bar, &QProgressBar::valueChanged, &form, [&form, percent](int value) {
        if (value > percent)
            form.cancel();
    });
}
