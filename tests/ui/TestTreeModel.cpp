#include "AbsTreeItemModel.h"
#include "ItemModelAppIcon.h"

#include <QSignalSpy>
#include <QTest>

namespace {
class TextModel : public AbsTreeItemModel
{
public:
    int columnCount(const QModelIndex& = QModelIndex()) const override { return 1; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        auto* node = nodeOf(index);
        return node && role == Qt::DisplayRole ? QVariant(node->text) : QVariant();
    }
};
} // namespace

class TestTreeModel : public QObject
{
    Q_OBJECT

private slots:
    void emptyModel()
    {
        TextModel model;
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(!model.index(0, 0).isValid());
        QSignalSpy removing(&model, &QAbstractItemModel::rowsAboutToBeRemoved);
        model.removeAllChildren();
        QCOMPARE(removing.count(), 0);
    }

    void indexesRememberTheirNode()
    {
        TextModel model;
        auto* a = new AbsTreeItemModel::_ItemNode(nullptr, 3, QStringLiteral("a"));
        auto* b = new AbsTreeItemModel::_ItemNode(nullptr, 3, QStringLiteral("b"));
        auto* child = new AbsTreeItemModel::_ItemNode(b, 3, QStringLiteral("child"));
        b->children << child;
        model.appendNode(a);
        model.appendNode(b);
        QCOMPARE(model.rowCount(), 2);
        // Not yet indexed: the position among its siblings.
        QCOMPARE(model.indexOfEntry(b).row(), 1);

        const QModelIndex bi = model.index(1, 0);
        QCOMPARE(bi.data().toString(), QStringLiteral("b"));
        QCOMPARE(b->row, 1);
        QCOMPARE(b->model, &model);
        QCOMPARE(model.rowCount(bi), 1);
        const QModelIndex ci = model.index(0, 0, bi);
        QCOMPARE(ci.data().toString(), QStringLiteral("child"));
        QCOMPARE(model.parent(ci), bi);
        QVERIFY(!model.parent(bi).isValid());
        QCOMPARE(model.indexOfEntry(child), ci);
    }

    void removeAllChildrenAnnouncesRows()
    {
        TextModel model;
        for (int i = 0; i < 3; ++i)
            model.appendNode(new AbsTreeItemModel::_ItemNode(nullptr, 3, QString::number(i)));
        QSignalSpy removing(&model, &QAbstractItemModel::rowsAboutToBeRemoved);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        model.removeAllChildren();
        QCOMPARE(removing.count(), 1);
        QCOMPARE(removing.at(0).at(1).toInt(), 0);
        QCOMPARE(removing.at(0).at(2).toInt(), 2);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(model.rowCount(), 0);
    }

    void layoutChangeIsAnnounced()
    {
        TextModel model;
        QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
        model.announceLayoutChange();
        QCOMPARE(layout.count(), 1);
    }

    // A long app name is cut to its first nine characters, never inside a character made of two
    // UTF-16 units.
    void longAppNamesAreCutBetweenCharacters()
    {
        ItemModelAppIcon model;
        const QString camera = QStringLiteral("Camera++\U0001f4f7 Pro Studio");
        model.appendNode(
            new _APPIconItemNode(nullptr, {QStringLiteral("com.a"), camera}, QString(), true, false));
        model.appendNode(new _APPIconItemNode(
            nullptr, {QStringLiteral("com.b"), QStringLiteral("Short name")}, QString(), true, false));
        model.appendNode(new _APPIconItemNode(
            nullptr, {QStringLiteral("com.c"), QStringLiteral("Notes Plus Pro")}, QString(), true, false));
        model.announceLayoutChange();
        const QString cut = model.index(0, 0).data().toString();
        QCOMPARE(cut, QStringLiteral("Camera++..."));
        QVERIFY(!cut.toUcs4().contains(0xfffd));
        QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("Short name"));
        QCOMPARE(model.index(2, 0).data().toString(), QStringLiteral("Notes Plu..."));
    }
};

QTEST_GUILESS_MAIN(TestTreeModel)
#include "TestTreeModel.moc"
