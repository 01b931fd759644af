#pragma once

#include "AbsTreeItemModel.h"
#include "AppInfo.h"

// One entry of the main window's lists: an app, or one of the fixed function entries.
class _APPIconItemNode : public AbsTreeItemModel::_ItemNode
{
public:
    _APPIconItemNode(_ItemNode* parent, const AppInfo& app, const QString& iconPath, bool checked,
                     bool fixed);
    ~_APPIconItemNode() override = default;

    QString identifier;
    QString name;
    QString iconPath;
    bool checked;
    bool fixed;
    qint64 size = -1; // bytes; -1 until measured
    // False once a Scan found the app's container closed: its caches cannot be measured.
    bool measurable = true;
    qint64 dataBytes = -1; // the app's data as the device reports it; -1 when it does not

    AppInfo appInfo() const { return {identifier, name}; }
};
using APPIconItemNode = _APPIconItemNode;

// A checkable list of apps or functions, each with its icon and, once measured, its size.
class ItemModelAppIcon : public AbsTreeItemModel
{
    Q_OBJECT
public:
    using AbsTreeItemModel::AbsTreeItemModel;

    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QList<_APPIconItemNode*> entries() const;

signals:
    void itemChecked(APPIconItemNode* node);
};
