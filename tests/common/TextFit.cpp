#include "TextFit.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QWidget>

namespace {
QString nameOf(const QWidget* w)
{
    const QString name = w->objectName().isEmpty() ? QStringLiteral("(unnamed)") : w->objectName();
    return QStringLiteral("%1 %2").arg(QLatin1String(w->metaObject()->className()), name);
}

QRect rectIn(const QWidget* w, const QWidget* window)
{
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

QString sizeText(const QSize& s)
{
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

// The text or picture of a label, button or combo box needs this much room.
QSize needs(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty() && !label->pixmap().isNull())
            return label->pixmap().deviceIndependentSize().toSize();
        if (label->text().isEmpty())
            return QSize();
        if (label->wordWrap())
            return QSize(0, label->heightForWidth(label->width()));
        return label->sizeHint();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text().isEmpty() && button->icon().isNull() ? QSize() : button->sizeHint();
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        // The current text with the arrow beside it, as the combo box measures its longest entry.
        QComboBox probe;
        probe.setStyleSheet(combo->styleSheet());
        probe.setFont(combo->font());
        probe.addItem(combo->currentText());
        probe.setStyle(combo->style());
        probe.ensurePolished();
        return QSize(probe.sizeHint().width(), 0);
    }
    return QSize();
}

void checkEntries(QAbstractItemView* view, QStringList& problems)
{
    const QRect viewport = view->viewport()->rect();
    const bool scrolls = view->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
    const QScrollBar* bar = view->verticalScrollBar();
    for (int row = 0; view->model() && row < view->model()->rowCount(view->rootIndex()); ++row) {
        const QModelIndex index = view->model()->index(row, 0, view->rootIndex());
        const QRect item = view->visualRect(index);
        const QSize wanted = view->sizeHintForIndex(index);
        const QString what =
            QStringLiteral("%1 entry \"%2\"")
                .arg(nameOf(view), index.data().toString().replace(QLatin1Char('\n'), QLatin1Char('|')));
        if (item.width() < wanted.width() || item.height() < wanted.height())
            problems << QStringLiteral("%1 has %2 but needs %3")
                            .arg(what, sizeText(item.size()), sizeText(wanted));
        if (!scrolls && !viewport.contains(item))
            problems << QStringLiteral("%1 is cut by its list (%2 of %3)")
                            .arg(what, sizeText(item.intersected(viewport).size()), sizeText(item.size()));
        // Scrolling must reach the whole entry.
        if (scrolls && item.bottom() + bar->value() > viewport.height() - 1 + bar->maximum())
            problems << QStringLiteral("%1 lies beyond where its list scrolls").arg(what);
        if (item.right() > viewport.width() - 1)
            problems << QStringLiteral("%1 is cut at the right of its list").arg(what);
    }
}
} // namespace

QStringList textFitProblems(QWidget* window)
{
    QStringList problems;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* w : widgets) {
        if (!w->isVisible() || (w != window && w->window() != window))
            continue;
        const bool textual =
            qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w);
        auto* view = qobject_cast<QAbstractItemView*>(w);
        if (!textual && !view)
            continue;
        // The widgets around it must not cut it.
        const QRect mine = rectIn(w, window);
        for (QWidget* outer = w->parentWidget(); outer && outer != window->parentWidget();
             outer = outer->parentWidget()) {
            if (!rectIn(outer, window).contains(mine)) {
                problems << QStringLiteral("%1 is cut by %2").arg(nameOf(w), nameOf(outer));
                break;
            }
            if (outer == window)
                break;
        }
        if (view) {
            checkEntries(view, problems);
            continue;
        }
        const QSize wanted = needs(w);
        if (w->width() < wanted.width() || w->height() < wanted.height())
            problems << QStringLiteral("%1 \"%2\" has %3 but needs %4")
                            .arg(nameOf(w),
                                 qobject_cast<QLabel*>(w) ? qobject_cast<QLabel*>(w)->text().left(60)
                                 : qobject_cast<QAbstractButton*>(w)
                                     ? qobject_cast<QAbstractButton*>(w)->text()
                                     : qobject_cast<QComboBox*>(w)->currentText(),
                                 sizeText(w->size()), sizeText(wanted));
    }
    return problems;
}
