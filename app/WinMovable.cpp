#include "WinMovable.h"

#include <QMouseEvent>
#include <QWidget>

WinMovable::WinMovable(QWidget* target) : QObject(target), m_target(target)
{
    target->installEventFilter(this);
}

bool WinMovable::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_target)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = mouse->position().toPoint();
        m_pressX = pos.x();
        m_pressY = pos.y();
        m_dragging = mouse->button() == Qt::LeftButton;
        break;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if ((m_pressX != 0 || m_pressY != 0) && m_dragging) {
            const QPoint pos = mouse->position().toPoint();
            m_target->move(m_target->x() + pos.x() - m_pressX, m_target->y() + pos.y() - m_pressY);
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        break;
    default:
        break;
    }
    return false;
}
