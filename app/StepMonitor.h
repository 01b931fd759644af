#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>

// One step's worker and whoever watches it (a progress dialog, the command line, a test) meet
// here. The worker reports progress and ends the step once, from its own thread; the watcher
// listens to the signals on its own thread and may ask for a cancel. The first ending wins and
// every report after it is dropped.
class StepMonitor : public QObject
{
    Q_OBJECT
public:
    enum class Ending
    {
        Running,
        Succeeded,
        Failed,
        Cancelled
    };
    Q_ENUM(Ending)

    explicit StepMonitor(QObject* parent = nullptr);

    // Worker side; any thread.
    void progress(const QString& status, int percent, const QString& text = QString());
    void fail(const QString& text);
    void succeed(const QString& text = QString());
    // Set once the step has failed or was cancelled; a worker polls it in its loops.
    bool isRejected() const { return m_rejected.load(); }

    // Watcher side. The rejected flag is set before cancelRequested reaches a worker.
    void cancel();
    // Whether Cancel is offered for this step (a short all-or-nothing write is not cancelled).
    void setCancellable(bool cancellable) { m_cancellable = cancellable; }
    bool isCancellable() const { return m_cancellable; }

    Ending ending() const { return m_ending.load(); }
    bool succeeded() const { return ending() == Ending::Succeeded; }
    // The failure's text, or the success text a worker gave (empty when it gave none).
    QString endingText() const;

signals:
    void progressed(const QString& status, int percent, const QString& text);
    void cancelRequested();
    // Once, for the first ending; text as endingText().
    void ended(StepMonitor::Ending ending, const QString& text);

private:
    bool end(Ending ending, const QString& text);

    std::atomic<Ending> m_ending{Ending::Running};
    std::atomic<bool> m_rejected{false};
    bool m_cancellable = true;
    mutable QMutex m_textLock;
    QString m_text;
};
