#include "ItemModelAppIcon.h"

#include "FormatSize.h"
#include "TextCut.h"

#include <QColor>
#include <QImage>

_APPIconItemNode::_APPIconItemNode(_ItemNode* parent, const AppInfo& app, const QString& iconPath,
                                   bool checked, bool fixed)
    : _ItemNode(parent, 3, app.name), identifier(app.identifier), name(app.name), iconPath(iconPath),
      checked(checked), fixed(fixed), dataBytes(app.dataBytes)
{
}

int ItemModelAppIcon::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant ItemModelAppIcon::headerData(int, Qt::Orientation, int) const
{
    return QVariant();
}

Qt::ItemFlags ItemModelAppIcon::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = AbsTreeItemModel::flags(index);
    if (index.isValid() && index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QList<_APPIconItemNode*> ItemModelAppIcon::entries() const
{
    QList<_APPIconItemNode*> list;
    for (_ItemNode* node : topLevelNodes())
        list << static_cast<_APPIconItemNode*>(node);
    return list;
}

QVariant ItemModelAppIcon::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.column() < 0)
        return QVariant();
    auto* node = static_cast<_APPIconItemNode*>(nodeOf(index));
    if (!node)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole: {
        QString text = node->text.size() > 12 ? leftWhole(node->text, 9) + QStringLiteral("...") : node->text;
        if (!node->measurable)
            text += QStringLiteral("\n(\u2013)"); // not measured, which is not 0
        else if (node->size >= 0)
            text += QStringLiteral("\n(%1)").arg(formatSize(node->size));
        else if (node->dataBytes >= 0)
            text += QStringLiteral("\nData %1").arg(formatSize(node->dataBytes));
        return text;
    }
    case Qt::DecorationRole: {
        QImage image(node->iconPath, "JPEG");
        if (image.isNull())
            image.load(node->iconPath, "PNG");
        if (image.isNull())
            image.load(QStringLiteral(":res/def_app.png"), "PNG");
        return image.scaled(64, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    case Qt::ToolTipRole:
        if (!node->measurable)
            return QString(node->text +
                           QStringLiteral("\nThe device keeps this app's container closed: Free Up "
                                          "clears its caches through a backup and restore."));
        return node->text;
    case Qt::ForegroundRole:
        return QColor(122, 121, 121, 255);
    case Qt::CheckStateRole:
        if (index.column() == 0 && !node->fixed)
            return node->checked ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    default:
        return QVariant();
    }
}

bool ItemModelAppIcon::setData(const QModelIndex& index, const QVariant& value, int role)
{
    auto* node = static_cast<_APPIconItemNode*>(nodeOf(index));
    if (!node || role != Qt::CheckStateRole || index.column() != 0)
        return false;
    if (!node->fixed) {
        node->checked = value.toInt() == Qt::Checked;
        emit itemChecked(node);
    }
    emit dataChanged(index, index);
    return true;
}
