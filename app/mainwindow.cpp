#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "cargo2updatedialog.h"
#include "connectiondialog.h"
#include "erfcdebuglogdockwidget.h"
#include "erfcdevice.h"
#include "erfcnodeinfo.h"
#include "erfcnodeinformationwidget.h"
#include "erfcnodemanager.h"
#include "erfcnodestatisticwidget.h"
#include "servicemenuwidget.h"
#include "logdockwidget.h"
#include "nodesdockwidget.h"
#include "qcargonode.h"
#include "nodeshardwaredockwidget.h"
#include "qcftpfileexplorerwidget.h"
#include "qerfcexception.h"
#include "qerfcguiwait.h"
#include "qerfcstreaminterface.h"
#include "qversiondialog.h"
#include "scriptwidget.h"
#include "texteditorwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QDebug>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPointer>

namespace {

// The address the window takes before the first connection chooses one.
constexpr uchar UnconnectedAddress = 59;
// Addresses 0..62 are nodes; 63 is the broadcast address.
constexpr uint HighestOwnAddress = 62;

} // namespace

const char* const MainWindow::NodeUniqueIdProperty = "_QWIDGET_PROPERTY_NODE_UNIQUE_ID";

MainWindow::MainWindow(QErfcStack* stack, QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , m_erfcStack(stack)
{
    ui->setupUi(this);

    m_labelState = new QLabel(tr("State: Unconnected"), this);
    m_labelState->setObjectName(QStringLiteral("labelState"));
    statusBar()->addWidget(m_labelState, 10);
    m_labelConnectionError = new QLabel(this);
    m_labelConnectionError->setObjectName(QStringLiteral("labelConnectionError"));
    statusBar()->addWidget(m_labelConnectionError, 10);
    m_labelRx = new QLabel(tr("RX: - "), this);
    m_labelRx->setObjectName(QStringLiteral("labelRx"));
    statusBar()->addWidget(m_labelRx, 2);
    m_labelTx = new QLabel(tr("TX: - "), this);
    m_labelTx->setObjectName(QStringLiteral("labelTx"));
    statusBar()->addWidget(m_labelTx, 2);
    // The fields keep their width while their texts change, so that the
    // window's minimum size does not follow every rate update.
    const int rateWidth = fontMetrics().horizontalAdvance(QStringLiteral("RX: 0000000 B/s"));
    m_labelRx->setMinimumWidth(rateWidth);
    m_labelTx->setMinimumWidth(rateWidth);
    m_labelState->setMinimumWidth(1);
    m_labelConnectionError->setMinimumWidth(1);

    m_statusBarUpdateTimer.setInterval(1000);
    connect(&m_statusBarUpdateTimer, &QTimer::timeout, this,
            &MainWindow::onStatusBarUpdateTimerTimeout);
    m_statusBarUpdateTimer.start();

    ui->mdiAreaNodeScripts->setViewMode(QMdiArea::SubWindowView);

    m_nodesDockWidget = new NodesDockWidget(this);
    m_nodesDockWidget->setObjectName(QStringLiteral("nodesDockWidget"));
    connectNodeTree(m_nodesDockWidget);
    addDockWidget(Qt::LeftDockWidgetArea, m_nodesDockWidget);

    m_nodesHardwareDockWidget = new NodesHardwareDockWidget(this);
    m_nodesHardwareDockWidget->setObjectName(QStringLiteral("nodesHardwareDockWidget"));
    connectNodeTree(m_nodesHardwareDockWidget);
    addDockWidget(Qt::LeftDockWidgetArea, m_nodesHardwareDockWidget);
    tabifyDockWidget(m_nodesDockWidget, m_nodesHardwareDockWidget);

    m_systemLog = new LogDockWidget(tr("System log"), this);
    m_systemLog->setObjectName(QStringLiteral("systemLog"));
    addDockWidget(Qt::BottomDockWidgetArea, m_systemLog);
    m_nodesDockWidget->raise();
    // Room for a node's name and values beside the views; the log keeps
    // a few lines.
    resizeDocks({m_nodesDockWidget}, {300}, Qt::Horizontal);
    resizeDocks({m_systemLog}, {150}, Qt::Vertical);

    m_erfcStack->setAddress(UnconnectedAddress);
    m_erfcStack->setPrivilege(QErfc::Developer);

    ErfcNodeManager* manager = ErfcNodeManager::instance();
    manager->setStack(m_erfcStack);
    connect(manager, &ErfcNodeManager::drcUpdate, this, &MainWindow::onNodeManagerDrcUpdate);
    connect(manager, &ErfcNodeManager::nodeInfoRefreshed, this,
            &MainWindow::onNodeManagerNodeInfoRefreshed);
    connect(manager, &ErfcNodeManager::message, this, &MainWindow::onNodeManagerMessage);

    // Added on the thread that reports them (mostly the stack thread): a
    // queued call per frame piles up in this thread's event queue when a
    // peer floods the link faster than this thread serves its events. The
    // calls touch only the shared counters, never this window.
    const std::shared_ptr<TrafficBytes> traffic = m_traffic;
    m_trafficRxConnection = connect(m_erfcStack, &QErfcStack::trafficRx, m_erfcStack,
                                    [traffic](int bytes) { traffic->rx += bytes; },
                                    Qt::DirectConnection);
    m_trafficTxConnection = connect(m_erfcStack, &QErfcStack::trafficTx, m_erfcStack,
                                    [traffic](int bytes) { traffic->tx += bytes; },
                                    Qt::DirectConnection);

    setWindowTitle(QStringLiteral("quorvel Explorer"));

    m_erfcStack->enable();
}

MainWindow::~MainWindow()
{
    // The views, docks and script windows still use the stack and the node
    // manager: they go first, while both are intact.
    disconnect(ErfcNodeManager::instance(), nullptr, this, nullptr);
    disconnect(m_trafficRxConnection);
    disconnect(m_trafficTxConnection);
    m_nodeWindows.clear();
    m_scriptWindows.clear();
    m_debugLogs.clear(); // the docks below
    // Downloads still in flight have no parent: they go before the stack.
    const QSet<QCargoNode*> downloads = m_downloads;
    m_downloads.clear();
    qDeleteAll(downloads);
    // A script window closed while its script was still unwinding has left
    // the area; it waits, hidden, as a child of this window.
    QList<QMdiSubWindow*> subWindows = ui->mdiAreaNodeScripts->subWindowList();
    subWindows += findChildren<QMdiSubWindow*>(QString(), Qt::FindDirectChildrenOnly);
    for (QMdiSubWindow* window : subWindows)
        delete window;
    const QList<QDockWidget*> docks = findChildren<QDockWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QDockWidget* dock : docks)
        delete dock;
    m_nodesDockWidget = nullptr;
    m_nodesHardwareDockWidget = nullptr;
    m_systemLog = nullptr;

    // The goodbye is queued to the stack thread; releasing the link writes
    // it and then closes the device on that thread.
    disableErfcStack();
    ErfcNodeManager::instance()->setStack(nullptr);
    releaseErfcInterface();
    delete ui;
    // The stack is destroyed after the window, by its creator.
}

// ---------------------------------------------------------------- connecting

bool MainWindow::checkOwnAddress(uint ownAddress)
{
    if (ownAddress <= HighestOwnAddress)
        return true;
    showConnectionError(tr("Invalid own address %1 (0..62)").arg(ownAddress));
    return false;
}

void MainWindow::showConnectionError(const QString& text)
{
    const QString line = tr("Connection Error: ") + text;
    m_labelConnectionError->setText(line);
    printSystemLog(line);
}

void MainWindow::printSystemLog(const QString& line)
{
    m_systemLog->onPrintMessage(line);
    // Also a diagnostic line, so that a run without a display shows it too.
    qInfo().noquote() << line;
}

void MainWindow::openSerialConnection(const QString& portName, quint32 baudRate, uchar ownAddress)
{
    if (!checkOwnAddress(ownAddress))
        return;
    ConnectionDialog dialog(this);
    dialog.openSerial(portName, baudRate);
    connectDevice(dialog.device(), dialog.description(), ownAddress);
}

void MainWindow::openTcpConnection(const QString& ip, quint16 port, uchar ownAddress)
{
    if (!checkOwnAddress(ownAddress))
        return;
    ConnectionDialog dialog(this);
    dialog.openTcp(ip, port);
    connectDevice(dialog.device(), dialog.description(), ownAddress);
}

void MainWindow::selectConnection(uchar ownAddress)
{
    // Reported, but the dialog still opens: it offers 0..62 only.
    checkOwnAddress(ownAddress);
    ConnectionDialog dialog(this);
    dialog.setOwnAddress(ownAddress);
    dialog.exec();
    if (!dialog.device())
        return;
    connectDevice(dialog.device(), dialog.description(), uchar(dialog.ownAddress()));
}

void MainWindow::connectDevice(ErfcDevice* device, const QString& description, uchar ownAddress)
{
    disableErfcStack();
    try {
        m_erfcStack->setAddress(ownAddress);
    } catch (const QErfcException&) {
        // Checked before (the dialog offers node addresses only).
    }
    releaseErfcInterface();

    m_device = device;
    // Emitted on the stack thread: arrives queued, maybe only after this
    // device has been replaced (a line lost just before), when it no longer
    // describes the connection shown.
    const QPointer<ErfcDevice> reporting(m_device);
    connect(m_device, &ErfcDevice::error, this, [this, reporting](const QString& msg) {
        if (reporting && reporting == m_device)
            onErfcDeviceError(msg);
    });
    m_labelState->setText(QStringLiteral("%1 %2").arg(tr("State:"), description));
    m_labelConnectionError->clear();

    bindErfcInterface();
    enableErfcStack();
}

void MainWindow::disableErfcStack()
{
    try {
        m_erfcStack->disable();
    } catch (const QErfcException&) {
    }
}

void MainWindow::enableErfcStack()
{
    try {
        m_erfcStack->enable();
    } catch (const QErfcException&) {
    }
}

void MainWindow::releaseErfcInterface()
{
    if (m_interface) {
        // Waits for the stack thread: a node's call of a script function
        // meanwhile is given up instead of waiting for this thread.
        QErfcGuiWait guiWait;
        bool closed = true;
        try {
            m_erfcStack->releaseInterface(m_interface);
        } catch (const QErfcException& e) {
            // The stack thread did not take up the close in time: it may
            // still use the device, which is left to it instead of freed.
            closed = e.code() != QErfcException::TimeoutError;
        }
        if (closed) {
            delete m_interface;
            delete m_device;
        }
    }
    m_interface = nullptr;
    m_device = nullptr;
}

void MainWindow::bindErfcInterface()
{
    m_interface = new QErfcStreamInterface(m_device);
    // Once per stall: every frame is dropped meanwhile, so say it once.
    connect(m_interface, &QErfcStreamInterface::stalled, this, [this] {
        printSystemLog(tr("Connection stalled: the other side takes no data, frames are dropped"));
    });
    QErfcGuiWait guiWait;
    try {
        // Opens the device on the stack thread; waits up to 30 s for a TCP
        // connect. A failed open stays bound, so that Reconnect retries it.
        m_erfcStack->bindInterface(m_interface);
    } catch (const QErfcException&) {
    }
}

void MainWindow::on_actionConnectionSelect_triggered()
{
    selectConnection(m_erfcStack->address());
}

void MainWindow::on_actionConnectionReconnect_triggered()
{
    if (!m_interface) {
        QMessageBox::information(this, tr("Error"), tr("Select connection first!"), QMessageBox::Ok);
        return;
    }
    disableErfcStack();
    QErfcGuiWait guiWait;
    try {
        m_erfcStack->releaseInterface(m_interface);
    } catch (const QErfcException&) {
    }
    m_labelConnectionError->clear();
    try {
        m_erfcStack->bindInterface(m_interface);
    } catch (const QErfcException&) {
    }
    enableErfcStack();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The file explorers close first, each closing its editors, which ask
    // about unsaved text; then the editors that outlived their explorer. One
    // that stays keeps the application running.
    QPointer<MainWindow> self(this);
    const QList<QMdiSubWindow*> list = ui->mdiAreaNodeScripts->subWindowList();
    for (const QPointer<QMdiSubWindow>& window : QList<QPointer<QMdiSubWindow>>(list.cbegin(), list.cend())) {
        if (window && qobject_cast<QCFTPFileExplorerWidget*>(window->widget()) && !window->close()) {
            if (self)
                event->ignore();
            return;
        }
        if (!self)
            return;
    }
    const QList<QWidget*> topLevel = QApplication::topLevelWidgets();
    for (const QPointer<QWidget>& widget : QList<QPointer<QWidget>>(topLevel.cbegin(), topLevel.cend())) {
        auto* editor = qobject_cast<TextEditorWindow*>(widget.data());
        if (editor && editor->isVisible() && !editor->close()) {
            if (self)
                event->ignore();
            return;
        }
        if (!self)
            return;
    }

    // A script inside an evaluation (events are handled during a long one)
    // would keep the application from ending: each is stopped.
    for (QMdiSubWindow* window : ui->mdiAreaNodeScripts->subWindowList()) {
        if (qobject_cast<ScriptWidget*>(window->widget()))
            window->close();
    }

    QMainWindow::closeEvent(event);
    // Editors and script debuggers are top-level windows of their own; the
    // application ends with this window all the same.
    if (event->isAccepted())
        QCoreApplication::quit();
}

// ---------------------------------------------------------------- status bar and log

void MainWindow::onStatusBarUpdateTimerTimeout()
{
    m_labelRx->setText(tr("RX: %1 B/s").arg(quint64(m_traffic->rx.exchange(0))));
    m_labelTx->setText(tr("TX: %1 B/s").arg(quint64(m_traffic->tx.exchange(0))));
}

void MainWindow::onErfcTrafficRx(int bytes)
{
    m_traffic->rx += bytes;
}

void MainWindow::onErfcTrafficTx(int bytes)
{
    m_traffic->tx += bytes;
}

void MainWindow::onErfcDeviceError(const QString& msg)
{
    // Logged too: a line lost long after the connect may otherwise go
    // unnoticed, and the label is cleared by the next connect.
    showConnectionError(msg);
}

void MainWindow::onNodeManagerDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode)
{
    const QString modeText = mode == QErfc::Maintenance ? tr("Maintenance") : tr("Application");
    if (state == QErfc::NewNode)
        printSystemLog(tr("Node %1, connected to %2 ...").arg(addr).arg(modeText));
    else
        printSystemLog(tr("Node %1, %2 disconnected ...").arg(addr).arg(modeText));
}

void MainWindow::onNodeManagerMessage(const QString& message)
{
    printSystemLog(message);
}

// ---------------------------------------------------------------- node views

void MainWindow::connectNodeTree(NodesDockWidget* tree)
{
    connect(tree, &NodesDockWidget::scriptFileRequested, this,
            &MainWindow::onNodesDockWidgetScriptFileRequested);
    connect(tree, &NodesDockWidget::updateRequested, this, &MainWindow::onNodesDockWidgetUpdateRequested);
    connect(tree, &NodesDockWidget::scriptCargoRequested, this,
            &MainWindow::onNodesDockWidgetScriptCargoRequested);
    connect(tree, &NodesDockWidget::informationRequested, this,
            &MainWindow::onNodesDockWidgetInformationRequested);
    connect(tree, &NodesDockWidget::statisticRequested, this,
            &MainWindow::onNodesDockWidgetStatisitcRequested);
    connect(tree, &NodesDockWidget::logRequested, this, &MainWindow::onNodesDockWidgetLogRequested);
    connect(tree, &NodesDockWidget::cftpFileExplorerRequested, this,
            &MainWindow::onNodesDockWidgetCftpFileExplorerRequested);
    connect(tree, &NodesDockWidget::serviceMenuRequested, this,
            &MainWindow::onNodesDockWidgetServiceMenuRequested);
}

void MainWindow::dockScriptLog(QObject* script, LogDockWidget* log, bool shown)
{
    connect(script, &QObject::destroyed, log, &QWidget::hide);
    connect(script, &QObject::destroyed, log, &QObject::deleteLater);
    addDockWidget(Qt::BottomDockWidgetArea, log);
    tabifyDockWidget(m_systemLog, log);
    if (shown) {
        log->show();
        log->raise();
    } else {
        log->hide();
    }
}

bool MainWindow::startScriptWindow(ScriptWidget* script, LogDockWidget* log, bool logShown,
                                   const std::function<bool()>& start,
                                   const std::function<void(QMdiSubWindow*)>& shown)
{
    const uchar addr = script->currentAddr();
    connect(script, &ScriptWidget::printDebugMessage, log, &LogDockWidget::onPrintMessage);
    connect(script, &ScriptWidget::stopped, this, &MainWindow::printSystemLog);
    // A stopped script's window leaves the screen at once, its log with it.
    connect(script, &ScriptWidget::stopped, log, &QWidget::hide);
    QPointer<QMdiSubWindow> window;
    bool docked = false;
    // Inside start(), once the engine is ready and before the script runs.
    connect(script, &ScriptWidget::aboutToRun, this, [&] {
        dockScriptLog(script, log, logShown); // the log goes with the script from here on
        docked = true;
        window = ui->mdiAreaNodeScripts->addSubWindow(script);
        connect(window, &QMdiSubWindow::windowStateChanged, this, &MainWindow::onMdiWindowStateChanged);
        window->setWindowIcon(script->windowIcon());
        // The script names its window as it starts.
        const auto title = [window = window.data(), addr](const QString& name) {
            window->setWindowTitle(tr("Node %1: ").arg(addr) + name);
        };
        title(script->windowTitle());
        connect(script, &QWidget::windowTitleChanged, window, title);
        if (shown)
            shown(window);
        script->show();
    });
    const bool started = start();
    disconnect(script, &ScriptWidget::aboutToRun, this, nullptr);
    if (started)
        return true;
    if (!docked)
        delete log;
    if (window)
        delete window.data(); // the script with it
    else
        delete script;
    return false;
}

void MainWindow::onNodesDockWidgetScriptFileRequested(uchar addr)
{
    auto* script = new ScriptWidget(m_erfcStack, addr, this);
    auto* log = new LogDockWidget(tr("UI Log Node %1").arg(addr), this);
    startScriptWindow(script, log, true, [script] { return script->loadScriptFile(); }, nullptr);
}

void MainWindow::onNodesDockWidgetUpdateRequested(uchar addr)
{
    Cargo2UpdateDialog dialog(m_erfcStack, addr, this);
    dialog.setWindowTitle(tr("Update Firmware Node %1").arg(addr));
    dialog.setWindowIcon(QIcon(QStringLiteral(":/img/resource/upload_firmware.png")));
    if (dialog.exec() != 0)
        QMessageBox::information(this, tr("Error"), dialog.errorString(), QMessageBox::Ok);
}

void MainWindow::onNodesDockWidgetInformationRequested(uchar addr)
{
    const ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(addr);
    if (!record) {
        QMessageBox::information(this, tr("Error"), tr("Target not available."), QMessageBox::Ok);
        return;
    }
    auto* view = new ErfcNodeInformationWidget(addr, this);
    view->setWindowTitle(tr("%1 : %2 - Information").arg(addr).arg(record->nodeDescription()));
    QMdiSubWindow* window = ui->mdiAreaNodeScripts->addSubWindow(view);
    connect(window, &QMdiSubWindow::windowStateChanged, this, &MainWindow::onMdiWindowStateChanged);
    // The sub-window, so that a replaced node leaves no empty frame behind.
    registerNodeWindow(addr, window);
    window->setWindowIcon(QIcon(QStringLiteral(":/img/resource/information.png")));
    view->show();
}

void MainWindow::onNodesDockWidgetStatisitcRequested(uchar addr)
{
    const ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(addr);
    if (!record) {
        QMessageBox::information(this, tr("Error"), tr("Target not available."), QMessageBox::Ok);
        return;
    }
    auto* view = new ErfcNodeStatisticWidget(addr, this);
    view->setWindowTitle(tr("%1 : %2 - Statistic").arg(addr).arg(record->nodeDescription()));
    QMdiSubWindow* window = ui->mdiAreaNodeScripts->addSubWindow(view);
    connect(window, &QMdiSubWindow::windowStateChanged, this, &MainWindow::onMdiWindowStateChanged);
    // The sub-window, so that a replaced node leaves no empty frame behind.
    registerNodeWindow(addr, window);
    window->setWindowIcon(QIcon(QStringLiteral(":/img/resource/statistics.png")));
    view->show();
}

void MainWindow::onNodesDockWidgetLogRequested(uchar addr)
{
    if (m_debugLogs.contains(addr)) {
        QMessageBox::information(this, tr("Error"), tr("Node log is already open!"));
        return;
    }
    auto* view = new ErfcDebugLogDockWidget(m_erfcStack, addr, this);
    m_debugLogs.insert(addr, view);
    addDockWidget(Qt::BottomDockWidgetArea, view);
    tabifyDockWidget(m_systemLog, view);
    view->show();
    view->raise();
    connect(view, &ErfcDebugLogDockWidget::closed, this, &MainWindow::onErfcDebugLogDockWidgetClosed);
}

void MainWindow::onErfcDebugLogDockWidgetClosed()
{
    auto* view = qobject_cast<ErfcDebugLogDockWidget*>(sender());
    const uchar addr = m_debugLogs.key(view, 0);
    if (!view || m_debugLogs.value(addr) != view)
        return;
    m_debugLogs.remove(addr);
    // Not inside its own close handling; its destructor unsubscribes.
    view->deleteLater();
}

void MainWindow::onNodesDockWidgetCftpFileExplorerRequested(uchar addr)
{
    if (m_fileExplorers.value(addr)) {
        QMessageBox::information(this, tr("Error"), tr("Only one file explorer per node is allowed"),
                                 QMessageBox::Ok);
        return;
    }
    // The explorer asks for the login while it is being built.
    auto* explorer = new QCFTPFileExplorerWidget(m_erfcStack, addr, this);
    m_fileExplorers.insert(addr, explorer);
    explorer->setWindowTitle(tr("File Explorer Node %1").arg(addr));
    QMdiSubWindow* window = ui->mdiAreaNodeScripts->addSubWindow(explorer);
    connect(window, &QMdiSubWindow::windowStateChanged, this, &MainWindow::onMdiWindowStateChanged);
    registerNodeWindow(addr, window);
    window->setWindowIcon(QIcon(QStringLiteral(":/img/resource/file_explorer.png")));
    explorer->show();
}

void MainWindow::onNodesDockWidgetServiceMenuRequested(uchar addr)
{
    auto* view = new ServiceMenuWidget(m_erfcStack, addr, this);
    view->setWindowTitle(tr("Service Menu Node %1").arg(addr));
    QMdiSubWindow* window = ui->mdiAreaNodeScripts->addSubWindow(view);
    connect(window, &QMdiSubWindow::windowStateChanged, this, &MainWindow::onMdiWindowStateChanged);
    window->setWindowIcon(QIcon(QStringLiteral(":/img/resource/service.png")));
    view->show();
}

void MainWindow::registerNodeWindow(uchar addr, QWidget* widget)
{
    // A node without a record counts as one with an empty unique id.
    const ErfcNodeInfo* record = ErfcNodeManager::instance()->nodeInfo(addr);
    widget->setProperty(NodeUniqueIdProperty, record ? record->uniqueId() : QByteArray());
    connect(widget, &QObject::destroyed, this, &MainWindow::onNodeHashWidgetDestroyed);
    m_nodeWindows[addr].append(widget);
}

void MainWindow::onNodeManagerNodeInfoRefreshed(uchar addr, QErfcNodeInfo* info)
{
    const auto entry = m_nodeWindows.find(addr);
    if (entry == m_nodeWindows.end())
        return;
    const QByteArray uniqueId = info ? info->uniqueId() : QByteArray();
    // No id (nothing read, or the read failed) tells no other node: the
    // views stay.
    if (uniqueId.isEmpty())
        return;
    const QList<QWidget*> widgets = entry.value();
    for (QWidget* widget : widgets) {
        const QVariant tag = widget->property(NodeUniqueIdProperty);
        if (!tag.isValid() || tag.toByteArray() == uniqueId)
            continue;
        // Opened before the node's information arrived: the first id the
        // node reports is the one the view belongs to.
        if (tag.toByteArray().isEmpty()) {
            widget->setProperty(NodeUniqueIdProperty, uniqueId);
            continue;
        }
        // Opened for the node that was at this address before.
        entry.value().removeOne(widget);
        auto* window = qobject_cast<QMdiSubWindow*>(widget);
        if (window && (qobject_cast<QCFTPFileExplorerWidget*>(window->widget())
                       || qobject_cast<ScriptWidget*>(window->widget()))) {
            // Closed, not deleted: each of an explorer's editors with
            // unsaved text asks first, and one the user keeps keeps the
            // explorer open; a script still inside an evaluation is stopped
            // and goes once that has unwound. Queued, so that no question
            // waits inside the node manager's signal; a kept explorer is not
            // asked about again.
            QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
            continue;
        }
        widget->deleteLater();
    }
}

void MainWindow::onNodeHashWidgetDestroyed(QObject* widget)
{
    // Compared as QObject pointers only: the widget part is already gone.
    for (auto it = m_scriptWindows.begin(); it != m_scriptWindows.end(); ++it) {
        if (static_cast<QObject*>(it.value()) == widget) {
            m_scriptWindows.erase(it);
            break;
        }
    }
    for (QList<QWidget*>& widgets : m_nodeWindows) {
        for (int i = 0; i < widgets.size(); ++i) {
            if (static_cast<QObject*>(widgets.at(i)) == widget) {
                widgets.removeAt(i);
                break;
            }
        }
    }
}

// ---------------------------------------------------------------- view modes

void MainWindow::onMdiWindowStateChanged(Qt::WindowStates oldState, Qt::WindowStates newState)
{
    Q_UNUSED(oldState)
    if (newState & Qt::WindowMaximized) {
        ui->actionTab_views->setChecked(true);
        ui->mdiAreaNodeScripts->setViewMode(QMdiArea::TabbedView);
    }
}

void MainWindow::on_actionTile_Views_triggered()
{
    ui->actionTab_views->setChecked(false);
    ui->mdiAreaNodeScripts->setViewMode(QMdiArea::SubWindowView);
    ui->mdiAreaNodeScripts->tileSubWindows();
}

void MainWindow::on_actionCascade_Views_triggered()
{
    ui->actionTab_views->setChecked(false);
    ui->mdiAreaNodeScripts->setViewMode(QMdiArea::SubWindowView);
    ui->mdiAreaNodeScripts->cascadeSubWindows();
}

void MainWindow::on_actionTab_views_triggered(bool checked)
{
    ui->mdiAreaNodeScripts->setViewMode(checked ? QMdiArea::TabbedView : QMdiArea::SubWindowView);
}

void MainWindow::on_actionInformation_triggered()
{
    showVersionDialog(this);
}
