#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "nodesdockwidget.h"
#include "nodeshardwaredockwidget.h"
#include "qerfcfunction.h"
#include "qerfcnodeinfo_p.h"
#include "rawpeer.h"
#include "stackpair.h"
#include "startupflags.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QTreeWidget>
#include <QtTest>

namespace {

bool hasUpdate(const QSignalSpy& spy, uint addr, QErfc::DrcUpdate state)
{
    return std::any_of(spy.begin(), spy.end(), [&](const QList<QVariant>& args) {
        return args.at(0).toUInt() == addr && args.at(1).value<QErfc::DrcUpdate>() == state;
    });
}

// The items under `item` as "text=value[children]", greyed ones marked "~";
// without rows, a node entry's mode and serial rows are left out.
QString dump(const QTreeWidgetItem* item, bool rows = true)
{
    QStringList items;
    for (int i = 0; i < item->childCount(); ++i) {
        const QTreeWidgetItem* c = item->child(i);
        const bool entry = c->childCount() == 2 && c->child(0)->childCount() == 0;
        const QString text = (c->isDisabled() ? "~" : "") + c->text(0) + (c->text(1).isEmpty() ? "" : "=" + c->text(1));
        const QString under = rows || !entry ? dump(c, rows) : QString();
        items << (under.isEmpty() ? text : text + "[" + under + "]");
    }
    return items.join(' ');
}

// Right-clicks the entry of addr and, once the menu is up and `chosen` is
// enabled in it, chooses that. The menu's entries ("-" a separator); none
// when no menu opened.
QStringList chooseFromMenu(NodesDockWidget& dock, uint addr, const QString& chosen)
{
    dock.show();
    QTreeWidget* tree = dock.treeWidget();
    const QList<QTreeWidgetItem*> entry = tree->findItems(
        QStringLiteral("^%1( : .*)?$").arg(addr), Qt::MatchRegularExpression | Qt::MatchRecursive);
    if (!QTest::qWaitForWindowExposed(&dock) || entry.isEmpty())
        return {};
    QStringList shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            poll.stop();
            const QList<QAction*> actions = menu->actions();
            for (const QAction* a : actions)
                shown << (a->isSeparator() ? QStringLiteral("-") : a->text());
            QAction* action = *std::find_if(actions.begin(), actions.end(), [&](QAction* a) { return a->text() == chosen; });
            if (!QTest::qWaitFor([action] { return action->isEnabled(); }, 10000)) {
                shown << "(not enabled)";
                menu->close();
                return;
            }
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
        }
    });
    poll.start(10);
    emit tree->customContextMenuRequested(tree->visualItemRect(entry.first()).center());
    return shown;
}

// Node information as a refresh reports it, with a description and a serial.
struct Described
{
    Described(QErfcStack* stack, const QByteArray& description, const QByteArray& serial)
        : info(stack, 7)
    {
        auto* d = info.findChild<QErfcNodeInfoPrivate*>();
        d->m_items[QErfcWire::ItemNodeDescription] = description;
        d->m_items[QErfcWire::ItemSerial] = serial;
    }
    QErfcNodeInfo info;
};

} // namespace

// One PC stack (pair.a) for the process-wide manager. Fake nodes: pair.b
// (address 2, "Pump", serial "SN-7", in Maintenance) offers the catch (127)
// and user-interface (123, 124) functions; raw peers answer nothing. The
// tree cases feed the manager's signals directly.
class tst_Nodes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup() { allowExternalScripts = showServiceFunctions = false; }
    void recordsAndRefreshes();
    void batchOfEarlierPresenceIsNotPassedOn();
    void restartWhileTheGuiIsBusyPassesNothingEmpty();
    void catchOnlyInMaintenanceAndFirst();
    void slowNodeHoldsUpNeitherGuiNorOtherNodes();
    void nodeTree();
    void hardwareTree();
    void nameColumnFollowsLongestName_data();
    void nameColumnFollowsLongestName();
    void menu_data();
    void menu();
    void refusedResetLeavesNodeAvailable();
    void recordsFollowStackSwitch();

private:
    bool rejoinB() // true once the manager reports b new again
    {
        QSignalSpy updates(manager, &ErfcNodeManager::drcUpdate);
        pair.b->disable();
        pair.b->enable();
        return QTest::qWaitFor([&] { return hasUpdate(updates, 2, QErfc::NewNode); }, 15000);
    }

    ErfcNodeManager* manager = ErfcNodeManager::instance();
    StackPair pair{1, 2};
    RawPeer peer{4};
    QErfcFunction catchFunction{127, QStringLiteral("SERVICE"), QErfc::User};
    QErfcFunction cockpitChannel{123, QStringLiteral("CARGO"), QErfc::User};
    QErfcFunction cockpit{124, QStringLiteral("UI"), QErfc::User};
};

void tst_Nodes::initTestCase()
{
    pair.b.reset(new QErfcStack(2, QErfc::Maintenance));
    pair.b->setNodeDescription(QStringLiteral("Pump"));
    pair.b->setSerial(QStringLiteral("SN-7"));
    for (QErfcFunction* f : {&catchFunction, &cockpitChannel, &cockpit})
        pair.b->registerFunction(f);
    QVERIFY(pair.connectAndDiscover());
    QVERIFY(peer.attach(pair.a.get()));
    QVERIFY(peer.join());
    manager->setStack(pair.a.get()); // after the peer joined: its first update is a removal
}

void tst_Nodes::cleanupTestCase()
{
    pair.a->disable();
    manager->setStack(nullptr);
    for (QErfcFunction* f : {&catchFunction, &cockpitChannel, &cockpit})
        pair.b->unregisterFunction(f);
}

void tst_Nodes::recordsAndRefreshes()
{
    // The peer's removal makes its record and starts no refresh; each return
    // starts one batch of 13 requests for the same record.
    QSignalSpy updates(manager, &ErfcNodeManager::drcUpdate);
    QSignalSpy refreshed(manager, &ErfcNodeManager::nodeInfoRefreshed);
    peer.goodbye();
    QTRY_VERIFY_WITH_TIMEOUT(hasUpdate(updates, 4, QErfc::RemovedNode), 10000);
    ErfcNodeInfo* record = manager->nodeInfo(4);
    QVERIFY(record && !manager->nodeInfo(3));
    int batches = 0;
    QObject context;
    connect(record, &QErfcNodeInfo::nodeInfoRefreshed, &context, [&] { ++batches; });
    // On a loaded machine the peer's silence can time a batch out (and so
    // complete it) before the goodbye: such a batch may be passed on.
    QAtomicInt completedWhilePresent;
    connect(record, &QErfcNodeInfo::nodeInfoRefreshed, &context, [&] {
        if (record->isAvailable())
            completedWhilePresent.ref();
    }, Qt::DirectConnection);
    for (int round = 1; round <= 2; ++round) {
        QVERIFY(peer.join(0x100 + round));
        QTRY_COMPARE_WITH_TIMEOUT(peer.count(RawPeer::isRequest(1)), 13 * round, 10000);
        QCOMPARE(manager->nodeInfo(4), record);
        peer.goodbye();
        QTRY_VERIFY_WITH_TIMEOUT(!record->isAvailable(), 10000);
    }
    // Its batches complete after it left (queued behind the manager's own
    // handling): none is passed on. b's return is, once.
    QTRY_COMPARE_WITH_TIMEOUT(batches, 2, 10000);
    QVERIFY(refreshed.count() <= completedWhilePresent.loadAcquire());
    const int fromPeer = refreshed.count();
    QVERIFY(rejoinB());
    QTRY_COMPARE_WITH_TIMEOUT(refreshed.count(), fromPeer + 1, 10000);
    auto* b = refreshed.last().at(1).value<QErfcNodeInfo*>();
    QCOMPARE(refreshed.last().at(0).toUInt(), 2u);
    QCOMPARE(b, static_cast<QErfcNodeInfo*>(manager->nodeInfo(2)));
    QCOMPARE(b->nodeDescription() + b->serial(), QStringLiteral("PumpSN-7"));
}

void tst_Nodes::batchOfEarlierPresenceIsNotPassedOn()
{
    // A batch that completed before the node left and came back reaches the
    // manager only afterwards: its emptied items must not be reported.
    QVERIFY(rejoinB());
    ErfcNodeInfo* record = manager->nodeInfo(2);
    QSignalSpy refreshedAfterJoin(manager, &ErfcNodeManager::nodeInfoRefreshed);
    QVERIFY(refreshedAfterJoin.count() > 0 || refreshedAfterJoin.wait(10000));
    QSignalSpy refreshed(manager, &ErfcNodeManager::nodeInfoRefreshed);
    emit record->nodeInfoRefreshed(QErfcNodeInfo::NodeInfoOk);
    record->markArrived();
    emit record->nodeInfoRefreshed(QErfcNodeInfo::NodeInfoOk);
    // Both are queued in order: once the current one is out, the stale one
    // has been handled before it.
    QTRY_COMPARE_WITH_TIMEOUT(refreshed.count(), 1, 5000);
}

void tst_Nodes::restartWhileTheGuiIsBusyPassesNothingEmpty()
{
    // A batch ends on the stack thread; before this thread runs the relay,
    // the node restarts (its items emptied, the node available again) while
    // this thread is held. The relay must not pass the emptied record on.
    QVERIFY(rejoinB());
    ErfcNodeInfo* record = manager->nodeInfo(2);
    QTRY_COMPARE_WITH_TIMEOUT(record->serial(), QStringLiteral("SN-7"), 10000);
    QStringList passed; // the serial each report carries as it is passed on
    QObject context;
    connect(manager, &ErfcNodeManager::nodeInfoRefreshed, &context, [&](uchar addr, QErfcNodeInfo* info) {
        if (addr == 2)
            passed << info->serial();
    });
    QSemaphore ended;
    connect(record, &QErfcNodeInfo::nodeInfoRefreshed, &context, [&ended] { ended.release(); },
            Qt::DirectConnection);
    QCoreApplication::processEvents(); // what is under way goes first
    passed.clear();
    ended.acquire(ended.available());
    const quint64 updates = record->updateCount();

    manager->queueRequests(2, [](ErfcNodeInfo* r) { r->refreshNodeInfo(); });
    // Held from here on: nothing queued to this thread runs.
    QVERIFY(ended.tryAcquire(1, 20000));
    pair.b->disable();
    pair.b->enable();
    QDeadlineTimer bound(20000);
    while (!(record->updateCount() >= updates + 2 && record->isAvailable()) && !bound.hasExpired())
        QThread::msleep(1);
    QVERIFY(record->updateCount() >= updates + 2 && record->isAvailable());

    // Released: the node's next batch is passed on whole, and nothing before it.
    QTRY_VERIFY_WITH_TIMEOUT(!passed.isEmpty(), 20000);
    QCOMPARE(passed.first(), QStringLiteral("SN-7"));
}

void tst_Nodes::catchOnlyInMaintenanceAndFirst()
{
    // Node 13 answers nothing and takes one request at a time; each time it
    // says hello, its first request tells whether the catch went. The catch
    // goes once, in Maintenance, and clears the flag.
    RawPeer node(13);
    QVERIFY(node.attach(pair.a.get()));
    QSignalSpy updates(manager, &ErfcNodeManager::drcUpdate);
    QAtomicInt arrivals, batches;
    QObject context;
    const auto firstRequestOnArrival = [&](quint32 runId, QErfc::Mode mode) {
        const int from = node.frames().size();
        updates.clear();
        node.hello(runId, 1, mode);
        if (!QTest::qWaitFor([&] { return hasUpdate(updates, 13, QErfc::NewNode); }, 10000))
            return -1;
        if (arrivals.fetchAndAddOrdered(1) == 0) {
            connect(manager->nodeInfo(13), &QErfcNodeInfo::nodeInfoRefreshed, &context,
                    [&] { batches.ref(); }, Qt::DirectConnection);
        }
        const int i = node.waitFor([](const QErfcMsg& m) {
            return !m.isResponse() && m.destination() == 13 && !m.retransmit();
        }, from);
        return i < 0 ? -1 : int(node.frames().at(i).functionId());
    };
    // Gone, and its information batch over: nothing of it reaches the next arrival.
    const auto leave = [&] {
        node.goodbye();
        return QTest::qWaitFor([&] {
            return !manager->nodeInfo(13)->isAvailable() && batches.loadAcquire() == arrivals.loadAcquire();
        }, 20000);
    };
    QCOMPARE(firstRequestOnArrival(0x1301, QErfc::Application), 1);
    QVERIFY(leave());
    manager->nodeInfo(13)->setCatchMaintenance(true);
    QCOMPARE(firstRequestOnArrival(0x1302, QErfc::Application), 1);
    QVERIFY(manager->nodeInfo(13)->catchMaintenance());
    QVERIFY(leave());
    QSignalSpy messages(manager, &ErfcNodeManager::message);
    QCOMPARE(firstRequestOnArrival(0x1303, QErfc::Maintenance), 127);
    QVERIFY(!manager->nodeInfo(13)->catchMaintenance());
    QCOMPARE(node.frames().value(node.waitFor(RawPeer::isRequest(127))).payload(), QByteArray(1, '\0'));
    QTRY_COMPARE_WITH_TIMEOUT(messages.count(), 1, 10000);
    QCOMPARE(messages.first().first().toString(), QStringLiteral("Catching 13 ..."));
    QVERIFY(leave());
    // Cleared, it stays so: the next arrival in Maintenance is not caught.
    QCOMPARE(firstRequestOnArrival(0x1304, QErfc::Maintenance), 1);
    QVERIFY(leave());
}

void tst_Nodes::slowNodeHoldsUpNeitherGuiNorOtherNodes()
{
    // Window of one and no answers: each of its 13 information requests
    // waits for the one before to time out.
    RawPeer slow(12);
    QVERIFY(slow.attach(pair.a.get()));
    QSignalSpy updates(manager, &ErfcNodeManager::drcUpdate);
    QSignalSpy refreshed(manager, &ErfcNodeManager::nodeInfoRefreshed);
    QElapsedTimer clock;
    clock.start();
    slow.hello(0x500, 1, QErfc::Application);
    QTRY_VERIFY_WITH_TIMEOUT(hasUpdate(updates, 12, QErfc::NewNode), 10000);
    QVERIFY(rejoinB());
    QTRY_VERIFY_WITH_TIMEOUT(!refreshed.isEmpty(), 10000);
    QVERIFY2(clock.elapsed() < 8000, "the GUI thread or another node's information waited for the slow node");
    QVERIFY(slow.count(RawPeer::isRequest(1)) < 13);
    slow.goodbye();
    QTRY_VERIFY_WITH_TIMEOUT(!manager->nodeInfo(12)->isAvailable(), 10000);
}

void tst_Nodes::nodeTree()
{
    NodesDockWidget dock;
    QTreeWidgetItem* root = dock.treeWidget()->invisibleRootItem();
    emit manager->drcUpdate(5, QErfc::NewNode, QErfc::Maintenance);
    QCOMPARE(dump(root), QStringLiteral("5[Mode=Maintenance Serial]"));
    emit manager->drcUpdate(5, QErfc::RemovedNode, QErfc::Maintenance);
    QCOMPARE(dump(root), QStringLiteral("~5[~Mode=Offline ~Serial]"));
    emit manager->drcUpdate(5, QErfc::NewNode, QErfc::Application);
    emit manager->nodeInfoRefreshed(5, manager->nodeInfo(2));
    emit manager->drcUpdate(10, QErfc::NewNode, QErfc::Application);
    QCOMPARE(dump(root), QStringLiteral("10[Mode=Application Serial] 5 : Pump[Mode=Application Serial=SN-7]")); // sorted as text
    // The user sizes the name column: a long name does not take it over.
    QHeaderView* header = dock.treeWidget()->header();
    header->resizeSection(0, 60);
    QCOMPARE(header->sectionSize(0), 60);
}

void tst_Nodes::hardwareTree()
{
    QErfcNodeInfo noSerial(pair.a.get(), 9); // never refreshed: no description, no serial
    NodesHardwareDockWidget dock;
    QTreeWidgetItem* root = dock.treeWidget()->invisibleRootItem();
    emit manager->drcUpdate(5, QErfc::NewNode, QErfc::Application);
    emit manager->drcUpdate(6, QErfc::NewNode, QErfc::Application);
    QCOMPARE(dump(root, false), QStringLiteral("Unidentified[5 6]"));
    // Two nodes of one device share its group; the emptied group greys.
    emit manager->nodeInfoRefreshed(5, manager->nodeInfo(2));
    emit manager->nodeInfoRefreshed(6, manager->nodeInfo(2));
    QCOMPARE(dump(root, false), QStringLiteral("SN-7[5 : Pump 6 : Pump] ~Unidentified"));
    // A new node under a greyed group shows present at once; offline greys
    // an entry, not its group; the last present entry leaving greys it.
    emit manager->drcUpdate(8, QErfc::NewNode, QErfc::Application);
    emit manager->nodeInfoRefreshed(8, &noSerial);
    emit manager->drcUpdate(6, QErfc::RemovedNode, QErfc::Application);
    QCOMPARE(dump(root, false), QStringLiteral("SN-7[5 : Pump ~6 : Pump] Unidentified[8 : ]"));
    emit manager->nodeInfoRefreshed(5, &noSerial);
    QCOMPARE(dump(root, false), QStringLiteral("~SN-7[~6 : Pump] Unidentified[5 :  8 : ]"));
}

void tst_Nodes::nameColumnFollowsLongestName_data()
{
    QTest::addColumn<bool>("hardware");
    QTest::newRow("nodes") << false;
    QTest::newRow("devices") << true; // entries one level deeper, below their device
}

void tst_Nodes::nameColumnFollowsLongestName()
{
    QFETCH(bool, hardware);
    std::unique_ptr<NodesDockWidget> dock(hardware ? new NodesHardwareDockWidget : new NodesDockWidget);
    dock->resize(300, 400);
    dock->show();
    QTreeWidget* tree = dock->treeWidget();
    QHeaderView* header = tree->header();
    // What the header's handle gives on a double-click: the longest name
    // shown, with its indentation, or the label when that is longer.
    const auto longest = [tree, header] {
        const QAbstractItemView* view = tree;
        return qMax(view->sizeHintForColumn(0), header->sectionSizeHint(0));
    };
    Described pump(pair.a.get(), "Pump", "SN-1");
    Described valves(pair.a.get(), "Valve block with a rather long name", "SN-2");

    emit manager->drcUpdate(5, QErfc::NewNode, QErfc::Application);
    emit manager->nodeInfoRefreshed(5, &pump.info);
    const int narrow = tree->columnWidth(0);
    QCOMPARE(narrow, longest());
    emit manager->drcUpdate(6, QErfc::NewNode, QErfc::Application);
    emit manager->nodeInfoRefreshed(6, &valves.info);
    QVERIFY(tree->columnWidth(0) > narrow);
    QCOMPARE(tree->columnWidth(0), longest());
    // The long name goes: the column follows it down.
    emit manager->nodeInfoRefreshed(6, &pump.info);
    QCOMPARE(tree->columnWidth(0), narrow);

    // Once the user sized it, the column keeps the user's width.
    header->resizeSection(0, narrow + 7);
    emit manager->drcUpdate(7, QErfc::NewNode, QErfc::Application);
    emit manager->nodeInfoRefreshed(7, &valves.info);
    emit manager->drcUpdate(6, QErfc::RemovedNode, QErfc::Application);
    QCOMPARE(tree->columnWidth(0), narrow + 7);
}

void tst_Nodes::menu_data()
{
    QTest::addColumn<bool>("extScripts");
    QTest::addColumn<bool>("service");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QByteArray>("signal"); // emitted with the address
    const QStringList base{"Launch Cockpit", "Reset", "Upload firmware", "Information", "Statistic", "Log",
                           "File explorer"};
    const QStringList service{"-", "Reset Maintenance", "Catch Maintenance", "Service menu"};
    const QStringList ext{"-", "Load External Script"};
    // Launch Cockpit waits for the node's function list, asked for when the menu opens.
    QTest::newRow("no flags") << false << false << base << "Launch Cockpit" << QByteArray(SIGNAL(scriptCargoRequested(uchar)));
    QTest::newRow("service") << false << true << base + service << "Service menu" << QByteArray(SIGNAL(serviceMenuRequested(uchar)));
    QTest::newRow("scripts") << true << false << base + ext << "Load External Script" << QByteArray(SIGNAL(scriptFileRequested(uchar)));
}

void tst_Nodes::menu()
{
    QFETCH(bool, extScripts);
    QFETCH(bool, service);
    QFETCH(QStringList, entries);
    QFETCH(QString, chosen);
    QFETCH(QByteArray, signal);
    allowExternalScripts = extScripts;
    showServiceFunctions = service;
    NodesHardwareDockWidget dock;
    emit manager->drcUpdate(2, QErfc::NewNode, QErfc::Maintenance);
    QSignalSpy requested(&dock, signal.constData());
    QCOMPARE(chooseFromMenu(dock, 2, chosen), entries);
    QCOMPARE(requested.count(), 1);
    QCOMPARE(requested.first().first().toUInt(), 2u);
}

void tst_Nodes::refusedResetLeavesNodeAvailable()
{
    // b refuses resets: it does not restart, so it stays usable.
    showServiceFunctions = true;
    QVERIFY(rejoinB());
    NodesDockWidget dock;
    emit manager->drcUpdate(2, QErfc::NewNode, QErfc::Maintenance);
    ErfcNodeInfo* record = manager->nodeInfo(2);
    QVERIFY(record->isAvailable());
    // The manager sends for the node in order: once a later job runs, the
    // reset has gone out.
    const auto resetSent = [this] {
        auto sent = std::make_shared<QAtomicInt>();
        manager->queueRequests(2, [sent](ErfcNodeInfo*) { sent->storeRelease(1); });
        return QTest::qWaitFor([sent] { return sent->loadAcquire() == 1; }, 10000);
    };
    QVERIFY(!chooseFromMenu(dock, 2, QStringLiteral("Reset Maintenance")).contains("(not enabled)"));
    QVERIFY(resetSent());
    QTRY_VERIFY_WITH_TIMEOUT(record->isAvailable(), 10000);
}

void tst_Nodes::recordsFollowStackSwitch()
{
    // Records made on one stack (2, 4) and on another (7) are used on the
    // stack the manager follows now, also once an earlier one is gone.
    std::unique_ptr<QErfcStack> other(new QErfcStack(1));
    {
        RawPeer two(2), seven(7);
        QVERIFY(two.attach(other.get()) && seven.attach(other.get()));
        other->enable();
        manager->setStack(other.get());
        QVERIFY(two.join() && seven.join());
        QTRY_COMPARE_WITH_TIMEOUT(two.count(RawPeer::isRequest(1)), 13, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(seven.count(RawPeer::isRequest(1)), 13, 10000);
        QVERIFY(manager->nodeInfo(7) && manager->isPresent(7));
        other->disable();
        manager->setStack(pair.a.get());
        // The removals of the stack left are not heard: its nodes are no
        // longer present all the same, and those of the new one already are.
        QVERIFY(!manager->isPresent(7));
        QVERIFY(manager->isPresent(2));
    }
    other.reset();
    RawPeer seven(7);
    QVERIFY(seven.attach(pair.a.get()) && seven.join());
    QTRY_COMPARE_WITH_TIMEOUT(seven.count(RawPeer::isRequest(1)), 13, 10000);
    seven.goodbye();
    QVERIFY(rejoinB());

    // A stack made where a destroyed one was is another stack: the records
    // follow it too, so its node updates reach them.
    alignas(QErfcStack) unsigned char storage[sizeof(QErfcStack)];
    for (int round = 0; round < 2; ++round) {
        auto* stack = new (storage) QErfcStack(1);
        {
            RawPeer nine(9);
            QVERIFY(nine.attach(stack));
            stack->enable();
            manager->setStack(stack);
            QVERIFY(nine.join());
            QTRY_VERIFY_WITH_TIMEOUT(manager->nodeInfo(9) && manager->nodeInfo(9)->isAvailable(), 10000);
            nine.goodbye();
            QTRY_VERIFY_WITH_TIMEOUT(!manager->nodeInfo(9)->isAvailable(), 10000);
            stack->disable();
            manager->setStack(nullptr); // as a closing main window does
        }
        stack->~QErfcStack();
    }
    manager->setStack(pair.a.get());
}

QTEST_MAIN(tst_Nodes)
#include "tst_nodes.moc"
