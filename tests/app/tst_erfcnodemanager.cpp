#include "erfcnodeinfo.h"
#include "erfcnodemanager.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "rawpeer.h"
#include "stackpair.h"

#include <QThread>
#include <QtTest>

namespace {
bool hasUpdate(const QSignalSpy& spy, uint addr, QErfc::DrcUpdate state)
{
    return std::any_of(spy.begin(), spy.end(), [&](const QList<QVariant>& args) {
        return args.at(0).toUInt() == addr && args.at(1).value<QErfc::DrcUpdate>() == state;
    });
}
} // namespace

// One PC stack (pair.a) for the process-wide manager. Fake nodes: pair.b
// (address 2, in Maintenance, offers the catch function 127) and raw peers
// that answer nothing.
class tst_ErfcNodeManager : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void recordsOncePerAddress();
    void refreshAfterUpdateNotAfterRemoval();
    void catchMaintenance();
    void slowNodeHoldsUpNeitherGuiNorOtherNodes();
    void catchRefusedByStack();

private:
    bool rejoinB() // true once the manager reports b new again
    {
        QSignalSpy updates(manager, &ErfcNodeManager::drcUpdate);
        pair.b->disable();
        pair.b->enable();
        return QTest::qWaitFor([&] { return hasUpdate(updates, 2, QErfc::NewNode); }, 15000);
    }
    QList<QByteArray> catchCalls()
    {
        QMutexLocker lock(&catchLock);
        return catchPayloads;
    }

    ErfcNodeManager* manager = ErfcNodeManager::instance();
    StackPair pair{1, 2};
    RawPeer peer{4};
    QMutex catchLock;
    QList<QByteArray> catchPayloads;
    QErfcFunction catchFunction{127, QStringLiteral("SERVICE"), QErfc::User};
};

void tst_ErfcNodeManager::initTestCase()
{
    pair.b.reset(new QErfcStack(2, QErfc::Maintenance));
    pair.b->setNodeDescription(QStringLiteral("Pump"));
    pair.b->setSerial(QStringLiteral("SN-7"));
    connect(&catchFunction, &QErfcFunction::callSignal, this,
            [this](QErfcIncomingRequest& request, QErfcResponse&, QErfc::ResponseCode& code) {
                QMutexLocker lock(&catchLock);
                catchPayloads.append(request.payload());
                code = QErfc::OK;
            }, Qt::DirectConnection);
    pair.b->registerFunction(&catchFunction);
    QVERIFY(pair.connectAndDiscover());
    QVERIFY(peer.attach(pair.a.get()));
    QVERIFY(peer.join());
    manager->setStack(pair.a.get()); // after the peer joined: its first update is a removal
}

void tst_ErfcNodeManager::cleanupTestCase()
{
    try {
        pair.a->disable();
    } catch (const QErfcException&) {
    }
    manager->setStack(nullptr);
    pair.b->unregisterFunction(&catchFunction);
}

void tst_ErfcNodeManager::recordsOncePerAddress()
{
    QSignalSpy updates(manager, &ErfcNodeManager::drcUpdate);
    peer.goodbye();
    QTRY_VERIFY_WITH_TIMEOUT(hasUpdate(updates, 4, QErfc::RemovedNode), 10000);
    ErfcNodeInfo* record = manager->nodeInfo(4);
    QVERIFY(record);
    QVERIFY(!manager->nodeInfo(3));
    // The removal started no refresh; each return starts one batch of 13.
    for (int round = 1; round <= 2; ++round) {
        QVERIFY(peer.join(0x100 + round));
        QTRY_COMPARE_WITH_TIMEOUT(peer.count(RawPeer::isRequest(1)), 13 * round, 10000);
        QCOMPARE(manager->nodeInfo(4), record);
        peer.goodbye();
        QTRY_VERIFY_WITH_TIMEOUT(!record->isAvailable(), 10000);
    }
}

void tst_ErfcNodeManager::refreshAfterUpdateNotAfterRemoval()
{
    QSignalSpy refreshed(manager, &ErfcNodeManager::nodeInfoRefreshed);
    QVERIFY(rejoinB());
    QTRY_COMPARE_WITH_TIMEOUT(refreshed.count(), 1, 10000);
    QCOMPARE(refreshed.first().at(0).toUInt(), 2u);
    auto* b = refreshed.first().at(1).value<QErfcNodeInfo*>();
    QCOMPARE(b, static_cast<QErfcNodeInfo*>(manager->nodeInfo(2)));
    QCOMPARE(b->nodeDescription() + b->serial(), QStringLiteral("PumpSN-7"));

    // The peer leaves with its batch outstanding; the batch completes after
    // that (queued to this thread behind the manager's own handling of it).
    int batches = 0;
    QObject context;
    connect(manager->nodeInfo(4), &QErfcNodeInfo::nodeInfoRefreshed, &context, [&] { ++batches; });
    const int from = peer.frames().size();
    QVERIFY(peer.join(0x200));
    QVERIFY(peer.waitFor(RawPeer::isRequest(1), from) >= 0);
    peer.goodbye();
    QTRY_COMPARE_WITH_TIMEOUT(batches, 1, 10000);
    QCOMPARE(refreshed.count(), 1);
}

void tst_ErfcNodeManager::catchMaintenance()
{
    QSignalSpy messages(manager, &ErfcNodeManager::message);
    manager->nodeInfo(2)->setCatchMaintenance(true);
    QVERIFY(rejoinB());
    QVERIFY(!manager->nodeInfo(2)->catchMaintenance());
    QTRY_COMPARE_WITH_TIMEOUT(catchCalls(), QList<QByteArray>{QByteArray(1, '\0')}, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(messages.count(), 1, 10000);
    QCOMPARE(messages.first().first().toString(), QStringLiteral("Catching 2 ..."));
}

void tst_ErfcNodeManager::slowNodeHoldsUpNeitherGuiNorOtherNodes()
{
    // Window of one and no answers: each of its 13 information requests
    // waits for the one before to time out.
    RawPeer slow(5);
    QVERIFY(slow.attach(pair.a.get()));
    QSignalSpy updates(manager, &ErfcNodeManager::drcUpdate);
    QElapsedTimer clock;
    clock.start();
    slow.hello(0x500, 1, QErfc::Application);
    QTRY_VERIFY_WITH_TIMEOUT(hasUpdate(updates, 5, QErfc::NewNode), 10000);
    QVERIFY2(clock.elapsed() < 5000, "the GUI thread waited for the slow node");

    QSignalSpy refreshed(manager, &ErfcNodeManager::nodeInfoRefreshed);
    clock.restart();
    QVERIFY(rejoinB());
    QTRY_VERIFY_WITH_TIMEOUT(!refreshed.isEmpty(), 10000);
    QVERIFY2(clock.elapsed() < 5000, "another node's information waited for the slow node");
    QVERIFY(slow.count(RawPeer::isRequest(1)) < 13);
    slow.goodbye();
    QTRY_VERIFY_WITH_TIMEOUT(!manager->nodeInfo(5)->isAvailable(), 10000);
}

void tst_ErfcNodeManager::catchRefusedByStack()
{
    // b's new-node update is still queued for this thread when the stack is disabled.
    manager->nodeInfo(2)->setCatchMaintenance(true);
    QSignalSpy updates(manager, &ErfcNodeManager::drcUpdate);
    QSignalSpy messages(manager, &ErfcNodeManager::message);
    pair.b->disable();
    QTRY_VERIFY_WITH_TIMEOUT(hasUpdate(updates, 2, QErfc::RemovedNode), 10000);
    pair.b->enable();
    QDeadlineTimer deadline(10000);
    while (!pair.a->knownNodes().contains(2) && !deadline.hasExpired())
        QThread::msleep(1); // no event loop here
    pair.a->disable();
    QTRY_COMPARE_WITH_TIMEOUT(messages.count(), 1, 10000);
    QCOMPARE(messages.first().first().toString(),
             QStringLiteral("Exception on catch for address2: StackDisabled"));
    QVERIFY(!manager->nodeInfo(2)->catchMaintenance());
}

QTEST_GUILESS_MAIN(tst_ErfcNodeManager)
#include "tst_erfcnodemanager.moc"
