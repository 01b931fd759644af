#pragma once

class ProgressForm;
class QThread;

// Runs one worker under its progress dialog: starts the thread, runs the dialog modally, waits for
// the thread whatever the outcome. True only when the dialog ended with 1 and was not rejected.
bool runWorkerStep(ProgressForm& form, QThread& worker);
