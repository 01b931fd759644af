#pragma once

#include <QStringList>

class ProgressForm;
class QThread;

// What a user saw of one worker step run under its progress dialog.
struct WorkerRun
{
    bool succeeded = false;
    QStringList boxTexts; // message boxes shown (and answered with OK)
};

// Runs worker under form as the pipeline does, answering every box with OK.
WorkerRun runUnderDialog(ProgressForm& form, QThread& worker);

// Presses Cancel as soon as the dialog shows a progress above `percent`.
void cancelWhenProgressPasses(ProgressForm& form, int percent);
