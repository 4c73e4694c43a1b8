#include "nodesdockwidgetmenu.h"

#include "appresources.h"
#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "nodesdockwidget.h"
#include "startupflags.h"

#include <QAction>
#include <QIcon>
#include <QPointer>

namespace {

// The node's user-interface Cargo channel and function, and its
// file-transfer channel.
enum : quint8 { CockpitChannel = 123, CockpitFunction = 124, FileTransferChannel = 125 };

} // namespace

NodesDockWidgetMenu::NodesDockWidgetMenu(ErfcNodeInfo* node, NodesDockWidget* dock)
    : QMenu(dock)
    , m_node(node)
    , m_dock(dock)
{
    initAppResources();
    const auto action = [this](const char* icon, const QString& text) {
        return new QAction(icon ? QIcon(QString::fromLatin1(icon)) : QIcon(), text, this);
    };
    m_actionLaunchCockpit = action(":/img/resource/script_ui.png", tr("Launch Cockpit"));
    m_actionReset = action(":/img/resource/refresh.png", tr("Reset"));
    m_actionUploadFirmware = action(":/img/resource/upload_firmware.png", tr("Upload firmware"));
    m_actionInformation = action(":/img/resource/information.png", tr("Information"));
    m_actionStatistic = action(":/img/resource/statistics.png", tr("Statistic"));
    m_actionLog = action(":/img/resource/log.png", tr("Log"));
    m_actionFileExplorer = action(":/img/resource/file_explorer.png", tr("File explorer"));
    m_actionResetMaintenance = action(":/img/resource/refresh.png", tr("Reset Maintenance"));
    m_actionCatchMaintenance = action(nullptr, tr("Catch Maintenance"));
    m_actionServiceMenu = action(":/img/resource/service.png", tr("Service menu"));
    m_actionLoadExternalScript = action(":/img/resource/script_ui.png", tr("Load External Script"));

    m_actionCatchMaintenance->setCheckable(true);

    if (!m_node) {
        // Nothing to act on: only the entries that need no node stay usable.
        setAvailable(false);
        enableByFunctionList({});
        return;
    }
    // The record emits on the stack thread: these arrive queued, also while
    // the menu is open.
    connect(m_node, &QErfcNodeInfo::nodeUpdate, this, &NodesDockWidgetMenu::onNodeUpdate);
    connect(m_node, &QErfcNodeInfo::functionListRefreshed, this,
            &NodesDockWidgetMenu::onFunctionListRefreshed);

    setAvailable(m_node->isAvailable());
    m_actionCatchMaintenance->setChecked(m_node->catchMaintenance());
    enableByFunctionList(m_node->functionList());

    // The answer usually arrives while the menu is shown.
    ErfcNodeManager::instance()->queueRequests(m_node->address(), [](ErfcNodeInfo* record) {
        record->refreshFunctionList(CockpitChannel, FileTransferChannel);
    });
}

NodesDockWidgetMenu::~NodesDockWidgetMenu() = default;

void NodesDockWidgetMenu::setAvailable(bool available)
{
    m_actionReset->setEnabled(available);
    m_actionResetMaintenance->setEnabled(available);
    m_actionStatistic->setEnabled(available);
    m_actionInformation->setEnabled(available);
}

void NodesDockWidgetMenu::enableByFunctionList(const QMap<quint8, QString>& list)
{
    m_actionLaunchCockpit->setEnabled(list.contains(CockpitFunction) && list.contains(CockpitChannel));
    m_actionFileExplorer->setEnabled(list.contains(FileTransferChannel));
}

void NodesDockWidgetMenu::onNodeUpdate(QErfc::DrcUpdate state, QErfc::Mode mode)
{
    Q_UNUSED(mode)
    setAvailable(state == QErfc::NewNode);
    m_actionCatchMaintenance->setChecked(m_node->catchMaintenance());
    enableByFunctionList(m_node->functionList());
}

void NodesDockWidgetMenu::onFunctionListRefreshed(QMap<quint8, QString> list)
{
    enableByFunctionList(list);
}

void NodesDockWidgetMenu::populate()
{
    for (QAction* a : actions())
        removeAction(a);
    addAction(m_actionLaunchCockpit);
    addAction(m_actionReset);
    addAction(m_actionUploadFirmware);
    addAction(m_actionInformation);
    addAction(m_actionStatistic);
    addAction(m_actionLog);
    addAction(m_actionFileExplorer);
    if (showServiceFunctions) {
        addSeparator();
        addAction(m_actionResetMaintenance);
        addAction(m_actionCatchMaintenance);
        addAction(m_actionServiceMenu);
    }
    if (allowExternalScripts) {
        addSeparator();
        addAction(m_actionLoadExternalScript);
    }
}

void NodesDockWidgetMenu::showAndDispatch(const QPoint& pos)
{
    populate();
    // The dock, and this menu with it, may be destroyed while the menu runs.
    QPointer<NodesDockWidgetMenu> self(this);
    QAction* chosen = exec(pos);
    if (self && chosen)
        dispatch(chosen);
}

void NodesDockWidgetMenu::dispatch(QAction* chosen)
{
    if (!m_node || !m_dock)
        return;
    const uchar address = m_node->address();
    ErfcNodeManager* manager = ErfcNodeManager::instance();
    if (chosen == m_actionLaunchCockpit)
        emit m_dock->scriptCargoRequested(address);
    else if (chosen == m_actionReset)
        manager->resetNode(address, QErfc::Application);
    else if (chosen == m_actionUploadFirmware)
        emit m_dock->updateRequested(address);
    else if (chosen == m_actionInformation)
        emit m_dock->informationRequested(address);
    else if (chosen == m_actionStatistic)
        emit m_dock->statisticRequested(address);
    else if (chosen == m_actionLog)
        emit m_dock->logRequested(address);
    else if (chosen == m_actionFileExplorer)
        emit m_dock->cftpFileExplorerRequested(address);
    else if (chosen == m_actionResetMaintenance)
        manager->resetNode(address, QErfc::Maintenance);
    else if (chosen == m_actionCatchMaintenance)
        m_node->setCatchMaintenance(m_actionCatchMaintenance->isChecked());
    else if (chosen == m_actionServiceMenu)
        emit m_dock->serviceMenuRequested(address);
    else if (chosen == m_actionLoadExternalScript)
        emit m_dock->scriptFileRequested(address);
}
