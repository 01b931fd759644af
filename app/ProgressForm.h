#pragma once

#include <QDialog>

#include <atomic>

class QLabel;
class QProgressBar;
class QPushButton;
class WinMovable;

// The modal progress dialog a worker thread reports to. Workers call its slots by name
// (see WorkerReport.h); only these slots end it, never Escape or a close request.
class ProgressForm : public QDialog
{
    Q_OBJECT
public:
    ProgressForm(const QString& title, QWidget* parent);

    void setCancelEnabled(bool enabled);
    // Set when the dialog ended with result 0 (error or Cancel); safe to read from the worker thread.
    bool isRejected() const { return m_rejected.load(); }
    bool isWaiting() const { return m_waiting; }

    void accept() override {}
    void reject() override {}

public slots:
    void updateProgress(QString status, int curProgress, QString progressText);
    void errorOccurred(QString tipsStr);
    void succeed(QString tipsStr);
    void onFinish(int result);
    void tipsWait(QString info);
    void cancel();

signals:
    void userCacel();

private:
    // The dialog ends once; reports that arrive after it ended are dropped.
    void finish(int result);

    std::atomic<bool> m_rejected{false};
    bool m_waiting = false;
    bool m_ended = false;
    WinMovable* m_movable;
    QProgressBar* m_progressBar;
    QLabel* m_lbProgress;
    QPushButton* m_btnCancel;
    QLabel* m_lbStatus;
};
