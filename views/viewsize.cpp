#include "viewsize_p.h"

#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTreeView>

int treeColumnWidth(const QTreeView* tree, int column)
{
    if (tree->isColumnHidden(column))
        return 0;
    // Through the base: QTreeView keeps its override protected.
    const QAbstractItemView* view = tree;
    const QHeaderView* header = tree->header();
    int width = qMax(view->sizeHintForColumn(column), header->minimumSectionSize());
    if (!tree->isHeaderHidden())
        width = qMax(width, header->sectionSizeHint(column));
    // A stretched last column is as wide as the room left; any other is
    // as wide as it is.
    if (column < header->count() - 1 || !header->stretchLastSection())
        width = qMax(width, tree->columnWidth(column));
    return width;
}

int treeContentWidth(const QTreeView* tree)
{
    int width = 2 * tree->frameWidth();
    for (int column = 0; column < tree->header()->count(); ++column)
        width += treeColumnWidth(tree, column);
    return width;
}

int treeContentHeight(const QTreeView* tree)
{
    const QAbstractItemView* view = tree;
    const QAbstractItemModel* model = tree->model();
    int height = 2 * tree->frameWidth();
    if (!tree->isHeaderHidden())
        height += tree->header()->sizeHint().height();
    const int rows = model ? model->rowCount(tree->rootIndex()) : 0;
    for (int row = 0; row < rows; ++row)
        height += qMax(view->sizeHintForRow(row), 0);
    return height;
}

QSize boundedToMdiArea(const QWidget* view, QSize size)
{
    const auto* window = qobject_cast<const QMdiSubWindow*>(view->parentWidget());
    const QMdiArea* area = window ? window->mdiArea() : nullptr;
    if (!area)
        return size;
    // The sub-window keeps its title bar and frame as contents margins.
    const QMargins frame = window->contentsMargins();
    const QSize room = area->viewport()->size()
                       - QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    return size.boundedTo(room.expandedTo(QSize(0, 0)));
}
