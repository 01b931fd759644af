#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers modal message boxes as a user would: whenever one is showing, it records the box's
// text and icon and presses the chosen button (OK, Yes, No...). Each answer is used once in order;
// when the list runs out the last answer repeats. Password dialogs get `passwords`.
class BoxAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit BoxAnswerer(QList<QMessageBox::StandardButton> answers = {QMessageBox::Ok});

    QStringList texts;
    QList<QMessageBox::Icon> icons;
    QStringList titles;
    // Typed, one each, into the password dialogs as they come; none left: Cancel. Their
    // questions are kept in `asked`.
    QStringList passwords;
    QStringList asked;

    // Leaves the boxes from now on to another answerer.
    void stop() { m_timer.stop(); }

private:
    void poll();

    QList<QMessageBox::StandardButton> m_answers;
    QTimer m_timer;
};
