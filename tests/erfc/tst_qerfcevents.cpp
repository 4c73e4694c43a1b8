#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfceventconnect.h"
#include "qerfcrequest.h"
#include "qerfcstack_p.h"
#include "rawpeer.h"
#include "stackpair.h"

#include <QtTest>

#include <memory>

// Events end to end: nodes subscribing to the PC's events and the three
// delivery types as they appear on the wire, the PC's own subscriptions to a
// node's events with their states, and events between two stacks.
namespace {

constexpr uchar Own = 1;
constexpr uchar Peer = 4;
constexpr uchar NetworkFunction = 5;
constexpr uchar Level = 20;  // offered to every caller
constexpr uchar Secret = 21; // offered to admin callers only

QByteArray h(const char* hex)
{
    return QByteArray::fromHex(hex);
}

bool isEventFrame(const QErfcMsg& m)
{
    return m.isEvent() && !m.isResponse();
}

// The stack's internal subscription requests not yet deleted.
int internalRequests(QErfcStack* stack)
{
    auto* engine = stack->findChild<QErfcStackPrivate*>(QString(), Qt::FindDirectChildrenOnly);
    QMutexLocker lock(&engine->m_internalRequestsLock);
    return engine->m_internalRequests.size();
}

} // namespace

class tst_QErfcEvents : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void delivery_data();
    void delivery();
    void normalDeliveryRetriedUntilAcknowledged();
    void refusedAndEndedSubscriptionsGetNothing();
    void subscriptionStates();
    void subscriptionEndsWithNode_data();
    void subscriptionEndsWithNode();
    void eventsBetweenStacks();

private:
    // Node `source`, behind the peer's link, calls NETWORK; the answer's code or -1.
    int network(uchar source, const QByteArray& payload, QErfc::Privilege privilege = QErfc::User);
    // The first transmissions of event frames carrying `payload` from index
    // `from` on, as "header:payload".
    QStringList eventFrames(int from, const QByteArray& payload) const;
    // Emits one event and returns the frames the peer got for it.
    QStringList emitAndCollect(uchar eventId, const QByteArray& payload);
    // Subscribes the stack to event 30 of the peer, answered with `code`.
    void subscribe(QErfcEventConnect& connection, QErfc::ResponseCode code);

    std::unique_ptr<QErfcStack> stack;
    std::unique_ptr<RawPeer> peer;
    QErfcEvent level{Level, "Level", QErfc::User};
    QErfcEvent secret{Secret, "Secret", QErfc::Admin};
};

void tst_QErfcEvents::init()
{
    stack.reset(new QErfcStack(Own));
    stack->registerEvent(&level);
    stack->registerEvent(&secret);
    peer.reset(new RawPeer(Peer));
    QVERIFY(peer->attach(stack.get()));
    stack->enable();
    QVERIFY(peer->join());
    // Two more nodes behind the same link.
    peer->hello(0x5555, 16, QErfc::Application, 5);
    peer->hello(0x6666, 16, QErfc::Application, 6);
    QTRY_COMPARE_WITH_TIMEOUT(stack->knownNodes(), (QList<uchar>{4, 5, 6}), 10000);
}

void tst_QErfcEvents::cleanup()
{
    peer.reset();
    stack.reset();
}

int tst_QErfcEvents::network(uchar source, const QByteArray& payload, QErfc::Privilege privilege)
{
    QErfcMsg m = peer->request(Own, NetworkFunction, payload);
    m.setSource(source);
    m.setPrivilege(privilege);
    const int from = peer->frames().size();
    peer->send(m);
    const int i = peer->waitFor(RawPeer::answerTo(m), from);
    return i < 0 ? -1 : int(peer->frames().at(i).responseCode());
}

QStringList tst_QErfcEvents::eventFrames(int from, const QByteArray& payload) const
{
    QStringList out;
    for (int i = from; i < peer->frames().size(); ++i) {
        const QErfcMsg& m = peer->frames().at(i);
        if (isEventFrame(m) && m.payload() == payload && !m.retransmit())
            out << QString::fromLatin1(peer->rawFrames().at(i).left(4).toHex() + ':' + payload);
    }
    return out;
}

QStringList tst_QErfcEvents::emitAndCollect(uchar eventId, const QByteArray& payload)
{
    const int from = peer->frames().size();
    QErfcEmitEvent event(eventId, payload);
    if (!stack->send(&event))
        return {"not sent"};
    // The stack answers the sync after queuing every frame of the emission.
    if (!peer->sync())
        return {"no sync"};
    return eventFrames(from, payload);
}

void tst_QErfcEvents::subscribe(QErfcEventConnect& connection, QErfc::ResponseCode code)
{
    const int from = peer->frames().size();
    QVERIFY(stack->connectToEvent(&connection));
    const int i = peer->waitFor(RawPeer::isRequest(NetworkFunction), from);
    QVERIFY(i >= 0);
    QCOMPARE(peer->frames().at(i).payload().left(2), h("021e"));
    QCOMPARE(connection.state(), QErfc::EventDisconnected);
    peer->send(RawPeer::answer(peer->frames().at(i), code));
    QTRY_COMPARE_WITH_TIMEOUT(connection.state(),
                              code == QErfc::OK ? QErfc::EventConnected : QErfc::EventError, 10000);
}

void tst_QErfcEvents::delivery_data()
{
    // Delivery type of nodes 4, 5 and 6 (-1: not subscribed); the frames one
    // emission puts on the link, header and payload.
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QStringList>("frames");
    QTest::newRow("three broadcast") << QList<int>{2, 2, 2} << QStringList{"fc189402:ev"};
    QTest::newRow("normal and datagram") << QList<int>{0, 1, -1}
                                         << QStringList{"10189400:ev", "14189402:ev"};
    QTest::newRow("broadcast among datagrams") << QList<int>{1, 2, 2}
                                               << QStringList{"10189402:ev", "fc189402:ev"};
    QTest::newRow("unknown type") << QList<int>{3, -1, -1} << QStringList{};
    QTest::newRow("no subscriber") << QList<int>{-1, -1, -1} << QStringList{};
}

void tst_QErfcEvents::delivery()
{
    QFETCH(QList<int>, types);
    QFETCH(QStringList, frames);
    for (int i = 0; i < types.size(); ++i) {
        if (types.at(i) < 0)
            continue;
        // No retries, so that a normal delivery stays quiet after its first sending.
        const QByteArray subscription = h("0214") + char(types.at(i)) + h("00c8");
        QCOMPARE(network(uchar(Peer + i), subscription), int(QErfc::OK));
    }
    QCOMPARE(emitAndCollect(Level, "ev"), frames);
}

void tst_QErfcEvents::normalDeliveryRetriedUntilAcknowledged()
{
    // Normal delivery with 2 retries, 255 ms apart.
    QCOMPARE(network(Peer, h("02140002ff")), int(QErfc::OK));
    const QErfcStatistics before = stack->statistics();

    // Not acknowledged: sent, repeated twice with the retransmission bit, given up.
    int from = peer->frames().size();
    QErfcEmitEvent lost(Level, "lost");
    QVERIFY(stack->send(&lost));
    QTRY_COMPARE_WITH_TIMEOUT(stack->statistics().maxRetries - before.maxRetries, 1, 10000);
    QVERIFY(peer->sync());
    QStringList headers;
    for (int i = from; i < peer->frames().size(); ++i) {
        if (peer->frames().at(i).payload() == "lost")
            headers << peer->rawFrames().at(i).left(4).toHex();
    }
    QCOMPARE(headers, (QStringList{"10189400", "10189401", "10189401"}));
    QCOMPARE(stack->statistics().retries - before.retries, 2);

    // Acknowledged: sent once. A second lost event shows that time enough for
    // a repetition has passed.
    from = peer->frames().size();
    QErfcEmitEvent kept(Level, "kept");
    QVERIFY(stack->send(&kept));
    const int i = peer->waitFor([](const QErfcMsg& m) { return m.payload() == "kept"; }, from);
    QVERIFY(i >= 0);
    QCOMPARE(peer->frames().at(i).requestId(), uchar(1));
    peer->send(RawPeer::answer(peer->frames().at(i), QErfc::OK));
    QErfcEmitEvent again(Level, "again");
    QVERIFY(stack->send(&again));
    QTRY_COMPARE_WITH_TIMEOUT(stack->statistics().maxRetries - before.maxRetries, 2, 10000);
    QVERIFY(peer->sync());
    QCOMPARE(peer->count([](const QErfcMsg& m) { return m.payload() == "kept"; }, from), 1);
    QCOMPARE(peer->count([](const QErfcMsg& m) { return m.payload() == "again"; }, from), 3);
}

void tst_QErfcEvents::refusedAndEndedSubscriptionsGetNothing()
{
    // Refused: the event needs more privilege than the request carries.
    QCOMPARE(network(4, h("0215010000")), int(QErfc::Specific1));
    // Ended by unsubscribing, and by a restart of the subscriber.
    QCOMPARE(network(5, h("0214010000")), int(QErfc::OK));
    QCOMPARE(network(5, h("0314")), int(QErfc::OK));
    QCOMPARE(network(6, h("0214010000")), int(QErfc::OK));
    QCOMPARE(network(6, h("0215010000"), QErfc::Admin), int(QErfc::OK));
    peer->hello(0x6667, 16, QErfc::Application, 6);
    QVERIFY(peer->sync());
    QCOMPARE(stack->knownNodes(), (QList<uchar>{4, 5, 6}));
    QCOMPARE(emitAndCollect(Secret, "s"), QStringList());
    QCOMPARE(emitAndCollect(Level, "l"), QStringList());

    // With the privilege the event needs, the subscription holds.
    QCOMPARE(network(4, h("0215010000"), QErfc::Admin), int(QErfc::OK));
    QCOMPARE(emitAndCollect(Secret, "s"), QStringList{"10189502:s"});
}

void tst_QErfcEvents::subscriptionStates()
{
    // Datagram delivery, 2 retries, 100 ms: the values travel in the request.
    QErfcEventConnect connection(Peer, 30, 1, 2);
    connection.setTimeout(100);
    int from = peer->frames().size();
    subscribe(connection, QErfc::OK);
    if (QTest::currentTestFailed())
        return;
    int i = peer->waitFor(RawPeer::isRequest(NetworkFunction), from);
    QCOMPARE(peer->frames().at(i).payload().toHex(), QByteArray("021e010264"));

    // Subscribed already: refused, and nothing is sent.
    from = peer->frames().size();
    QVERIFY(!stack->connectToEvent(&connection));
    QVERIFY(peer->sync());
    QCOMPARE(peer->count(RawPeer::isRequest(NetworkFunction), from), 0);

    // The node's events arrive at the subscription and are acknowledged.
    QList<QErfcIncomingEvent> events;
    connect(&connection, &QErfcEventConnect::callSignal, this,
            [&events](QErfcIncomingEvent event) { events << event; });
    QErfcMsg event = peer->request(Own, 30, "t=21");
    event.setEvent(true);
    event.setPrivilege(QErfc::Operator);
    from = peer->frames().size();
    peer->send(event);
    i = peer->waitFor(RawPeer::answerTo(event), from);
    QVERIFY(i >= 0);
    QCOMPARE(peer->frames().at(i).responseCode(), QErfc::OK);
    QTRY_COMPARE_WITH_TIMEOUT(events.size(), 1, 10000);
    QCOMPARE(events.at(0).address(), Peer);
    QCOMPARE(events.at(0).eventId(), uchar(30));
    QCOMPARE(events.at(0).privilege(), QErfc::Operator);
    QCOMPARE(events.at(0).payload(), QByteArray("t=21"));
    QCOMPARE(connection.lastEvent().payload(), QByteArray("t=21"));

    // Unsubscribing ends disconnected although the node never answers.
    from = peer->frames().size();
    QVERIFY(stack->disconnectFromEvent(Peer, 30));
    i = peer->waitFor(RawPeer::isRequest(NetworkFunction), from);
    QVERIFY(i >= 0);
    QCOMPARE(peer->frames().at(i).payload().toHex(), QByteArray("031e"));
    QTRY_COMPARE_WITH_TIMEOUT(connection.state(), QErfc::EventDisconnected, 10000);
    QVERIFY(!stack->disconnectFromEvent(Peer, 30));
    QVERIFY(!stack->disconnectFromEvent(&connection));

    // Refused by the node, and asked of a node the stack does not know.
    QErfcEventConnect refused(Peer, 30);
    subscribe(refused, QErfc::Specific1);
    if (QTest::currentTestFailed())
        return;
    QErfcEventConnect nowhere(30, 20);
    QVERIFY(!stack->connectToEvent(&nowhere));
    QCOMPARE(nowhere.state(), QErfc::EventError);

    // Every internal request is deleted once answered.
    QTRY_COMPARE_WITH_TIMEOUT(internalRequests(stack.get()), 0, 10000);
}

void tst_QErfcEvents::subscriptionEndsWithNode_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("restart") << 0;
    QTest::newRow("goodbye") << 1;
    QTest::newRow("link released") << 2;
}

void tst_QErfcEvents::subscriptionEndsWithNode()
{
    QFETCH(int, how);
    QErfcEventConnect connection(Peer, 30);
    subscribe(connection, QErfc::OK);
    if (QTest::currentTestFailed())
        return;
    if (how == 0)
        peer->hello(0x0BADF00D);
    else if (how == 1)
        peer->goodbye();
    else
        peer->detach();
    QTRY_COMPARE_WITH_TIMEOUT(connection.state(), QErfc::EventDisconnected, 10000);
    QVERIFY(!stack->disconnectFromEvent(Peer, 30));
    QCOMPARE(stack->knownNodes().contains(Peer), how == 0);
}

void tst_QErfcEvents::eventsBetweenStacks()
{
    StackPair pair(1, 2);
    QErfcEvent pairLevel(Level, "Level", QErfc::User);
    QErfcEvent pairSecret(Secret, "Secret", QErfc::Admin);
    pair.a->registerEvent(&pairLevel);
    pair.a->registerEvent(&pairSecret);
    QVERIFY(pair.connectAndDiscover());

    // B's requests carry user privilege: the admin event is refused.
    QErfcEventConnect secretEvents(1, Secret);
    QVERIFY(pair.b->connectToEvent(&secretEvents));
    QTRY_COMPARE_WITH_TIMEOUT(secretEvents.state(), QErfc::EventError, 10000);
    pair.b->setPrivilege(QErfc::Admin);
    QVERIFY(pair.b->connectToEvent(&secretEvents));
    QTRY_COMPARE_WITH_TIMEOUT(secretEvents.state(), QErfc::EventConnected, 10000);

    QErfcEventConnect levelEvents(1, Level, quint32(0)); // normal, acknowledged delivery
    QVERIFY(pair.b->connectToEvent(&levelEvents));
    QTRY_COMPARE_WITH_TIMEOUT(levelEvents.state(), QErfc::EventConnected, 10000);
    QVERIFY(!pair.b->connectToEvent(&levelEvents));

    // A waiter on another thread wakes for an event; every event arrives
    // once, in order.
    QList<QByteArray> payloads;
    connect(&levelEvents, &QErfcEventConnect::callSignal, this,
            [&payloads](QErfcIncomingEvent event) { payloads << event.payload(); });
    bool woken = false;
    std::unique_ptr<QThread> waiter(
        QThread::create([&] { woken = levelEvents.waitForEvent(10000); }));
    waiter->start();
    int emitted = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        QErfcEmitEvent event(Level, QByteArray::number(++emitted));
        pair.a->send(&event);
    });
    ticker.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(waiter->isFinished() && emitted >= 10, 15000);
    ticker.stop();
    QVERIFY(woken);
    QTRY_COMPARE_WITH_TIMEOUT(payloads.size(), emitted, 10000);
    for (int n = 0; n < emitted; ++n)
        QCOMPARE(payloads.at(n), QByteArray::number(n + 1));

    // Unsubscribed: A stops sending that event.
    QVERIFY(pair.b->disconnectFromEvent(&secretEvents));
    QTRY_COMPARE_WITH_TIMEOUT(secretEvents.state(), QErfc::EventDisconnected, 10000);

    // A drop ends B's subscriptions and A's subscribers alike.
    pair.a->disable();
    QTRY_COMPARE_WITH_TIMEOUT(levelEvents.state(), QErfc::EventDisconnected, 10000);
    pair.a->enable();
    QTRY_VERIFY_WITH_TIMEOUT(pair.a->knownNodes().contains(2) && pair.b->knownNodes().contains(1),
                             10000);
    const quint16 unknownEvents = pair.b->statistics().unknownEvent;
    QErfcEmitEvent afterDrop(Level, "late");
    QErfcEmitEvent afterUnsubscribe(Secret, "late");
    QVERIFY(pair.a->send(&afterDrop));
    QVERIFY(pair.a->send(&afterUnsubscribe));
    QErfcRequest echo(2, 0, "sync"); // answered after anything queued before it
    QVERIFY(pair.a->send(&echo));
    QVERIFY(echo.waitForResponse(10000));
    QCOMPARE(echo.response().responseCode(), QErfc::OK);
    QCOMPARE(pair.b->statistics().unknownEvent, unknownEvents);
    QCOMPARE(payloads.size(), emitted);
    QTRY_COMPARE_WITH_TIMEOUT(internalRequests(pair.b.get()), 0, 10000);
}

QTEST_GUILESS_MAIN(tst_QErfcEvents)
#include "tst_qerfcevents.moc"
