#include "FitToText.h"

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

#include <algorithm>

namespace {
// The size a widget's text needs at its current width, or an empty size for other widgets.
QSize textNeeds(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->wordWrap())
            return QSize(label->width(), label->heightForWidth(label->width()));
        return label->sizeHint();
    }
    if (qobject_cast<QAbstractButton*>(w))
        return w->sizeHint();
    return QSize();
}

QRect childrenBounds(const QList<QWidget*>& children)
{
    QRect bounds;
    for (QWidget* w : children)
        bounds = bounds.united(w->geometry());
    return bounds;
}
} // namespace

void growToFitText(QWidget* box)
{
    QList<QWidget*> children = box->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    children.erase(std::remove_if(children.begin(), children.end(), [](QWidget* w) { return w->isWindow(); }),
                   children.end());
    if (children.isEmpty())
        return;
    const QRect before = childrenBounds(children);
    const int rightMargin = box->width() - (before.right() + 1);
    const int bottomMargin = box->height() - (before.bottom() + 1);
    std::stable_sort(children.begin(), children.end(),
                     [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
    for (QWidget* w : children) {
        w->ensurePolished();
        const QSize needs = textNeeds(w);
        const int dw = std::max(0, needs.width() - w->width());
        const int dh = std::max(0, needs.height() - w->height());
        if (dw == 0 && dh == 0)
            continue;
        const int oldBottom = w->geometry().bottom();
        w->resize(w->width() + dw, w->height() + dh);
        for (QWidget* below : children) {
            if (below != w && below->y() > oldBottom)
                below->move(below->x(), below->y() + dh);
        }
    }
    const QRect after = childrenBounds(children);
    box->resize(std::max(box->width(), after.right() + 1 + rightMargin),
                std::max(box->height(), after.bottom() + 1 + bottomMargin));
}
