#include "AbsTreeItemModel.h"

AbsTreeItemModel::AbsTreeItemModel(QObject* parent) : QAbstractItemModel(parent) {}

AbsTreeItemModel::~AbsTreeItemModel()
{
    qDeleteAll(m_nodes);
}

AbsTreeItemModel::_ItemNode* AbsTreeItemModel::nodeOf(const QModelIndex& index)
{
    return index.isValid() ? static_cast<_ItemNode*>(index.internalPointer()) : nullptr;
}

const QList<AbsTreeItemModel::_ItemNode*>& AbsTreeItemModel::childrenOf(const QModelIndex& parent) const
{
    _ItemNode* node = nodeOf(parent);
    return node ? node->children : m_nodes;
}

QModelIndex AbsTreeItemModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent))
        return {};
    _ItemNode* node = childrenOf(parent).at(row);
    node->row = row;
    node->column = column;
    node->self = node;
    node->model = this;
    return createIndex(row, column, node);
}

QModelIndex AbsTreeItemModel::parent(const QModelIndex& index) const
{
    _ItemNode* node = nodeOf(index);
    if (!node || !node->parent)
        return {};
    _ItemNode* p = node->parent;
    return createIndex(p->row, p->column, p->self);
}

int AbsTreeItemModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() > 0)
        return 0;
    return int(childrenOf(parent).size());
}

void AbsTreeItemModel::appendNode(_ItemNode* node)
{
    m_nodes.append(node);
}

QModelIndex AbsTreeItemModel::indexOfEntry(_ItemNode* node) const
{
    if (!node)
        return {};
    if (node->row >= 0 && node->column >= 0 && node->model)
        return createIndex(node->row, node->column, node);
    const QList<_ItemNode*>& siblings = node->parent ? node->parent->children : m_nodes;
    return createIndex(int(siblings.indexOf(node)), 0, node);
}

void AbsTreeItemModel::removeAllChildren(_ItemNode* node)
{
    QList<_ItemNode*>& list = node ? node->children : m_nodes;
    if (list.isEmpty())
        return;
    beginRemoveRows(node ? indexOfEntry(node) : QModelIndex(), 0, int(list.size()) - 1);
    qDeleteAll(list);
    list.clear();
    endRemoveRows();
}

void AbsTreeItemModel::announceLayoutChange()
{
    emit layoutChanged();
}
