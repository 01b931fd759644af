#pragma once

#include <QObject>

class QWidget;

// Lets the user drag a frameless window with the left mouse button. Owned by the window it moves.
class WinMovable : public QObject
{
    Q_OBJECT
public:
    explicit WinMovable(QWidget* target);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_target;
    int m_pressX = 0;
    int m_pressY = 0;
    bool m_dragging = false;
};
