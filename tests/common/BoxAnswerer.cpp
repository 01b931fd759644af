#include "BoxAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>

BoxAnswerer::BoxAnswerer(QList<QMessageBox::StandardButton> answers) : m_answers(std::move(answers))
{
    connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
    m_timer.start(20);
}

void BoxAnswerer::poll()
{
    if (auto* input = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        input && input->isVisible()) {
        asked << input->labelText();
        if (passwords.isEmpty()) {
            input->reject();
            return;
        }
        input->setTextValue(passwords.takeFirst());
        input->accept();
        return;
    }
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    texts << box->text();
    icons << box->icon();
    titles << box->windowTitle();
    const QMessageBox::StandardButton answer =
        m_answers.size() > 1 ? m_answers.takeFirst() : m_answers.value(0);
    QAbstractButton* button = box->button(answer);
    if (button)
        button->click();
    else
        box->done(0);
}
