#include "nodeshardwaredockwidget.h"

#include "qerfcnodeinfo.h"

#include <QTreeWidget>

NodesHardwareDockWidget::NodesHardwareDockWidget(QWidget* parent)
    : NodesDockWidget(parent)
{
    setWindowTitle(tr("Devices"));
    setUpTree();
    m_unidentified = new QTreeWidgetItem(m_tree, QStringList(tr("Unidentified")));
}

NodesHardwareDockWidget::~NodesHardwareDockWidget() = default;

void NodesHardwareDockWidget::onNodeManagerDrcUpdate(uchar addr, QErfc::DrcUpdate state,
                                                     QErfc::Mode mode)
{
    m_tree->setUpdatesEnabled(false);
    QTreeWidgetItem* entry = m_entries.value(addr);
    if (!entry) {
        entry = new QTreeWidgetItem(m_unidentified);
        m_entries.insert(addr, entry);
        m_unidentified->setExpanded(true);
    }
    checkEntry(addr, state, mode, entry);
    // A present node must not stay greyed by a group that was greyed when
    // its other entries left; its information may be long in coming.
    QTreeWidgetItem* group = entry->parent();
    if (state == QErfc::NewNode && group && group->isDisabled())
        group->setDisabled(false);
    entry->setExpanded(true);
    m_tree->setUpdatesEnabled(true);
}

void NodesHardwareDockWidget::onNodeManagerNodeInfoRefreshed(uchar addr, QErfcNodeInfo* info)
{
    QTreeWidgetItem* entry = m_entries.value(addr);
    if (!entry || !info)
        return;
    m_tree->setUpdatesEnabled(false);
    entry->setDisabled(false);

    const QString serial = info->serial();
    QTreeWidgetItem* group = nullptr;
    if (serial.isEmpty()) {
        if (entry->parent() != m_unidentified)
            moveEntry(entry, m_unidentified);
    } else {
        group = m_groups.value(serial);
        if (!group) {
            group = new QTreeWidgetItem(m_tree, QStringList(serial));
            m_groups.insert(serial, group);
        }
        moveEntry(entry, group);
    }

    updateEntry(addr, info, entry);
    if (group)
        group->setExpanded(true);
    entry->setExpanded(true);
    m_tree->setUpdatesEnabled(true);
}

void NodesHardwareDockWidget::moveEntry(QTreeWidgetItem* entry, QTreeWidgetItem* group)
{
    QTreeWidgetItem* oldParent = entry->parent();
    if (oldParent != group) {
        if (oldParent)
            oldParent->removeChild(entry);
        group->addChild(entry);
    }
    group->setDisabled(false);
    updateParentAvailableState(oldParent);
}
