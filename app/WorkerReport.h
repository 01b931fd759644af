#pragma once

#include <QString>

class ProgressForm;

// The worker's side of the progress dialog: each report is queued to the dialog's thread.
namespace WorkerReport {

void progress(ProgressForm* form, const QString& status, int percent, const QString& text = QString());
void error(ProgressForm* form, const QString& text);
void succeed(ProgressForm* form, const QString& text = QString());
// The dialog's rejected flag (Cancel pressed or an error shown).
bool isRejected(const ProgressForm* form);

} // namespace WorkerReport

// Sends a progress report only when what the dialog shows would change, so that a walk over
// many items keeps the user-interface thread free. Used from one worker thread.
class ProgressThrottle
{
public:
    explicit ProgressThrottle(ProgressForm* form) : m_form(form) {}
    // Empty status and text, as the record walks report.
    void percent(int value);
    int reportsSent() const { return m_sent; }

private:
    ProgressForm* m_form;
    int m_last = -1;
    int m_sent = 0;
};
