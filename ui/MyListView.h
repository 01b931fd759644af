#pragma once

#include <QItemSelection>
#include <QListView>

// The list view of the main window's panels; announces selection changes and context-menu requests.
class MyListView : public QListView
{
    Q_OBJECT
public:
    explicit MyListView(QWidget* parent = nullptr);

    // A list that shows all of its entries at once asks for the height its tallest entry needs,
    // never less than `floor`; the others ask for at least one row and scroll.
    void setShowsAllEntries(bool all, int floor = 0);
    // The height of one row of entries: the tallest entry with the spacing around it.
    int rowHeight() const;

    void setModel(QAbstractItemModel* model) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void onSelectionChanged(QItemSelection selected, QItemSelection deselected);
    void createContextMenu();

protected:
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool m_showsAll = false;
    int m_floor = 0;
};
