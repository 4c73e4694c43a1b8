#ifndef NODEINFOROWS_P_H
#define NODEINFOROWS_P_H

#include <QPair>
#include <QString>
#include <QUrl>
#include <QVector>

class QTreeWidget;

// One row of a node's information or statistics: label and value text.
using NodeInfoRow = QPair<QString, QString>;

// Makes every column of a new tree as narrow as its header allows, the
// rows then widening them, and keeps the last column from stretching: a
// stretched column keeps a least width of its own that the rows do not
// show, so the window could not ask for the width its rows need.
void startNodeInfoColumns(QTreeWidget* tree);

// Replaces the tree's rows with `rows`, repainting once; a column widens to
// fit longer texts but never narrows.
void fillNodeInfoRows(QTreeWidget* tree, const QVector<NodeInfoRow>& rows);

// The web address a node's domain text stands for: an http or https URL as
// it is, a text without a scheme (a host, host:port, host/path) behind
// "http://". Anything else (file:, mailto:, a program's own scheme) gives an
// empty URL: the text comes from the node and must not start local programs.
QUrl nodeDomainUrl(const QString& domain);

#endif // NODEINFOROWS_P_H
