#ifndef VIEWSIZE_P_H
#define VIEWSIZE_P_H

#include <QSize>

class QTreeView;
class QWidget;

// The width one column needs: its widest text of the rows shown (or its
// header label, when the header is shown), no narrower than the header
// allows, and no narrower than it is now unless it is the stretched last
// column, which gets what the others leave.
int treeColumnWidth(const QTreeView* tree, int column);

// The width a tree needs to show every column uncut, with its frame and
// without scroll bars.
int treeContentWidth(const QTreeView* tree);

// The height a tree of top-level rows needs to show them all: the rows,
// the header when shown, and the frame.
int treeContentHeight(const QTreeView* tree);

// `size` cut to the room the multi-document area holding `view` offers its
// sub-window's contents; unchanged for a view outside such an area.
QSize boundedToMdiArea(const QWidget* view, QSize size);

#endif // VIEWSIZE_P_H
