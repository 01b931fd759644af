#include "ProgressForm.h"

#include "FitToText.h"
#include "MessageBoxes.h"
#include "StyleSheet.h"
#include "WinMovable.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

ProgressForm::ProgressForm(const QString& title, QWidget* parent)
    : QDialog(parent), m_movable(new WinMovable(this))
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

    connect(this, &QDialog::finished, this, &ProgressForm::onFinish);
    connect(m_btnCancel, &QPushButton::pressed, this, &ProgressForm::cancel);
    growToFitText(this);
}

void ProgressForm::setCancelEnabled(bool enabled)
{
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
    if (m_ended)
        return;
    showErrorBox(tipsStr);
    finish(0);
}

void ProgressForm::succeed(QString tipsStr)
{
    if (m_ended)
        return;
    if (!tipsStr.isEmpty())
        showInfoBox(tipsStr);
    finish(1);
}

void ProgressForm::onFinish(int result)
{
    m_rejected.store(result == 0);
}

void ProgressForm::tipsWait(QString info)
{
    showInfoBox(info);
    m_waiting = false;
}

void ProgressForm::cancel()
{
    if (m_ended)
        return;
    emit userCacel();
    finish(0);
}

void ProgressForm::finish(int result)
{
    m_ended = true;
    done(result);
}
