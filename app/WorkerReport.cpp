#include "WorkerReport.h"

#include "ProgressForm.h"

namespace WorkerReport {

void progress(ProgressForm* form, const QString& status, int percent, const QString& text)
{
    QMetaObject::invokeMethod(form, "updateProgress", Qt::AutoConnection, Q_ARG(QString, status),
                              Q_ARG(int, percent), Q_ARG(QString, text));
}

void error(ProgressForm* form, const QString& text)
{
    QMetaObject::invokeMethod(form, "errorOccurred", Qt::AutoConnection, Q_ARG(QString, text));
}

void succeed(ProgressForm* form, const QString& text)
{
    QMetaObject::invokeMethod(form, "succeed", Qt::AutoConnection, Q_ARG(QString, text));
}

bool isRejected(const ProgressForm* form)
{
    return form->isRejected();
}

} // namespace WorkerReport

void ProgressThrottle::percent(int value)
{
    if (value == m_last)
        return;
    m_last = value;
    ++m_sent;
    WorkerReport::progress(m_form, QString(), value, QString());
}
