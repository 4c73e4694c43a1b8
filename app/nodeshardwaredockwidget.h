#ifndef NODESHARDWAREDOCKWIDGET_H
#define NODESHARDWAREDOCKWIDGET_H

#include "nodesdockwidget.h"

#include <QHash>
#include <QString>

// The node tree by hardware: the same entries as NodesDockWidget, grouped
// under one top-level item per serial number, so that the nodes of one
// device stand together. Nodes whose serial is empty or not known yet stand
// under "Unidentified". A group is greyed when the last enabled entry leaves it.
class NodesHardwareDockWidget : public NodesDockWidget
{
    Q_OBJECT
public:
    explicit NodesHardwareDockWidget(QWidget* parent = nullptr);
    ~NodesHardwareDockWidget() override;

protected slots:
    void onNodeManagerDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) override;
    void onNodeManagerNodeInfoRefreshed(uchar addr, QErfcNodeInfo* info) override;

private:
    // Moves the entry under `group` and enables the group; the group it
    // leaves is greyed when no enabled entry is left in it.
    void moveEntry(QTreeWidgetItem* entry, QTreeWidgetItem* group);

    QTreeWidgetItem* m_unidentified;
    QHash<QString, QTreeWidgetItem*> m_groups;
};

#endif // NODESHARDWAREDOCKWIDGET_H
