#include "nodesdockwidget.h"

#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "nodesdockwidgetmenu.h"

#include <QHeaderView>
#include <QPointer>
#include <QTreeWidget>

namespace {

enum Row { ModeRow = 0, SerialRow = 1 };

} // namespace

NodesDockWidget::NodesDockWidget(QWidget* parent)
    : QDockWidget(tr("Nodes"), parent)
    , m_tree(new QTreeWidget(this))
{
    setUpTree();
    setWidget(m_tree);

    ErfcNodeManager* manager = ErfcNodeManager::instance();
    connect(manager, &ErfcNodeManager::drcUpdate, this, &NodesDockWidget::onNodeManagerDrcUpdate);
    connect(manager, &ErfcNodeManager::nodeInfoRefreshed, this,
            &NodesDockWidget::onNodeManagerNodeInfoRefreshed);
    connect(m_tree, &QTreeWidget::customContextMenuRequested, this,
            &NodesDockWidget::onTreewidgetMenuRequested);

    // After the (possibly overridden) slots above have changed the entries.
    connect(manager, &ErfcNodeManager::drcUpdate, this, &NodesDockWidget::fitNameColumn);
    connect(manager, &ErfcNodeManager::nodeInfoRefreshed, this, &NodesDockWidget::fitNameColumn);
    connect(m_tree, &QTreeWidget::itemExpanded, this, &NodesDockWidget::fitNameColumn);
    connect(m_tree, &QTreeWidget::itemCollapsed, this, &NodesDockWidget::fitNameColumn);
    connect(m_tree->header(), &QHeaderView::sectionResized, this,
            &NodesDockWidget::onHeaderSectionResized);
}

NodesDockWidget::~NodesDockWidget() = default;

void NodesDockWidget::setUpTree()
{
    m_tree->setHeaderHidden(false);
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({tr("Name"), tr("Values")});
    // Until the first entry: wide enough for one with a short description,
    // below a group, leaving room for the values.
    setNameColumnWidth(2 * m_tree->indentation()
                       + m_tree->fontMetrics().horizontalAdvance(QStringLiteral("00 : Description")));
    m_tree->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setSortingEnabled(true);
    m_tree->sortByColumn(0, Qt::AscendingOrder);
}

void NodesDockWidget::fitNameColumn()
{
    if (m_nameColumnSizedByUser || m_tree->topLevelItemCount() == 0)
        return;
    // The widest name among the expanded rows, with its indentation, and
    // no narrower than the header's label.
    // Through the base: QTreeView keeps its override protected.
    const QAbstractItemView* view = m_tree;
    setNameColumnWidth(qMax(view->sizeHintForColumn(0), m_tree->header()->sectionSizeHint(0)));
}

void NodesDockWidget::onHeaderSectionResized(int logicalIndex)
{
    // Only the user and setNameColumnWidth change the name column; the
    // stretched values column follows the dock's width.
    if (logicalIndex == 0 && !m_settingNameColumn)
        m_nameColumnSizedByUser = true;
}

void NodesDockWidget::setNameColumnWidth(int width)
{
    m_settingNameColumn = true;
    m_tree->setColumnWidth(0, width);
    m_settingNameColumn = false;
}

void NodesDockWidget::updateParentAvailableState(QTreeWidgetItem* parent)
{
    if (!parent)
        return;
    // A disabled item greys its children as well; enable it first so that
    // each child shows its own state again.
    parent->setDisabled(false);
    bool anyEnabled = false;
    for (int i = 0; i < parent->childCount() && !anyEnabled; ++i)
        anyEnabled = !parent->child(i)->isDisabled();
    parent->setDisabled(!anyEnabled);
}

void NodesDockWidget::checkEntry(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode,
                                 QTreeWidgetItem* treeWidgetItem)
{
    if (!treeWidgetItem)
        return;
    if (treeWidgetItem->childCount() == 0) {
        treeWidgetItem->setText(0, QString::number(addr));
        treeWidgetItem->setData(AddressColumn, Qt::DisplayRole, int(addr));
        for (const QString& name : {tr("Mode"), tr("Serial")}) {
            auto* row = new QTreeWidgetItem(treeWidgetItem);
            row->setText(0, name);
            row->setData(AddressColumn, Qt::DisplayRole, int(addr));
        }
    }
    QString text;
    if (state == QErfc::RemovedNode)
        text = tr("Offline");
    else if (mode == QErfc::Maintenance)
        text = tr("Maintenance");
    else
        text = tr("Application");
    treeWidgetItem->child(ModeRow)->setText(1, text);
    treeWidgetItem->setDisabled(state == QErfc::RemovedNode);
}

void NodesDockWidget::updateEntry(uchar addr, QErfcNodeInfo* info, QTreeWidgetItem* treeWidgetItem)
{
    if (!info || !treeWidgetItem || treeWidgetItem->childCount() <= SerialRow)
        return;
    treeWidgetItem->setText(0, QStringLiteral("%1 : %2").arg(addr).arg(info->nodeDescription()));
    treeWidgetItem->child(SerialRow)->setText(1, info->serial());
}

void NodesDockWidget::onNodeManagerDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode)
{
    m_tree->setUpdatesEnabled(false);
    QTreeWidgetItem* entry = m_entries.value(addr);
    if (!entry) {
        entry = new QTreeWidgetItem(m_tree);
        m_entries.insert(addr, entry);
    }
    checkEntry(addr, state, mode, entry);
    entry->setExpanded(true);
    m_tree->setUpdatesEnabled(true);
}

void NodesDockWidget::onNodeManagerNodeInfoRefreshed(uchar addr, QErfcNodeInfo* info)
{
    QTreeWidgetItem* entry = m_entries.value(addr);
    if (!entry)
        return;
    m_tree->setUpdatesEnabled(false);
    entry->setDisabled(false);
    updateEntry(addr, info, entry);
    m_tree->setUpdatesEnabled(true);
}

void NodesDockWidget::onTreewidgetMenuRequested(QPoint pos)
{
    QTreeWidgetItem* item = m_tree->itemAt(pos);
    if (!item)
        return;
    const QVariant address = item->data(AddressColumn, Qt::DisplayRole);
    bool ok = false;
    const uint addr = address.toUInt(&ok);
    if (!address.isValid() || !ok || addr > 62)
        return;
    // An entry without a record (none was ever made for it) opens no menu.
    ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(quint8(addr));
    if (!record)
        return;
    // On the heap: the dock, and the menu with it, may go while it is open.
    QPointer<NodesDockWidgetMenu> menu = new NodesDockWidgetMenu(record, this);
    menu->showAndDispatch(m_tree->viewport()->mapToGlobal(pos));
    delete menu.data();
}
