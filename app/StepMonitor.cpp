#include "StepMonitor.h"

#include <QMutexLocker>

StepMonitor::StepMonitor(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<StepMonitor::Ending>();
}

void StepMonitor::progress(const QString& status, int percent, const QString& text)
{
    if (ending() != Ending::Running)
        return;
    emit progressed(status, percent, text);
}

void StepMonitor::fail(const QString& text)
{
    end(Ending::Failed, text);
}

void StepMonitor::succeed(const QString& text)
{
    end(Ending::Succeeded, text);
}

void StepMonitor::cancel()
{
    if (!m_cancellable)
        return;
    // The flag first: a worker woken by the request must already see it.
    Ending running = Ending::Running;
    m_rejected.store(true);
    if (!m_ending.compare_exchange_strong(running, Ending::Cancelled)) {
        m_rejected.store(running != Ending::Succeeded);
        return;
    }
    emit cancelRequested();
    emit ended(Ending::Cancelled, QString());
}

QString StepMonitor::endingText() const
{
    QMutexLocker lock(&m_textLock);
    return m_text;
}

bool StepMonitor::end(Ending ending, const QString& text)
{
    {
        // The text is in place before anyone can see the ending.
        QMutexLocker lock(&m_textLock);
        Ending running = Ending::Running;
        if (!m_ending.compare_exchange_strong(running, ending))
            return false;
        m_text = text;
        if (ending != Ending::Succeeded)
            m_rejected.store(true);
    }
    emit ended(ending, text);
    return true;
}
