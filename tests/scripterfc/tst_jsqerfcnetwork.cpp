// The script's subscriptions to other nodes' events, node changes and node
// queries against real stacks over loopback TCP and a raw frame peer. This
// thread runs the script; peers act from their own stack threads or from
// worker threads.

#include "erfcfixture.h"
#include "jserfcnodeinfo_p.h"
#include "jsqerfc_p.h"
#include "jsqerfceventconnect_p.h"
#include "jsqerfcreaper_p.h"
#include "qerfcemitevent.h"
#include "qerfcdatagram.h"
#include "qerfcevent.h"
#include "rawpeer.h"
#include "stackpair.h"

#include <QSemaphore>
#include <QtTest>

#include <memory>

namespace {

constexpr uchar Own = 1;  // the script's stack
constexpr uchar Peer = 2; // a stack with event 30
constexpr uchar Raw = 4;  // a raw frame peer: silent while the script blocks

// Runs `action` on a worker thread once this thread has started a wait.
std::future<void> onceGuiWaits(std::function<void()> action)
{
    return std::async(std::launch::async, [action] {
        waitUntilGuiWaits();
        action();
    });
}

// Ends a wait of this thread that a fault left without an end: unless
// released within 30 s, runs `rescue` on a worker thread, so that the fault
// fails the test instead of hanging it.
class Watchdog
{
public:
    explicit Watchdog(std::function<void()> rescue)
    {
        const std::shared_future<void> released = m_release.get_future().share();
        m_worker = std::async(std::launch::async, [released, rescue] {
            if (released.wait_for(std::chrono::seconds(30)) == std::future_status::timeout)
                rescue();
        });
    }
    ~Watchdog() { release(); }
    void release()
    {
        if (!m_released) {
            m_released = true;
            m_release.set_value();
        }
        m_worker.wait();
    }

private:
    std::promise<void> m_release;
    bool m_released = false;
    std::future<void> m_worker;
};

} // namespace

// Holds the peer's stack thread inside a call of its function 50 until
// released (20 s at the most), so that no answer of the peer's comes
// meanwhile.
struct PeerThreadHold
{
    explicit PeerThreadHold(QErfcStack* peer)
        : function(peer, 50)
    {
        function.hold = [this] {
            held.release();
            release.tryAcquire(1, 20000);
        };
    }
    ~PeerThreadHold() { release.release(); }
    // Calls the function from `own`; true once the peer's thread is held.
    bool start(QErfcStack* own) { return own->send(&call) && held.tryAcquire(1, 20000); }

    QErfcDatagram call{Peer, 50};
    QSemaphore held, release;
    TestFunction function;
};

class tst_JsQErfcNetwork : public ErfcScriptTest
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void subscriptionTexts_data();
    void subscriptionTexts();
    void subscription();
    void subscriptionRefused_data();
    void subscriptionRefused();
    void peerDropped();
    void replacement();
    void failedReplacement();
    void waitForEvent();
    void waitForEventWhileSubscribing();
    void waitForEventOnFailedSubscription_data();
    void waitForEventOnFailedSubscription();
    void waitForEventEndsWhenNodeLeaves_data();
    void waitForEventEndsWhenNodeLeaves();
    void subscriptionSuspended();
    void teardownFreesSubscriptions();

    void nodeChanges();
    void nodeWait();
    void nodeWaitEndsWithTheStack();
    void nodeInfo();
    void statisticsAndPing();
    void silentNodeEndsBlockingForms();

private:
    void emitFromPeer(uchar eid, const QByteArray& payload)
    {
        QErfcEmitEvent event(eid, payload);
        m_pair->b->send(&event);
    }
    void joinRaw();
    // The script's subscription to a pair; this thread, outside a wait.
    JsQErfcEventConnect* subscription(uchar address, uchar eid)
    {
        const JsQErfcEventConnectEntry* entry = JsQErfcPrivate::get(m_erfc)->subscriptionEntry(address, eid);
        return entry ? entry->eventConnect : nullptr;
    }
    // A watchdog that hands the subscription an empty event: a wait on it
    // that never ended returns that instead of null.
    static std::function<void()> fakeEvent(JsQErfcEventConnect* s)
    {
        return [s] { s->onEvent(QErfcIncomingEvent()); };
    }

    std::unique_ptr<StackPair> m_pair;
    std::unique_ptr<QErfcEvent> m_event;
    std::unique_ptr<RawPeer> m_raw;
};

void tst_JsQErfcNetwork::init()
{
    m_pair.reset(new StackPair(Own, Peer));
    m_pair->b->setNodeDescription(QStringLiteral("Peer"));
    m_pair->b->setSerial(QStringLiteral("SN-2"));
    m_pair->b->setSoftwareHash(QByteArray::fromHex("0aff0001"));
    // Versions and hashes that differ, so that one is never shown for the other.
    m_pair->b->setSoftwareVersion(QStringLiteral("4.2.7"));
    m_pair->b->setBootloaderVersion(QStringLiteral("1.0.3"));
    m_pair->b->setBootloaderHash(QByteArray::fromHex("b0070002"));
    m_event.reset(new QErfcEvent(30, QStringLiteral("Level"), QErfc::User));
    m_pair->b->registerEvent(m_event.get());
    QVERIFY(m_pair->connectAndDiscover());

    startScript(m_pair->a.get(),
                "var sig = {address: 2, eid: 30, payload: [{v: dtype.INT16U}]};"
                "function onEvent(e) { log.push('event ' + Object.keys(e).join() + ' ' + [e.eid, e.address, e.privilege,"
                "  JSON.stringify(e.payload), e.length, e.relatedSignature === sig].join()) }"
                "function onState(s) { log.push('state ' + s.state) }");
}

void tst_JsQErfcNetwork::cleanup()
{
    stopScript();
    m_raw.reset();
    if (m_pair)
        m_pair->b->unregisterEvent(m_event.get());
    m_pair.reset();
    m_event.reset();
    // Nothing of the script's is left behind.
    QTRY_COMPARE(JsQErfcEventConnect::instances(), 0);
    QCOMPARE(JsQErfcReaper::instance()->held(), 0);
    QTRY_COMPARE(JSErfcNodeInfo::instances(), 0);
}

void tst_JsQErfcNetwork::joinRaw()
{
    m_raw.reset(new RawPeer(Raw));
    QVERIFY(m_raw->attach(m_pair->a.get()));
    QVERIFY(m_raw->join());
}

void tst_JsQErfcNetwork::subscriptionTexts_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("result");
    QTest::newRow("address missing") << "connectToEvent({eid: 30})" << "error: property address is missing!";
    QTest::newRow("eid 129") << "connectToEvent({address: 2, eid: 129})" << "error: property eid must be between 0 and 128!";
    QTest::newRow("eid 128") << "connectToEvent({address: 2, eid: 128})" << "error: Can't connect to event, EventIdError";
    QTest::newRow("wait event bad eid") << "waitForEvent({address: 2})" << "error: property eid is missing!";
    QTest::newRow("disconnect unknown") << "disconnectFromEvent(sig)" << "undefined";
}

void tst_JsQErfcNetwork::subscriptionTexts()
{
    QFETCH(QString, call);
    QTEST(attempt("erfc." + call), "result");
    // A refused subscription leaves no object behind.
    QTRY_COMPARE(JsQErfcEventConnect::instances(), 0);
}

void tst_JsQErfcNetwork::subscription()
{
    QCOMPARE(eval("var owner = {name: 'owner', go: function () { return erfc.connectToEvent(sig,"
                  "  function (e) { log.push(this.name); onEvent(e) },"
                  "  function (s) { log.push('state ' + Object.keys(s).join() + ' '"
                  "                          + [s.eid, s.address, s.state, s.relatedSignature === sig].join()) }) } };"
                  "owner.go()"),
             QStringLiteral("true"));
    QCOMPARE(eval("erfc.waitForEventConnected(sig)"), QStringLiteral("true"));
    QTRY_COMPARE(eval("log.join('|')"), QStringLiteral("state eid,address,state,relatedSignature 30,2,1,true"));
    emitFromPeer(30, QByteArray::fromHex("0201"));
    QTRY_COMPARE(eval("log.length"), QStringLiteral("3"));
    QCOMPARE(eval("log[1] + '|' + log[2]"),
             QStringLiteral("owner|event eid,address,privilege,payload,length,relatedSignature 30,2,0,{\"v\":258},2,true"));
    eval("erfc.disconnectFromEvent(sig); erfc.waitForEventDisconnected(sig)");
    QTRY_COMPARE(eval("log[3]"), QStringLiteral("state eid,address,state,relatedSignature 30,2,0,true"));
    // Gone once disconnected.
    QTRY_COMPARE(attempt("erfc.waitForEventConnected(sig)"),
                 QStringLiteral("error: Event for address: 2 and id: 30 does not Exist!"));
    QTRY_COMPARE(JsQErfcEventConnect::instances(), 0);
}

void tst_JsQErfcNetwork::subscriptionRefused_data()
{
    QTest::addColumn<QString>("signature");
    QTest::newRow("event the node lacks") << "{address: 2, eid: 33}";
    QTest::newRow("silent node") << "{address: 4, eid: 30}";
}

void tst_JsQErfcNetwork::subscriptionRefused()
{
    QFETCH(QString, signature);
    joinRaw();
    QCOMPARE(eval("var other = " + signature + "; erfc.connectToEvent(other, f, onState)"), QStringLiteral("true"));
    QCOMPARE(eval("erfc.waitForEventConnected(other)"), QStringLiteral("false"));
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("state 2"));
    // Nothing is on its way any more: false at once, and the entry stays.
    QCOMPARE(eval("erfc.disconnectFromEvent(other); erfc.waitForEventDisconnected(other); erfc.waitForEventConnected(other)"),
             QStringLiteral("false"));
    QCOMPARE(JsQErfcEventConnect::instances(), 1);
}

void tst_JsQErfcNetwork::peerDropped()
{
    QCOMPARE(eval("erfc.connectToEvent(sig, onEvent, onState) && erfc.waitForEventConnected(sig)"), QStringLiteral("true"));
    m_pair->b->disable();
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("state 1,state 0"));
    QTRY_COMPARE(attempt("erfc.waitForEvent(sig)"), QStringLiteral("error: Event for address: 2 and id: 30 does not Exist!"));
}

void tst_JsQErfcNetwork::replacement()
{
    QCOMPARE(eval("erfc.connectToEvent(sig, onEvent, function (s) { log.push('a' + s.state) })"
                  " && erfc.waitForEventConnected(sig)"),
             QStringLiteral("true"));
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("a1"));
    // The stack still holds the old subscription until the node answers its
    // unsubscribe: the new one is refused, and the old one's end is reported
    // to the new callbacks. The node's stack thread is held meanwhile, so the
    // answer cannot come first.
    PeerThreadHold hold(m_pair->b.get());
    QVERIFY(hold.start(m_pair->a.get()));
    QSemaphore& release = hold.release;
    const QString second = eval("erfc.connectToEvent({address: 2, eid: 30}, onEvent, function (s) { log.push('b' + s.state) })");
    release.release();
    QCOMPARE(second, QStringLiteral("false"));
    QCOMPARE(eval("erfc.waitForEventConnected(sig)"), QStringLiteral("false"));
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("a1,b0"));
    QTRY_COMPARE(JsQErfcEventConnect::instances(), 1);
    // The entry stays; connecting again starts afresh.
    QCOMPARE(eval("erfc.connectToEvent(sig, onEvent, function (s) { log.push('c' + s.state) })"
                  " && erfc.waitForEventConnected(sig)"),
             QStringLiteral("true"));
    emitFromPeer(30, QByteArray::fromHex("0500"));
    QTRY_COMPARE(eval("log.length"), QStringLiteral("4"));
    QVERIFY(eval("log[3]").contains("{\"v\":5}"));
    QTRY_COMPARE(JsQErfcEventConnect::instances(), 1);
}

void tst_JsQErfcNetwork::failedReplacement()
{
    QCOMPARE(eval("erfc.connectToEvent(sig, onEvent, onState) && erfc.waitForEventConnected(sig)"), QStringLiteral("true"));
    QCOMPARE(attempt("erfc.connectToEvent({address: 2, eid: 30, timeout: 5})"),
             QStringLiteral("error: property timeout must be between 10 and 255!"));
    // The entry stays without a subscription: nothing to wait for.
    QCOMPARE(eval("erfc.disconnectFromEvent(sig); erfc.waitForEventDisconnected(sig);"
                  " [erfc.waitForEventConnected(sig), erfc.waitForEvent(sig, -1)].join()"),
             QStringLiteral("false,"));
    // The old subscription was unsubscribed and freed.
    QTRY_COMPARE(JsQErfcEventConnect::instances(), 0);
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("state 1,state 0"));
    QCOMPARE(eval("erfc.connectToEvent(sig, onEvent, onState) && erfc.waitForEventConnected(sig)"), QStringLiteral("true"));
}

void tst_JsQErfcNetwork::waitForEvent()
{
    QCOMPARE(eval("erfc.connectToEvent(sig, function () { log.push('e') }) && erfc.waitForEventConnected(sig)"),
             QStringLiteral("true"));
    QCOMPARE(eval("erfc.waitForEvent(sig)"), QStringLiteral("null"));
    // An event that came before the call does not count.
    emitFromPeer(30, QByteArray::fromHex("0100"));
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("e"));
    QCOMPARE(eval("erfc.waitForEvent(sig, 100)"), QStringLiteral("null"));
    // One that comes while the script waits does, however long the wait.
    for (const QString& timeout : {QStringLiteral("10000"), QStringLiteral("-1")}) {
        std::future<void> peer = onceGuiWaits([this] { emitFromPeer(30, QByteArray::fromHex("0300")); });
        QCOMPARE(eval("var e = erfc.waitForEvent(sig, " + timeout + "); Object.keys(e).join() + ' ' + e.payload.v"),
                 QStringLiteral("eid,address,privilege,payload,length,relatedSignature 3"));
        peer.wait();
    }
}

void tst_JsQErfcNetwork::waitForEventWhileSubscribing()
{
    // The node's stack thread is held: the subscription is still waiting
    // for its answer when the script starts to wait for an event.
    PeerThreadHold hold(m_pair->b.get());
    QVERIFY(hold.start(m_pair->a.get()));
    QSemaphore& release = hold.release;
    QCOMPARE(eval("erfc.connectToEvent(sig, f)"), QStringLiteral("true"));
    JsQErfcEventConnect* s = subscription(2, 30);
    QVERIFY(s);
    std::future<void> peer = onceGuiWaits([&] {
        release.release();
        if (s->waitForConnected(20000))
            emitFromPeer(30, QByteArray::fromHex("0300"));
    });
    QCOMPARE(eval("var e = erfc.waitForEvent(sig, -1); e && e.payload.v"), QStringLiteral("3"));
    peer.wait();
}

void tst_JsQErfcNetwork::waitForEventOnFailedSubscription_data()
{
    // The script's bound on the wait (-1: none); whether the node's refusal
    // comes only while the script waits.
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("whileWaiting");
    QTest::newRow("failed before, no bound") << -1 << false;
    QTest::newRow("failed before, bound") << 20000 << false;
    QTest::newRow("fails while waiting, bound") << 20000 << true;
}

void tst_JsQErfcNetwork::waitForEventOnFailedSubscription()
{
    QFETCH(int, timeout);
    QFETCH(bool, whileWaiting);
    // The node lacks event 99: the subscription is in error, and no event
    // comes to it however long the script waits. The wait ends as soon as
    // the subscription fails, bound or not.
    std::unique_ptr<PeerThreadHold> hold;
    if (whileWaiting) {
        hold.reset(new PeerThreadHold(m_pair->b.get()));
        QVERIFY(hold->start(m_pair->a.get()));
    }
    QCOMPARE(eval("var other = {address: 2, eid: 99}; erfc.connectToEvent(other, f, onState)"), QStringLiteral("true"));
    if (!whileWaiting)
        QCOMPARE(eval("erfc.waitForEventConnected(other)"), QStringLiteral("false"));
    JsQErfcEventConnect* s = subscription(2, 99);
    QVERIFY(s);
    Watchdog watchdog(fakeEvent(s));
    std::future<void> refusal;
    if (whileWaiting)
        refusal = onceGuiWaits([&hold] { hold->release.release(); });
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(eval(QStringLiteral("erfc.waitForEvent(other, %1)").arg(timeout)), QStringLiteral("null"));
    QVERIFY2(waited.elapsed() < 10000, qPrintable(QString::number(waited.elapsed())));
    if (refusal.valid())
        refusal.wait();
    QCOMPARE(s->state(), QErfc::EventError);
}

void tst_JsQErfcNetwork::waitForEventEndsWhenNodeLeaves_data()
{
    QTest::addColumn<int>("timeout"); // the script's bound on the wait, -1: none
    QTest::newRow("no bound") << -1;
    QTest::newRow("bound") << 20000;
}

void tst_JsQErfcNetwork::waitForEventEndsWhenNodeLeaves()
{
    QFETCH(int, timeout);
    QCOMPARE(eval("erfc.connectToEvent(sig, onEvent, onState) && erfc.waitForEventConnected(sig)"), QStringLiteral("true"));
    JsQErfcEventConnect* s = subscription(2, 30);
    QVERIFY(s);
    // The node goes while the script waits: the wait ends then, not at its bound.
    Watchdog watchdog(fakeEvent(s));
    std::future<void> leaving = onceGuiWaits([this] { m_pair->b->disable(); });
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(eval(QStringLiteral("erfc.waitForEvent(sig, %1)").arg(timeout)), QStringLiteral("null"));
    QVERIFY2(waited.elapsed() < 10000, qPrintable(QString::number(waited.elapsed())));
    leaving.wait();
    watchdog.release();
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("state 1,state 0"));
}

void tst_JsQErfcNetwork::subscriptionSuspended()
{
    QCOMPARE(eval("erfc.connectToEvent(sig, onEvent, onState) && erfc.waitForEventConnected(sig)"), QStringLiteral("true"));
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("state 1"));
    m_erfc->suspend();
    emitFromPeer(30, QByteArray::fromHex("0100"));
    eval("erfc.disconnectFromEvent(sig)");
    // The removal still happens; events and changes are dropped for good.
    QTRY_COMPARE(JsQErfcEventConnect::instances(), 0);
    m_erfc->resume();
    QCoreApplication::processEvents();
    QCOMPARE(eval("log.join()"), QStringLiteral("state 1"));
    QCOMPARE(attempt("erfc.waitForEventConnected(sig)"), QStringLiteral("error: Event for address: 2 and id: 30 does not Exist!"));
}

void tst_JsQErfcNetwork::teardownFreesSubscriptions()
{
    joinRaw();
    QCOMPARE(eval("erfc.connectToEvent(sig) && erfc.waitForEventConnected(sig)"), QStringLiteral("true"));
    QCOMPARE(eval("erfc.connectToEvent({address: 2, eid: 33}) && !erfc.waitForEventConnected({address: 2, eid: 33})"),
             QStringLiteral("true"));
    // Still waiting for the silent node's answer when the script goes.
    QCOMPARE(eval("erfc.connectToEvent({address: 4, eid: 30})"), QStringLiteral("true"));
    QCOMPARE(JsQErfcEventConnect::instances(), 3);
    stopScript();
    QTRY_COMPARE(JsQErfcEventConnect::instances(), 0);
    // The connected one was unsubscribed: the peer sends its events nowhere
    // now. An echo answered by the peer comes after anything it sent before.
    const int unknownBefore = m_pair->a->statistics().unknownEvent;
    emitFromPeer(30, QByteArray::fromHex("0100"));
    std::future<CallResult> echo = callFromWorker(m_pair->a.get(), Peer, 0);
    QCOMPARE(echo.get().code, 0);
    QCOMPARE(int(m_pair->a->statistics().unknownEvent), unknownBefore);
}

void tst_JsQErfcNetwork::nodeChanges()
{
    eval("function rec(tag) { return function (n) { log.push(tag + ' ' + Object.keys(n).join() + ' '"
         "  + [n.address, n.mode, n.modeText, n.state, n.stateText, String(n.node)].join()) } }"
         "var watcher = {name: 'watcher', go: function () { erfc.nodeUpdate(function (n) { log.push(this.name) }) } };"
         "watcher.go(); erfc.nodeNew(6, rec('replaced')); erfc.nodeNew({address: 6}, rec('new6'));"
         "erfc.nodeRemoved(rec('gone')); erfc.nodeUpdate(7, rec('seven')); erfc.nodeRemoved(6, rec('gone6'))");
    {
        Spoke spoke(m_pair->a.get(), 6, QErfc::Maintenance);
        QVERIFY(spoke.join());
        QTRY_COMPARE(eval("log.join('|')"),
                     QStringLiteral("watcher|new6 address,mode,modeText,state,stateText,node 6,1,Maintenance,0,New,null"));
        eval("log = []");
        spoke.stack->disable();
        QTRY_COMPARE(eval("log.join('|')"),
                     QStringLiteral("watcher|gone address,mode,modeText,state,stateText,node 6,1,Maintenance,1,Removed,null|"
                                    "gone6 address,mode,modeText,state,stateText,node 6,1,Maintenance,1,Removed,null"));
        // Suspended: nothing, then or later.
        eval("log = []");
        m_erfc->suspend();
        spoke.stack->enable();
        QTRY_VERIFY(m_pair->a->knownNodes().contains(6));
        QCoreApplication::processEvents();
        m_erfc->resume();
        QCoreApplication::processEvents();
        QCOMPARE(eval("log.length"), QStringLiteral("0"));
        // After the script has gone, nodes come and go without it.
        stopScript();
        spoke.stack->disable();
    }
    QTRY_VERIFY(!m_pair->a->knownNodes().contains(6));
}

void tst_JsQErfcNetwork::nodeWait()
{
    QCOMPARE(eval("[erfc.nodeWait(2, 0), erfc.nodeWait(9, 0), erfc.nodeWait(9, 300)].join()"),
             QStringLiteral("true,false,false"));
    QCOMPARE(attempt("erfc.nodeWait(63, 0)"), QStringLiteral("error: Can't wait for node, AddressError"));
    QCOMPARE(attempt("erfc.nodeWait('x', 0)"), QStringLiteral("error: No node address available!"));
    // A node already present in maintenance: at once, in its mode only.
    Spoke maintenance(m_pair->a.get(), 6, QErfc::Maintenance);
    QVERIFY(maintenance.join());
    QCOMPARE(eval("[erfc.nodeWait({address: 6}, erfc.MODE_MAINTENANCE, 0), erfc.nodeWait(6, erfc.MODE_APPLICATION, 0)].join()"),
             QStringLiteral("true,false"));
    // Nodes that join while the script waits, with a bound and without.
    for (const QString& timeout : {QStringLiteral("10000"), QStringLiteral("-1")}) {
        Spoke later(m_pair->a.get(), 7);
        QVERIFY(later.bind());
        QVERIFY(!m_pair->a->knownNodes().contains(7));
        std::future<void> joining = onceGuiWaits([&later] { later.stack->enable(); });
        QCOMPARE(eval("erfc.nodeWait(7, erfc.MODE_APPLICATION, " + timeout + ")"), QStringLiteral("true"));
        joining.wait();
    }
}

void tst_JsQErfcNetwork::nodeWaitEndsWithTheStack()
{
    Spoke later(m_pair->a.get(), 7);
    QVERIFY(later.bind());
    // Should a wait not end, node 7 joins and ends it with the wrong result.
    Watchdog watchdog([this, &later] {
        m_pair->a->enable();
        later.stack->enable();
    });
    // The script's stack is disabled while the script waits: no node can
    // join it any more.
    std::future<void> disabling = onceGuiWaits([this] { m_pair->a->disable(); });
    QCOMPARE(eval("erfc.nodeWait(7, -1)"), QStringLiteral("false"));
    disabling.wait();
    // Nor on a stack disabled before the wait, in either form.
    QCOMPARE(eval("[erfc.nodeWait(2, -1), erfc.nodeWait(2, erfc.MODE_APPLICATION, -1)].join()"),
             QStringLiteral("false,false"));
}

void tst_JsQErfcNetwork::nodeInfo()
{
    const QString keys = "address,available,mode,modeText,protocolVersion,nodeDescription,softwareVersion,softwareHash,"
                         "bootloaderVersion,bootloaderHash,hardwareDescription,hardwareRevision,serial,uniqueId,node,state";
    // A stack keeps no manufacturer and domain: those items fail, state 1.
    QCOMPARE(eval("var r = erfc.nodeInfo(2); Object.keys(r).join() + ' ' + [r.address, r.available, r.mode, r.modeText,"
                  " r.protocolVersion, r.nodeDescription, r.softwareVersion, r.softwareHash, r.bootloaderVersion,"
                  " r.bootloaderHash, r.serial, r.node, r.state].join()"),
             keys + " 2,true,0,Application,02,Peer,4.2.7,0aff0001,1.0.3,b0070002,SN-2,2,1");
    eval("var n = {address: 2}; var who = {name: 'who', go: function () {"
         "  erfc.nodeInfo(n, {callback: function (r) { log.push(this.name, Object.keys(r).join(), r.node === n,"
         "    r.nodeDescription, r.softwareVersion, r.bootloaderVersion, r.state) }}) } }; who.go()");
    QTRY_COMPARE(eval("log.join(' ')"), "who " + keys + " true Peer 4.2.7 1.0.3 1");
    QCOMPARE(attempt("erfc.nodeInfo(63, f)"), QStringLiteral("error: Can't get node info, AddressError"));
    QCOMPARE(attempt("erfc.nodeInfo(2, {})"), QStringLiteral("error: No function available!"));
    QTRY_COMPARE(JSErfcNodeInfo::instances(), 0);
}

void tst_JsQErfcNetwork::statisticsAndPing()
{
    const QString keys = "frameTx,frameRx,crcError,routing,routingError,retries,maxRetries,retransmit,unknownNode,"
                         "unknownFunction,unknownEvent,unexpResponse,rxqueueFull,node";
    QCOMPARE(eval("var s = erfc.nodeStatistics(2); Object.keys(s).join() + ' ' + (s.frameTx > 0) + ' ' + s.node"),
             keys + " true 2");
    // Each calls back once; a failed query with zeroed counters.
    eval("erfc.nodeStatistics(30, {callback: function (s) { log.push(s.frameRx + ' ' + s.node) }});"
         "erfc.ping(2, function (d) { log.push(d >= 0) }); erfc.ping(30, function (d) { log.push(d) })");
    QTRY_COMPARE(eval("log.sort().join('|')"), QStringLiteral("-1|0 30|true"));
    QTRY_COMPARE(JSErfcNodeInfo::instances(), 0);
    QCOMPARE(eval("log.length"), QStringLiteral("3"));
    QCOMPARE(eval("var d = erfc.ping(2); (d >= 0) + ' ' + erfc.ping(30)"), QStringLiteral("true -1"));
    QCOMPARE(attempt("erfc.nodeStatistics(63)"), QStringLiteral("error: Can't get node statistics, AddressError"));
    QCOMPARE(attempt("erfc.ping(63)"), QStringLiteral("error: Can't ping node, AddressError"));
}

void tst_JsQErfcNetwork::silentNodeEndsBlockingForms()
{
    // Node 4 cannot answer while this thread blocks: every blocking form
    // ends on the stack's time-outs, with nothing answered.
    joinRaw();
    QCOMPARE(eval("var r = erfc.nodeInfo(4); [r.state, r.nodeDescription, r.available].join()"),
             QStringLiteral("1,,true"));
    QCOMPARE(eval("[erfc.nodeStatistics(4).frameTx, erfc.ping(4)].join()"), QStringLiteral("0,-1"));
}

QTEST_GUILESS_MAIN(tst_JsQErfcNetwork)
#include "tst_jsqerfcnetwork.moc"
