#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "nodesdockwidget.h"
#include "nodeshardwaredockwidget.h"
#include "qerfcfunction.h"
#include "stackpair.h"
#include "startupflags.h"

#include <QApplication>
#include <QMenu>
#include <QTreeWidget>
#include <QtTest>

#include <functional>

namespace {

QTreeWidgetItem* entryOf(QTreeWidget* tree, uint addr)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if ((*it)->childCount() == 2 && (*it)->data(NodesDockWidget::AddressColumn, Qt::DisplayRole) == addr)
            return *it;
    }
    return nullptr;
}

// The menu's entries ("-" for a separator), or only the disabled ones.
QStringList entries(const QMenu* menu, bool onlyDisabled = false)
{
    QStringList texts;
    for (const QAction* a : menu->actions()) {
        if (!onlyDisabled || !a->isEnabled())
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    return texts;
}

QAction* actionOf(const QMenu* menu, const QString& text)
{
    const QList<QAction*> actions = menu->actions();
    auto it = std::find_if(actions.begin(), actions.end(), [&](QAction* a) { return a->text() == text; });
    return it == actions.end() ? nullptr : *it;
}

void choose(QMenu* menu, const QString& text)
{
    menu->setActiveAction(actionOf(menu, text));
    QTest::keyClick(menu, Qt::Key_Return);
}

// Right-clicks the entry of addr; `act` gets the open menu and must close
// it. False when no menu opened.
bool rightClick(NodesDockWidget& dock, uint addr, const std::function<void(QMenu*)>& act)
{
    dock.show();
    QTreeWidget* tree = dock.treeWidget();
    QTreeWidgetItem* entry = entryOf(tree, addr);
    if (!QTest::qWaitForWindowExposed(&dock) || !entry)
        return false;
    bool opened = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            poll.stop();
            opened = true;
            act(menu);
        }
    });
    poll.start(10);
    emit tree->customContextMenuRequested(tree->visualItemRect(entry).center());
    return opened;
}

} // namespace

// One PC stack (pair.a) for the process-wide manager; pair.b (address 2,
// "Pump", serial "SN-7") offers the user-interface functions 123 and 124,
// not the file transfer 125. Tree tests feed the manager's signals directly.
class tst_NodesDockWidget : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup() { allowExternalScripts = showServiceFunctions = false; }
    void nodeTree();
    void hardwareTree();
    void menuEntries_data();
    void menuEntries();
    void menuEnabledStates();
    void menuRequests_data();
    void menuRequests();
    void noMenuWithoutRecord();

private:
    ErfcNodeManager* manager = ErfcNodeManager::instance();
    StackPair pair{1, 2};
    QErfcFunction cockpitChannel{123, QStringLiteral("CARGO"), QErfc::User};
    QErfcFunction cockpit{124, QStringLiteral("UI"), QErfc::User};
};

void tst_NodesDockWidget::initTestCase()
{
    pair.b->setNodeDescription(QStringLiteral("Pump"));
    pair.b->setSerial(QStringLiteral("SN-7"));
    pair.b->registerFunction(&cockpitChannel);
    pair.b->registerFunction(&cockpit);
    manager->setStack(pair.a.get());
    QSignalSpy refreshed(manager, &ErfcNodeManager::nodeInfoRefreshed);
    QVERIFY(pair.connectAndDiscover());
    QVERIFY(refreshed.wait(10000));
}

void tst_NodesDockWidget::cleanupTestCase()
{
    pair.a->disable();
    manager->setStack(nullptr);
    pair.b->unregisterFunction(&cockpitChannel);
    pair.b->unregisterFunction(&cockpit);
}

void tst_NodesDockWidget::nodeTree()
{
    NodesDockWidget dock;
    QTreeWidget* tree = dock.treeWidget();
    QCOMPARE(dock.windowTitle() + tree->headerItem()->text(0) + tree->headerItem()->text(1),
             QStringLiteral("NodesNameValues"));
    emit manager->drcUpdate(5, QErfc::NewNode, QErfc::Maintenance);
    QTreeWidgetItem* entry = entryOf(tree, 5);
    QVERIFY(entry && !entry->isDisabled());
    QCOMPARE(entry->text(0), QStringLiteral("5"));
    QCOMPARE(entry->child(0)->text(0) + entry->child(0)->text(1), QStringLiteral("ModeMaintenance"));
    QCOMPARE(entry->child(1)->text(0), QStringLiteral("Serial"));
    QCOMPARE(entry->child(1)->data(NodesDockWidget::AddressColumn, Qt::DisplayRole).toInt(), 5);

    emit manager->drcUpdate(5, QErfc::RemovedNode, QErfc::Maintenance);
    QCOMPARE(entry->child(0)->text(1), QStringLiteral("Offline"));
    QVERIFY(entry->isDisabled() && entry->child(1)->isDisabled());
    emit manager->drcUpdate(5, QErfc::NewNode, QErfc::Application);
    QCOMPARE(entry->child(0)->text(1), QStringLiteral("Application"));
    QVERIFY(!entry->isDisabled());

    emit manager->nodeInfoRefreshed(5, manager->nodeInfo(2));
    QCOMPARE(entry->text(0), QStringLiteral("5 : Pump"));
    QCOMPARE(entry->child(1)->text(1), QStringLiteral("SN-7"));
    emit manager->drcUpdate(10, QErfc::NewNode, QErfc::Application);
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("10")); // sorted as text
}

void tst_NodesDockWidget::hardwareTree()
{
    // Never refreshed: no description, no serial.
    QErfcNodeInfo noSerial(pair.a.get(), 9);
    NodesHardwareDockWidget dock;
    QTreeWidget* tree = dock.treeWidget();
    QCOMPARE(dock.windowTitle(), QStringLiteral("Devices"));
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* unknown = tree->topLevelItem(0);
    QCOMPARE(unknown->text(0), QStringLiteral("Unidentified"));
    emit manager->drcUpdate(5, QErfc::NewNode, QErfc::Application);
    emit manager->drcUpdate(6, QErfc::NewNode, QErfc::Application);
    QCOMPARE(entryOf(tree, 5)->parent(), unknown);

    // Two nodes of one device share its group; the emptied "Unidentified" greys.
    emit manager->nodeInfoRefreshed(5, manager->nodeInfo(2));
    emit manager->nodeInfoRefreshed(6, manager->nodeInfo(2));
    QTreeWidgetItem* group = entryOf(tree, 5)->parent();
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(group->text(0), QStringLiteral("SN-7"));
    QCOMPARE(entryOf(tree, 6)->parent(), group);
    QVERIFY(unknown->isDisabled());

    // A new node under a greyed group shows present at once; no serial keeps it there.
    emit manager->drcUpdate(8, QErfc::NewNode, QErfc::Application);
    emit manager->nodeInfoRefreshed(8, &noSerial);
    QCOMPARE(entryOf(tree, 8)->parent(), unknown);
    QVERIFY(!entryOf(tree, 8)->isDisabled());

    // Offline greys the entry, not its group; the last enabled entry leaving greys it.
    emit manager->drcUpdate(6, QErfc::RemovedNode, QErfc::Application);
    QVERIFY(entryOf(tree, 6)->isDisabled() && !group->isDisabled());
    emit manager->nodeInfoRefreshed(5, &noSerial);
    QCOMPARE(entryOf(tree, 5)->parent(), unknown);
    QVERIFY(group->isDisabled());
}

void tst_NodesDockWidget::menuEntries_data()
{
    QTest::addColumn<bool>("extScripts");
    QTest::addColumn<bool>("service");
    QTest::addColumn<QStringList>("entries");
    const QStringList base{"Launch Cockpit", "Reset", "Upload firmware", "Information",
                           "Statistic", "Log", "File explorer"};
    const QStringList service{"-", "Reset Maintenance", "Catch Maintenance", "Service menu"};
    const QStringList ext{"-", "Load External Script"};
    QTest::newRow("no flags") << false << false << base;
    QTest::newRow("service") << false << true << base + service;
    QTest::newRow("both") << true << true << base + service + ext;
}

void tst_NodesDockWidget::menuEntries()
{
    QFETCH(bool, extScripts);
    QFETCH(bool, service);
    QFETCH(QStringList, entries);
    allowExternalScripts = extScripts;
    showServiceFunctions = service;
    NodesDockWidget dock;
    emit manager->drcUpdate(2, QErfc::NewNode, QErfc::Maintenance);
    QStringList shown;
    QVERIFY(rightClick(dock, 2, [&](QMenu* menu) { shown = ::entries(menu); menu->close(); }));
    QCOMPARE(shown, entries);
}

void tst_NodesDockWidget::menuEnabledStates()
{
    allowExternalScripts = showServiceFunctions = true;
    NodesDockWidget dock;
    emit manager->drcUpdate(2, QErfc::NewNode, QErfc::Maintenance);
    QStringList disabled;
    // The function list, asked for when the menu opens, arrives while it is
    // open. "Catch Maintenance" sets the record's flag, shown by the next menu.
    QVERIFY(rightClick(dock, 2, [&](QMenu* menu) {
        QTRY_VERIFY_WITH_TIMEOUT(actionOf(menu, "Launch Cockpit")->isEnabled(), 10000);
        disabled = entries(menu, true);
        choose(menu, "Catch Maintenance");
    }));
    QCOMPARE(disabled, QStringList{"File explorer"});
    QVERIFY(manager->nodeInfo(2)->catchMaintenance());

    QSignalSpy updates(manager, &ErfcNodeManager::drcUpdate);
    pair.b->disable();
    QVERIFY(updates.wait(10000));
    bool checked = false;
    QVERIFY(rightClick(dock, 2, [&](QMenu* menu) {
        disabled = entries(menu, true);
        checked = actionOf(menu, "Catch Maintenance")->isChecked();
        menu->close();
    }));
    QVERIFY(checked);
    QCOMPARE(disabled, (QStringList{"Launch Cockpit", "Reset", "Information", "Statistic",
                                    "File explorer", "Reset Maintenance"}));
    QSignalSpy refreshed(manager, &ErfcNodeManager::nodeInfoRefreshed);
    pair.b->enable();
    QVERIFY(refreshed.wait(10000));
}

void tst_NodesDockWidget::menuRequests_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("signal");
    QTest::newRow("cockpit") << "Launch Cockpit" << QByteArray(SIGNAL(scriptCargoRequested(uchar)));
    QTest::newRow("firmware") << "Upload firmware" << QByteArray(SIGNAL(updateRequested(uchar)));
    QTest::newRow("information") << "Information" << QByteArray(SIGNAL(informationRequested(uchar)));
    QTest::newRow("statistic") << "Statistic" << QByteArray(SIGNAL(statisticRequested(uchar)));
    QTest::newRow("log") << "Log" << QByteArray(SIGNAL(logRequested(uchar)));
    QTest::newRow("service") << "Service menu" << QByteArray(SIGNAL(serviceMenuRequested(uchar)));
    QTest::newRow("script") << "Load External Script" << QByteArray(SIGNAL(scriptFileRequested(uchar)));
}

void tst_NodesDockWidget::menuRequests()
{
    QFETCH(QString, entry);
    QFETCH(QByteArray, signal);
    allowExternalScripts = showServiceFunctions = true;
    NodesHardwareDockWidget dock;
    emit manager->drcUpdate(2, QErfc::NewNode, QErfc::Maintenance);
    QSignalSpy requested(&dock, signal.constData());
    QVERIFY(rightClick(dock, 2, [&](QMenu* menu) {
        QTRY_VERIFY_WITH_TIMEOUT(actionOf(menu, entry)->isEnabled(), 10000);
        choose(menu, entry);
    }));
    QCOMPARE(requested.count(), 1);
    QCOMPARE(requested.first().first().toUInt(), 2u);
}

void tst_NodesDockWidget::noMenuWithoutRecord()
{
    NodesHardwareDockWidget dock;
    emit manager->drcUpdate(33, QErfc::NewNode, QErfc::Application);
    QVERIFY(!manager->nodeInfo(33));
    QVERIFY(!rightClick(dock, 33, [](QMenu* menu) { menu->close(); }));
    QTreeWidget* tree = dock.treeWidget(); // a group item
    emit tree->customContextMenuRequested(tree->visualItemRect(tree->topLevelItem(0)).center());
    QVERIFY(!QApplication::activePopupWidget());
}

QTEST_MAIN(tst_NodesDockWidget)
#include "tst_nodesdockwidget.moc"
