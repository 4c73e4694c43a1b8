#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "qerfc.h"
#include "qerfcstack.h"

#include <QHash>
#include <QList>
#include <QMainWindow>

#include <functional>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <atomic>
#include <memory>

class ErfcDebugLogDockWidget;
class QCargoNode;
class QMdiSubWindow;
class ErfcDevice;
class LogDockWidget;
class NodesDockWidget;
class NodesHardwareDockWidget;
class QErfcNodeInfo;
class QErfcStreamInterface;
class QLabel;

namespace Ui {
class MainWindow;
}
class ScriptWidget;

// The application's one window. It drives the process's Erfc stack, which
// main() creates before it and destroys after it (so that the stack outlives
// every window and view that holds it), owns the current connection (device
// and stream link), shows the link state, the
// last connection error and the traffic rates in the status bar, the node
// trees (left), the system log (bottom) and the per-node views in its
// multi-document area. It is the only place where the stack is disabled,
// re-addressed, bound to a link and enabled again.
//
// Connecting blocks the GUI thread while the stack thread opens the device
// (up to 30 s for a TCP connect). Closing the window first closes the file
// explorers and text editors, each editor asking about unsaved text; when
// none stays, it ends the application, also when other top-level windows
// are still open.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The widget property that ties a per-node view to the unique id of the
    // node it was opened for.
    static const char* const NodeUniqueIdProperty;

    // `stack` must outlive the window; the window configures and enables it,
    // and disables it and releases its link when destroyed.
    explicit MainWindow(QErfcStack* stack, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Each returns once the device has been opened or has failed; failures
    // show in the status bar and the system log, never as exceptions. An own
    // address above 62 is refused before anything changes.
    void openSerialConnection(const QString& portName, quint32 baudRate, uchar ownAddress);
    void openTcpConnection(const QString& ip, quint16 port, uchar ownAddress);
    // Runs the connection dialog with the own address preset (an address
    // above 62 is reported and offered as 62); cancelling changes nothing.
    void selectConnection(uchar ownAddress);

    // Tags a per-node view with the unique id the node at addr has now and
    // remembers it; the view is closed when a node at that address later
    // reports another unique id. The registry forgets it when it is destroyed.
    void registerNodeWindow(uchar addr, QWidget* widget);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onStatusBarUpdateTimerTimeout();
    void onErfcTrafficRx(int bytes);
    void onErfcTrafficTx(int bytes);
    void onErfcDeviceError(const QString& msg);

    void onNodeManagerDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode);
    void onNodeManagerNodeInfoRefreshed(uchar addr, QErfcNodeInfo* info);
    void onNodeManagerMessage(const QString& message);

    void onNodesDockWidgetScriptFileRequested(uchar addr);
    void onNodesDockWidgetUpdateRequested(uchar addr);
    void onNodesDockWidgetScriptCargoRequested(uchar addr);
    void onNodesDockWidgetInformationRequested(uchar addr);
    void onNodesDockWidgetStatisitcRequested(uchar addr);
    void onNodesDockWidgetLogRequested(uchar addr);
    void onNodesDockWidgetCftpFileExplorerRequested(uchar addr);
    void onNodesDockWidgetServiceMenuRequested(uchar addr);
    void onErfcDebugLogDockWidgetClosed();

    // The node user-interface download: the dialogue up to the selection
    // (in mainwindownodeui.cpp), then collecting and starting the package.
    void onCargoReadyReadStartScript();
    void onCargoDisconnectedStartScript();

    void onMdiWindowStateChanged(Qt::WindowStates oldState, Qt::WindowStates newState);
    void onNodeHashWidgetDestroyed(QObject* widget);

    // Form slots, connected by object name.
    void on_actionConnectionSelect_triggered();
    void on_actionConnectionReconnect_triggered();
    void on_actionTile_Views_triggered();
    void on_actionCascade_Views_triggered();
    void on_actionTab_views_triggered(bool checked);
    void on_actionInformation_triggered();

private:
    void connectNodeTree(NodesDockWidget* tree);
    // Docks a script window's log at the bottom, tabbed with the system log;
    // it goes with the window.
    void dockScriptLog(QObject* script, LogDockWidget* log, bool shown);
    // Starts a script window with its log: the window is shown as its
    // script starts (an endless loop at the top level leaves it there to be
    // closed); false, with the window and log gone, when nothing runs.
    bool startScriptWindow(ScriptWidget* script, LogDockWidget* log, bool logShown,
                           const std::function<bool()>& start, const std::function<void(QMdiSubWindow*)>& shown);
    // A line in the system log for a node view that this build cannot open.
    // False (and the error shown) for an address the stack would refuse.
    bool checkOwnAddress(uint ownAddress);
    void showConnectionError(const QString& text);
    // A line in the system log, repeated as a diagnostic line.
    void printSystemLog(const QString& line);
    // Takes the dialog's device as the current one and connects through it.
    void connectDevice(ErfcDevice* device, const QString& description, uchar ownAddress);

    // The stack calls of connecting and reconnecting; a refusal of the stack
    // is dropped silently and the window goes on with the state it is in.
    void disableErfcStack();
    void enableErfcStack();
    void releaseErfcInterface();
    void bindErfcInterface();

    Ui::MainWindow* ui;
    QLabel* m_labelState;
    QLabel* m_labelConnectionError;
    QLabel* m_labelRx;
    QLabel* m_labelTx;
    // Bytes the stack reported since the last rate tick, shared with the
    // connections that add them on the reporting thread.
    struct TrafficBytes
    {
        std::atomic<qint64> rx{0};
        std::atomic<qint64> tx{0};
    };
    std::shared_ptr<TrafficBytes> m_traffic = std::make_shared<TrafficBytes>();
    QMetaObject::Connection m_trafficRxConnection;
    QMetaObject::Connection m_trafficTxConnection;
    QTimer m_statusBarUpdateTimer;
    QErfcStack* m_erfcStack;
    ErfcDevice* m_device = nullptr;
    QErfcStreamInterface* m_interface = nullptr;
    NodesDockWidget* m_nodesDockWidget;
    NodesHardwareDockWidget* m_nodesHardwareDockWidget;
    LogDockWidget* m_systemLog;
    // Views registered per node address, in registration order.
    QHash<uchar, QList<QWidget*>> m_nodeWindows;
    // The downloaded user interface of each node (at most one), as its sub-window.
    QHash<uchar, QMdiSubWindow*> m_scriptWindows;
    // Download streams in flight; they have no parent.
    QSet<QCargoNode*> m_downloads;
    // Download streams whose user is still choosing the interface.
    QSet<QCargoNode*> m_choosing;
    // The open debug log of each node (at most one).
    QHash<uchar, ErfcDebugLogDockWidget*> m_debugLogs;
    // The file explorer of each node (at most one); null once closed.
    QHash<uchar, QPointer<QWidget>> m_fileExplorers;
};

#endif // MAINWINDOW_H
