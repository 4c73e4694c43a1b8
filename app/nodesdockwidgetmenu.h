#ifndef NODESDOCKWIDGETMENU_H
#define NODESDOCKWIDGETMENU_H

#include "qerfc.h"

#include <QMap>
#include <QMenu>
#include <QPoint>
#include <QString>

class ErfcNodeInfo;
class NodesDockWidget;
class QAction;

// The context menu of one node in a node tree. It lives for one right click:
// built, shown, its choice carried out, destroyed. Entries that act on the
// node do so through the node manager; the others emit the dock's request
// signals with the node address. Which entries are enabled follows the node's
// presence and the functions it offers, also while the menu is open.
class NodesDockWidgetMenu : public QMenu
{
    Q_OBJECT
public:
    NodesDockWidgetMenu(ErfcNodeInfo* node, NodesDockWidget* dock);
    ~NodesDockWidgetMenu() override;

    // Shows the menu modally at the global position and carries out the
    // chosen entry; nothing when none was chosen.
    void showAndDispatch(const QPoint& pos);

private slots:
    void onNodeUpdate(QErfc::DrcUpdate state, QErfc::Mode mode);
    void onFunctionListRefreshed(QMap<quint8, QString> list);

private:
    void setAvailable(bool available);
    void enableByFunctionList(const QMap<quint8, QString>& list);
    // Puts the entries into the menu as the start-up flags ask.
    void populate();
    void dispatch(QAction* chosen);

    QAction* m_actionLaunchCockpit;
    QAction* m_actionReset;
    QAction* m_actionUploadFirmware;
    QAction* m_actionInformation;
    QAction* m_actionStatistic;
    QAction* m_actionLog;
    QAction* m_actionFileExplorer;
    QAction* m_actionResetMaintenance;
    QAction* m_actionCatchMaintenance;
    QAction* m_actionServiceMenu;
    QAction* m_actionLoadExternalScript;

    ErfcNodeInfo* m_node;
    NodesDockWidget* m_dock;
};

#endif // NODESDOCKWIDGETMENU_H
