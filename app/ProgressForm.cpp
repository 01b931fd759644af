#include "ProgressForm.h"

#include "FitToText.h"
#include "MessageBoxes.h"
#include "StyleSheet.h"
#include "WinMovable.h"

#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

ProgressForm::ProgressForm(StepMonitor& monitor, const QString& title, QWidget* parent)
    : QDialog(parent), m_monitor(monitor), m_movable(new WinMovable(this))
{
    setObjectName(QStringLiteral("ProgressForm"));
    resize(350, 122);

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setGeometry(20, 40, 321, 23);
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(true);
    m_progressBar->setOrientation(Qt::Horizontal);
    m_progressBar->setTextDirection(QProgressBar::TopToBottom);

    m_lbProgress = new QLabel(this);
    m_lbProgress->setObjectName(QStringLiteral("lbProgress"));
    m_lbProgress->setGeometry(25, 70, 281, 20);
    m_lbProgress->setAlignment(Qt::AlignCenter);

    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    m_btnCancel->setGeometry(130, 90, 75, 23);
    m_btnCancel->setAutoDefault(false);

    m_lbStatus = new QLabel(this);
    m_lbStatus->setObjectName(QStringLiteral("lbStatus"));
    m_lbStatus->setGeometry(20, 20, 311, 16);

    setWindowTitle(title);
    m_lbStatus->setText(title);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(applicationStyleSheet());

    m_btnCancel->setEnabled(monitor.isCancellable());
    connect(m_btnCancel, &QPushButton::pressed, this, &ProgressForm::cancel);
    // Reports from a worker thread arrive queued, in the order they were sent.
    connect(&m_monitor, &StepMonitor::progressed, this, &ProgressForm::updateProgress);
    connect(&m_monitor, &StepMonitor::ended, this, &ProgressForm::onEnded);
    growToFitText(this);
}

void ProgressForm::setCancelEnabled(bool enabled)
{
    m_monitor.setCancellable(enabled);
    m_btnCancel->setEnabled(enabled);
}

void ProgressForm::updateProgress(QString status, int curProgress, QString progressText)
{
    if (!status.isEmpty())
        m_lbStatus->setText(status);
    if (curProgress < 0)
        curProgress = m_progressBar->value();
    m_progressBar->setValue(curProgress);
    if (progressText.isEmpty())
        progressText = QStringLiteral("Progress:%1%").arg(curProgress);
    m_lbProgress->setText(progressText);
    growToFitText(this);
}

void ProgressForm::errorOccurred(QString tipsStr)
{
    m_monitor.fail(tipsStr);
}

void ProgressForm::succeed(QString tipsStr)
{
    m_monitor.succeed(tipsStr);
}

void ProgressForm::cancel()
{
    m_monitor.cancel();
}

void ProgressForm::onEnded(StepMonitor::Ending ending, const QString& text)
{
    if (m_closed)
        return;
    m_closed = true;
    if (ending == StepMonitor::Ending::Failed)
        showErrorBox(text);
    else if (ending == StepMonitor::Ending::Succeeded && !text.isEmpty())
        showInfoBox(text);
    done(ending == StepMonitor::Ending::Succeeded ? 1 : 0);
}

bool DialogStepRunner::run(QThread& worker, StepMonitor& monitor)
{
    ProgressForm form(monitor, QString(), m_parent);
    worker.start(QThread::InheritPriority);
    form.exec();
    worker.wait();
    return monitor.succeeded();
}

StepRunner::Answer DialogStepRunner::askPassword(const QString& question, QByteArray& password)
{
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(QStringLiteral("Backup Password"));
    dialog.setLabelText(question);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    if (dialog.exec() != QDialog::Accepted || dialog.textValue().isEmpty())
        return Answer::Cancelled;
    password = dialog.textValue().toUtf8();
    // The dialog's own copy goes with it.
    dialog.setTextValue(QString());
    return Answer::Given;
}
