#pragma once

#include <QAbstractItemModel>
#include <QList>

// An item model over a tree of nodes; each node remembers the last index made for it so that
// parent() needs no search.
class AbsTreeItemModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    class _ItemNode
    {
    public:
        explicit _ItemNode(_ItemNode* parent = nullptr, int type = 0, const QString& text = QString())
            : type(type), text(text), parent(parent)
        {
        }
        virtual ~_ItemNode() { qDeleteAll(children); }
        _ItemNode(const _ItemNode&) = delete;
        _ItemNode& operator=(const _ItemNode&) = delete;

        int type;
        QString text;
        int row = -1;
        int column = -1;
        void* self = nullptr;
        const QAbstractItemModel* model = nullptr;
        _ItemNode* parent;
        QList<_ItemNode*> children;
    };

    explicit AbsTreeItemModel(QObject* parent = nullptr);
    ~AbsTreeItemModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;

    // Appends a top-level node without an insertion notice; announce a layout change afterwards.
    void appendNode(_ItemNode* node);
    QModelIndex indexOfEntry(_ItemNode* node) const;
    // Deletes the children of node, or every top-level node when node is null.
    void removeAllChildren(_ItemNode* node = nullptr);
    void announceLayoutChange();

    const QList<_ItemNode*>& topLevelNodes() const { return m_nodes; }
    static _ItemNode* nodeOf(const QModelIndex& index);

private:
    const QList<_ItemNode*>& childrenOf(const QModelIndex& parent) const;

    QList<_ItemNode*> m_nodes;
};
