#include "MyListView.h"

MyListView::MyListView(QWidget* parent) : QListView(parent) {}

void MyListView::setShowsAllEntries(bool all, int floor)
{
    m_showsAll = all;
    m_floor = floor;
    updateGeometry();
}

void MyListView::setModel(QAbstractItemModel* model)
{
    QListView::setModel(model);
    // An entry's size line comes and goes with a scan: the height the list asks for follows it.
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { updateGeometry(); });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { updateGeometry(); });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { updateGeometry(); });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { updateGeometry(); });
    connect(model, &QAbstractItemModel::dataChanged, this, [this] { updateGeometry(); });
}

int MyListView::rowHeight() const
{
    int tallest = 0;
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    for (int row = 0; row < rows; ++row)
        tallest = qMax(tallest, sizeHintForIndex(model()->index(row, modelColumn(), rootIndex())).height());
    if (tallest == 0)
        tallest = iconSize().height() + 2 * fontMetrics().lineSpacing();
    return tallest + 2 * spacing() + 2 * frameWidth();
}

QSize MyListView::sizeHint() const
{
    QSize size = QListView::sizeHint();
    if (m_showsAll)
        size.setHeight(qMax(m_floor, rowHeight()));
    return size;
}

QSize MyListView::minimumSizeHint() const
{
    QSize size = QListView::minimumSizeHint();
    // A list that scrolls needs room for an icon and two lines of name, whatever its entries say,
    // so that the window does not grow when a scan adds their sizes.
    const int scrolling =
        iconSize().height() + 2 * fontMetrics().lineSpacing() + 2 * spacing() + 2 * frameWidth();
    size.setHeight(m_showsAll ? qMax(m_floor, rowHeight()) : scrolling);
    return size;
}

void MyListView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    emit onSelectionChanged(selected, deselected);
    QListView::selectionChanged(selected, deselected);
}

void MyListView::contextMenuEvent(QContextMenuEvent* event)
{
    emit createContextMenu();
    QListView::contextMenuEvent(event);
}
