#pragma once

#include "StepMonitor.h"
#include "StepRunner.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class WinMovable;

// The modal progress dialog of one step: a view of the step's monitor. Cancel asks the monitor to
// cancel; the step's ending closes it (a failure after the error box, a success text after its
// info box). Escape and a close request never end it.
class ProgressForm : public QDialog
{
    Q_OBJECT
public:
    ProgressForm(StepMonitor& monitor, const QString& title, QWidget* parent);

    StepMonitor& monitor() { return m_monitor; }
    void setCancelEnabled(bool enabled);
    bool isRejected() const { return m_monitor.isRejected(); }

    void accept() override {}
    void reject() override {}

public slots:
    void updateProgress(QString status, int curProgress, QString progressText);
    // The same endings a worker reports, for the user-interface thread.
    void errorOccurred(QString tipsStr);
    void succeed(QString tipsStr);
    void cancel();

private:
    void onEnded(StepMonitor::Ending ending, const QString& text);

    StepMonitor& m_monitor;
    bool m_closed = false;
    WinMovable* m_movable;
    QProgressBar* m_progressBar;
    QLabel* m_lbProgress;
    QPushButton* m_btnCancel;
    QLabel* m_lbStatus;
};

// The window's way of running a step: its worker under a modal progress dialog.
class DialogStepRunner : public StepRunner
{
public:
    explicit DialogStepRunner(QWidget* parent) : m_parent(parent) {}
    bool run(QThread& worker, StepMonitor& monitor) override;
    Answer askPassword(const QString& question, QByteArray& password) override;

private:
    QWidget* m_parent;
};
