#ifndef NODESDOCKWIDGET_H
#define NODESDOCKWIDGET_H

#include "qerfc.h"

#include <QDockWidget>
#include <QHash>
#include <QPoint>

class QErfcNodeInfo;
class QTreeWidget;
class QTreeWidgetItem;

// The node tree: one entry per node address the node manager reports, with
// the rows "Mode" and "Serial". An offline node's entry is greyed. A right
// click on a node opens the node menu, whose requests leave through this
// dock's signals. The name column is as wide as the longest name shown
// until the user sizes it.
class NodesDockWidget : public QDockWidget
{
    Q_OBJECT
public:
    explicit NodesDockWidget(QWidget* parent = nullptr);
    ~NodesDockWidget() override;

    QTreeWidget* treeWidget() const { return m_tree; }

    // The column that carries the node address of an entry and its rows
    // (display role, not shown).
    static constexpr int AddressColumn = 2;

signals:
    void scriptFileRequested(uchar addr);
    void scriptCargoRequested(uchar addr);
    void updateRequested(uchar addr);
    void informationRequested(uchar addr);
    void statisticRequested(uchar addr);
    void logRequested(uchar addr);
    void cftpFileExplorerRequested(uchar addr);
    void serviceMenuRequested(uchar addr);

protected slots:
    virtual void updateParentAvailableState(QTreeWidgetItem* parent);
    virtual void checkEntry(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode,
                            QTreeWidgetItem* treeWidgetItem);
    virtual void updateEntry(uchar addr, QErfcNodeInfo* info, QTreeWidgetItem* treeWidgetItem);
    virtual void onNodeManagerDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode);
    virtual void onNodeManagerNodeInfoRefreshed(uchar addr, QErfcNodeInfo* info);
    virtual void onTreewidgetMenuRequested(QPoint pos);

protected:
    // Header, scroll bar, menu policy and sorting of the tree.
    void setUpTree();

    QHash<quint8, QTreeWidgetItem*> m_entries;
    QTreeWidget* m_tree;

private:
    // Until the user sizes the name column, it takes the width of the
    // longest name shown.
    void fitNameColumn();
    void onHeaderSectionResized(int logicalIndex);
    void setNameColumnWidth(int width);

    bool m_nameColumnSizedByUser = false;
    bool m_settingNameColumn = false;
};

#endif // NODESDOCKWIDGET_H
