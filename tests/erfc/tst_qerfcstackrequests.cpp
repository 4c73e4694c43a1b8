#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfceventconnect.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "qerfcstack_p.h"
#include "rawpeer.h"

#include <QtTest>

#include <QSemaphore>
#include <atomic>
#include <future>
#include <memory>
#include <vector>

namespace {

constexpr uchar Own = 1;
constexpr uchar Peer = 4;
constexpr uchar NetworkFunction = 5;
constexpr uchar Fid = 20;
constexpr uchar Level = 20;  // offered to every caller
constexpr uchar Secret = 21; // admin callers only
constexpr quint32 RunId = 0x11223344;

QByteArray h(const char* hex)
{
    return QByteArray::fromHex(hex);
}

bool completed(QErfcRequest& r)
{
    return QTest::qWaitFor([&r] { return r.waitForResponse(0); }, 10000);
}

// Stays outstanding for a long time unless answered.
void keepOutstanding(QErfcRequest& r)
{
    r.setRetries(255);
    r.setTimeout(250);
}

RawPeer::Match payloadIs(const QByteArray& payload, bool retransmit = false)
{
    return [=](const QErfcMsg& m) { return m.payload() == payload && (!retransmit || m.retransmit()); };
}

} // namespace

class tst_QErfcStackRequests : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowGenerations();
    void windowLimits();
    void retransmission_data();
    void retransmission();
    void pipelinedIdsNeverRepeatInGeneration();
    void eventDelivery_data();
    void eventDelivery();
    void refusedAndEndedSubscribersGetNothing();
    void subscriptionStates();
    void subscriptionDeleted_data();
    void subscriptionDeleted();

private:
    // The peer, and nodes 5 and 6 behind its link, join the stack.
    void joinThree();
    // Node `source` calls NETWORK; the answer's code, or -1.
    int network(uchar source, const QByteArray& payload, QErfc::Privilege privilege = QErfc::User);
    // Emits one event; every event frame the peer got for it, as "header:payload".
    QStringList emitAndCollect(uchar eventId, const QByteArray& payload, int givenUp = 0);

    std::unique_ptr<QErfcStack> stack;
    std::unique_ptr<RawPeer> peer;
    QErfcEvent level{Level, "Level", QErfc::User};
    QErfcEvent secret{Secret, "Secret", QErfc::Admin};
};

void tst_QErfcStackRequests::init()
{
    stack.reset(new QErfcStack(Own));
    stack->registerEvent(&level);
    stack->registerEvent(&secret);
    peer.reset(new RawPeer(Peer));
    QVERIFY(peer->attach(stack.get()));
    stack->enable();
}

void tst_QErfcStackRequests::cleanup()
{
    peer.reset();
    stack.reset();
}

void tst_QErfcStackRequests::windowGenerations()
{
    QVERIFY(peer->join(RunId, 2));
    QErfcRequest r1(Peer, Fid, "a"), r2(Peer, Fid, "b"), r3(Peer, Fid, "c");
    for (QErfcRequest* r : {&r1, &r2, &r3})
        keepOutstanding(*r);
    const int from = peer->frames().size();
    QVERIFY(stack->send(&r1) && stack->send(&r2));
    auto third = std::async(std::launch::async, [&] { return stack->send(&r3); });
    const int i1 = peer->waitFor(RawPeer::isRequest(Fid), from);
    const int i2 = peer->waitFor(RawPeer::isRequest(Fid), i1 + 1);
    QVERIFY(i1 >= 0 && i2 >= 0);
    const QErfcMsg f1 = peer->frames().at(i1), f2 = peer->frames().at(i2);
    QCOMPARE(f1.requestId(), quint8(0));
    QCOMPARE(f2.requestId(), quint8(1));
    QCOMPARE(f2.windowBit(), f1.windowBit());
    // A freed slot is not enough: the next generation starts once the window drains.
    peer->send(RawPeer::answer(f1, QErfc::OK));
    QVERIFY(completed(r1));
    QVERIFY(peer->sync());
    QCOMPARE(peer->count(RawPeer::isRequest(Fid), i2 + 1), 0);
    peer->send(RawPeer::answer(f2, QErfc::OK));
    const int i3 = peer->waitFor(RawPeer::isRequest(Fid), i2 + 1);
    QVERIFY(i3 >= 0);
    const QErfcMsg f3 = peer->frames().at(i3);
    QCOMPARE(f3.requestId(), quint8(2));
    QVERIFY(f3.windowBit() != f1.windowBit());
    QVERIFY(third.get());

    // An answer with the earlier generation's window bit is not this request's.
    const quint16 unexpected = stack->statistics().unexpResponse;
    QErfcMsg late = RawPeer::answer(f3, QErfc::OK, "late");
    late.setWindowBit(f1.windowBit());
    peer->send(late);
    QVERIFY(peer->sync());
    QCOMPARE(stack->statistics().unexpResponse - unexpected, 1);
    QVERIFY(!r3.waitForResponse(0));
    peer->send(RawPeer::answer(f3, QErfc::Specific2, "C"));
    QVERIFY(completed(r3));
    QCOMPARE(r3.response().payload(), QByteArray("C"));
}

void tst_QErfcStackRequests::windowLimits()
{
    QVERIFY(peer->join(RunId, 1));
    // Node 5 behind the same link accepts no request at all.
    peer->hello(0x55667788, 0, QErfc::Application, 5);
    QTRY_VERIFY_WITH_TIMEOUT(stack->knownNodes().contains(5), 10000);
    QElapsedTimer timer;
    timer.start();
    QErfcRequest r0(5, Fid, "zero");
    QVERIFY(!stack->send(&r0));
    QVERIFY(timer.elapsed() < 2500);
    QCOMPARE(r0.response().responseCode(), QErfc::ConnectionError);

    QErfcRequest r1(Peer, Fid, "1"), r2(Peer, Fid, "2"), r3(Peer, Fid, "3"), inner(Peer, Fid);
    keepOutstanding(r1);
    keepOutstanding(r3);
    const int from = peer->frames().size();
    QVERIFY(stack->send(&r1));
    // A handler on the stack thread never waits for the full window.
    std::atomic<qint64> took{-1};
    QErfcFunction f(30, "sender", QErfc::User);
    connect(&f, &QErfcFunction::callSignal, &f,
            [&](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                QElapsedTimer t;
                t.start();
                code = stack->send(&inner) ? QErfc::OK : QErfc::Specific1;
                took = t.elapsed();
            },
            Qt::DirectConnection);
    stack->registerFunction(&f);
    QErfcMsg answer;
    QVERIFY(peer->call(30, QByteArray(), &answer));
    QCOMPARE(answer.responseCode(), QErfc::Specific1);
    QVERIFY2(took < 2500, qPrintable(QString::number(took)));
    QCOMPARE(inner.response().responseCode(), QErfc::ConnectionError);
    stack->unregisterFunction(&f);

    // Any other sender waits 5000 ms at most, for the send lock and the
    // window together: senders queued on the node do not add up their waits.
    QTimer keepAlive; // heard from: not dropped during the waits below
    connect(&keepAlive, &QTimer::timeout, peer.get(), [this] { peer->hello(RunId, 1); });
    keepAlive.start(1000);
    QErfcRequest r2b(Peer, Fid, "2"), r2c(Peer, Fid, "2");
    timer.restart();
    std::vector<std::future<bool>> senders;
    for (QErfcRequest* r : {&r2, &r2b, &r2c})
        senders.push_back(std::async(std::launch::async, [this, r] { return stack->send(r); }));
    QVERIFY(QTest::qWaitFor([&] {
        return std::all_of(senders.begin(), senders.end(), [](const std::future<bool>& f) {
            return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
    }, 30000));
    keepAlive.stop();
    QVERIFY2(timer.elapsed() >= 4500 && timer.elapsed() < 9000, qPrintable(QString::number(timer.elapsed())));
    for (std::future<bool>& f : senders)
        QVERIFY(!f.get());
    for (QErfcRequest* r : {&r2, &r2b, &r2c})
        QCOMPARE(r->response().responseCode(), QErfc::ConnectionError);
    QCOMPARE(peer->count(payloadIs("2"), from), 0);
    // A hello that widens the window wakes a waiting sender.
    auto woken = std::async(std::launch::async, [&] { return stack->send(&r3); });
    QVERIFY(peer->waitFor(payloadIs("1", true), peer->frames().size()) >= 0);
    timer.restart();
    peer->hello(RunId, 2);
    QVERIFY(peer->waitFor(payloadIs("3"), from) >= 0);
    QVERIFY(woken.get());
    QVERIFY(timer.elapsed() < 4000);
    peer->goodbye();
    QVERIFY(completed(r1) && completed(r3));
}

void tst_QErfcStackRequests::retransmission_data()
{
    // Every transmission, header and payload; each but the last answered
    // with a damage report.
    QTest::addColumn<int>("retries");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("three retries") << 3 << QStringList{"101814000102", "101814010102", "101814010102", "101814010102"};
    // Given up without a retry: not counted in maxRetries.
    QTest::newRow("none") << 0 << QStringList{"101814000102"};
}

void tst_QErfcStackRequests::retransmission()
{
    QFETCH(int, retries);
    QFETCH(QStringList, sent);
    QVERIFY(peer->join(RunId));
    const QErfcStatistics before = stack->statistics();
    QErfcRequest r(Peer, Fid, h("0102"));
    r.setRetries(quint8(retries));
    r.setTimeout(250);
    QElapsedTimer timer;
    timer.start();
    const int first = peer->frames().size();
    int from = first;
    QVERIFY(stack->send(&r));
    // Damaged reports make it go again at the next tick (1000 ms by time-outs alone).
    const auto toFid = [](const QErfcMsg& m) { return !m.isResponse() && m.functionId() == Fid; };
    QStringList seen;
    for (int n = 0; n <= retries; ++n) {
        const int i = peer->waitFor(toFid, from);
        QVERIFY(i >= 0);
        seen << QString::fromLatin1(peer->rawFrames().at(i).left(6).toHex());
        if (n < retries)
            peer->send(RawPeer::answer(peer->frames().at(i), QErfc::CrcError));
        from = i + 1;
    }
    QVERIFY(completed(r));
    if (retries > 0)
        QVERIFY2(timer.elapsed() < 800, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(r.response().responseCode(), QErfc::ConnectionError);
    QCOMPARE(r.response().address(), Own);
    QCOMPARE(seen, sent);
    QVERIFY(peer->sync());
    QCOMPARE(peer->count(toFid, first), retries + 1);
    const QErfcStatistics after = stack->statistics();
    QCOMPARE(after.retries - before.retries, retries);
    QCOMPARE(after.maxRetries - before.maxRetries, int(retries > 0));
    QCOMPARE(after.unexpResponse, before.unexpResponse);
}

void tst_QErfcStackRequests::pipelinedIdsNeverRepeatInGeneration()
{
    // The node keeps the newest request unanswered: the window neither fills
    // nor drains while requests keep coming.
    QVERIFY(peer->join(RunId, 16));
    std::vector<std::unique_ptr<QErfcRequest>> requests;
    QSemaphore seen;
    auto sender = std::async(std::launch::async, [&] {
        for (int n = 0; n < 20; ++n) {
            requests.emplace_back(new QErfcRequest(Peer, Fid, QByteArray(1, char(n))));
            requests.back()->setRetries(40);
            if ((n > 0 && !seen.tryAcquire(1, 10000)) || !stack->send(requests.back().get()))
                return false;
        }
        return true;
    });
    QList<QErfcMsg> outstanding, firsts;
    int from = peer->frames().size(), answered = 0;
    QElapsedTimer total;
    total.start();
    while (answered < 20 && total.elapsed() < 60000) {
        const int i = peer->waitFor(RawPeer::isRequest(Fid), from, 300);
        if (i >= 0) {
            outstanding << peer->frames().at(i);
            firsts << peer->frames().at(i);
            from = i + 1;
            seen.release();
        }
        for (; outstanding.size() > (i >= 0 ? 1 : 0); ++answered)
            peer->send(RawPeer::answer(outstanding.takeFirst(), QErfc::OK));
    }
    QVERIFY(sender.get());
    QCOMPARE(firsts.size(), 20);
    // A request id twice under one window bit would be taken for a repetition.
    QSet<int> ids;
    for (int n = 0; n < 20; ++n) {
        QCOMPARE(firsts.at(n).payload(), QByteArray(1, char(n)));
        if (n > 0 && firsts.at(n).windowBit() != firsts.at(n - 1).windowBit())
            ids.clear();
        QVERIFY2(!ids.contains(firsts.at(n).requestId()), qPrintable(QString::number(n)));
        ids.insert(firsts.at(n).requestId());
        QVERIFY(completed(*requests[size_t(n)]));
        QCOMPARE(requests[size_t(n)]->response().responseCode(), QErfc::OK);
    }
}

void tst_QErfcStackRequests::joinThree()
{
    QVERIFY(peer->join());
    peer->hello(0x5555, 16, QErfc::Application, 5);
    peer->hello(0x6666, 16, QErfc::Application, 6);
    QTRY_COMPARE_WITH_TIMEOUT(stack->knownNodes(), (QList<uchar>{4, 5, 6}), 10000);
}

int tst_QErfcStackRequests::network(uchar source, const QByteArray& payload,
                                    QErfc::Privilege privilege)
{
    QErfcMsg m = peer->request(Own, NetworkFunction, payload);
    m.setSource(source);
    m.setPrivilege(privilege);
    const int i = peer->exchange(m);
    return i < 0 ? -1 : int(peer->frames().at(i).responseCode());
}

QStringList tst_QErfcStackRequests::emitAndCollect(uchar eventId, const QByteArray& payload,
                                                   int givenUp)
{
    const int from = peer->frames().size();
    const quint16 maxRetries = stack->statistics().maxRetries;
    QErfcEmitEvent event(eventId, payload);
    if (!stack->send(&event))
        return {"not sent"};
    if (!QTest::qWaitFor([&] { return stack->statistics().maxRetries - maxRetries >= givenUp; },
                         10000)
        || !peer->sync())
        return {"timed out"};
    QStringList out;
    for (int i = from; i < peer->frames().size(); ++i) {
        const QErfcMsg& m = peer->frames().at(i);
        if (m.isEvent() && !m.isResponse() && m.payload() == payload)
            out << QString::fromLatin1(peer->rawFrames().at(i).left(4).toHex() + ':' + payload);
    }
    return out;
}

void tst_QErfcStackRequests::eventDelivery_data()
{
    // Delivery type of nodes 4, 5 and 6 (-1: not subscribed), each with one
    // retry after 100 ms; every frame of one emission, header and payload.
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QStringList>("frames");
    QTest::newRow("three broadcast") << QList<int>{2, 2, 2} << QStringList{"fc189402:ev"};
    QTest::newRow("normal and datagram")
        << QList<int>{0, 1, -1} << QStringList{"10189400:ev", "14189402:ev", "10189401:ev"};
    QTest::newRow("unknown type") << QList<int>{3, -1, -1} << QStringList{};
}

void tst_QErfcStackRequests::eventDelivery()
{
    joinThree();
    QFETCH(QList<int>, types);
    QFETCH(QStringList, frames);
    for (int i = 0; i < types.size(); ++i) {
        if (types.at(i) >= 0)
            QCOMPARE(network(uchar(Peer + i), h("0214") + char(types.at(i)) + h("0164")), 0);
    }
    // An unacknowledged normal delivery is repeated once, then given up.
    QCOMPARE(emitAndCollect(Level, "ev", types.count(0)), frames);
}

void tst_QErfcStackRequests::refusedAndEndedSubscribersGetNothing()
{
    joinThree();
    // Refused for lack of privilege; ended by unsubscribing, and by a restart.
    QCOMPARE(network(4, h("0215010000")), int(QErfc::Specific1));
    QCOMPARE(network(5, h("0214010000")), int(QErfc::OK));
    QCOMPARE(network(5, h("0314")), int(QErfc::OK));
    QCOMPARE(network(6, h("0215010000"), QErfc::Admin), int(QErfc::OK));
    peer->hello(0x6667, 16, QErfc::Application, 6);
    QVERIFY(peer->sync());
    QCOMPARE(emitAndCollect(Secret, "s"), QStringList());
    QCOMPARE(emitAndCollect(Level, "l"), QStringList());
    QCOMPARE(network(4, h("0215010000"), QErfc::Admin), int(QErfc::OK));
    QCOMPARE(emitAndCollect(Secret, "s"), QStringList{"10189502:s"});
}

void tst_QErfcStackRequests::subscriptionStates()
{
    QVERIFY(peer->join());
    // Subscribing to event 30 of the peer (datagram delivery, 2 retries,
    // 100 ms travel), accepted or refused by the node.
    const auto subscribe = [&](QErfcEventConnect& c, QErfc::ResponseCode code, const char* hex) {
        const int from = peer->frames().size();
        QVERIFY(stack->connectToEvent(&c));
        const int i = peer->waitFor(RawPeer::isRequest(NetworkFunction), from);
        QVERIFY(i >= 0);
        QVERIFY(peer->frames().at(i).payload().toHex().startsWith(hex));
        QCOMPARE(c.state(), QErfc::EventDisconnected);
        peer->send(RawPeer::answer(peer->frames().at(i), code));
        QTRY_COMPARE_WITH_TIMEOUT(c.state(), code ? QErfc::EventError : QErfc::EventConnected, 10000);
    };
    QErfcEventConnect connection(Peer, 30, 1, 2), refused(Peer, 30), nowhere(30, 20);
    connection.setTimeout(100);
    subscribe(connection, QErfc::OK, "021e010264");
    QVERIFY(!stack->connectToEvent(&connection)); // subscribed already
    QVERIFY(!stack->connectToEvent(&nowhere));    // an unknown node
    QCOMPARE(nowhere.state(), QErfc::EventError);

    // Unsubscribing ends disconnected although the node never answers.
    const int from = peer->frames().size();
    QVERIFY(stack->disconnectFromEvent(Peer, 30));
    const int i = peer->waitFor(RawPeer::isRequest(NetworkFunction), from);
    QVERIFY(i >= 0);
    QCOMPARE(peer->frames().at(i).payload().toHex(), QByteArray("031e"));
    QTRY_COMPARE_WITH_TIMEOUT(connection.state(), QErfc::EventDisconnected, 10000);
    QVERIFY(!stack->disconnectFromEvent(&connection));
    subscribe(refused, QErfc::Specific1, "021e");
    // Every internal subscription request is deleted once done.
    auto* engine = stack->findChild<QErfcStackPrivate*>(QString(), Qt::FindDirectChildrenOnly);
    QTRY_COMPARE_WITH_TIMEOUT(
        [engine] { QMutexLocker lock(&engine->m_internalRequestsLock); return engine->m_internalRequests.size(); }(),
        0, 10000);
}

void tst_QErfcStackRequests::subscriptionDeleted_data()
{
    // When the subscription to event 30 of the peer is deleted: by this
    // thread once subscribed, or before the node answered the subscription,
    // or by its own slot on the stack thread (subscribed, an event, the node
    // going away). Then the node sends an event, or goes away.
    QTest::addColumn<QString>("when");
    QTest::addColumn<bool>("nodeLeaves");
    QTest::newRow("subscribed, then an event") << "subscribed" << false;
    QTest::newRow("subscribed, then the node goes") << "subscribed" << true;
    QTest::newRow("before the answer, then an event") << "unanswered" << false;
    QTest::newRow("in connected(), then an event") << "connected" << false;
    QTest::newRow("in callSignal(), then an event") << "event" << false;
    QTest::newRow("in disconnected(), as the node goes") << "disconnected" << true;
}

void tst_QErfcStackRequests::subscriptionDeleted()
{
    QFETCH(QString, when);
    QFETCH(bool, nodeLeaves);
    QVERIFY(peer->join());
    auto* connection = new QErfcEventConnect(Peer, 30);
    std::atomic<int> deleted{0};
    const auto deleteIt = [connection, &deleted] {
        delete connection;
        ++deleted;
    };
    if (when == "connected")
        connect(connection, &QErfcEventConnect::connected, connection, deleteIt, Qt::DirectConnection);
    else if (when == "event")
        connect(connection, &QErfcEventConnect::callSignal, connection, deleteIt, Qt::DirectConnection);
    else if (when == "disconnected")
        connect(connection, &QErfcEventConnect::disconnected, connection, deleteIt, Qt::DirectConnection);
    const auto sendEvent = [this] {
        QErfcMsg event = peer->request(Own, 30, "t=21");
        event.setEvent(true);
        const int i = peer->exchange(event);
        return i >= 0 && peer->frames().at(i).responseCode() == QErfc::OK;
    };

    int from = peer->frames().size();
    QVERIFY(stack->connectToEvent(connection));
    const int i = peer->waitFor(RawPeer::isRequest(NetworkFunction), from);
    QVERIFY(i >= 0);
    if (when == "unanswered")
        deleteIt();
    peer->send(RawPeer::answer(peer->frames().at(i), QErfc::OK));
    QVERIFY(peer->sync());
    if (when == "subscribed")
        deleteIt();
    if (when == "event")
        QVERIFY(sendEvent());
    QCOMPARE(deleted.load(), 1 - int(when == "disconnected"));

    const quint16 unknown = stack->statistics().unknownEvent;
    if (nodeLeaves) {
        peer->goodbye();
        QTRY_VERIFY_WITH_TIMEOUT(stack->knownNodes().isEmpty(), 10000);
        QCOMPARE(deleted.load(), 1);
        QVERIFY(peer->join());
    }
    // Nothing is delivered to the deleted subscription, and another may take
    // its place: the node's events reach it and are acknowledged.
    QVERIFY(sendEvent());
    QCOMPARE(stack->statistics().unknownEvent, quint16(unknown + 1));
    QErfcEventConnect again(Peer, 30);
    from = peer->frames().size();
    QVERIFY(stack->connectToEvent(&again));
    const int j = peer->waitFor(RawPeer::isRequest(NetworkFunction), from);
    QVERIFY(j >= 0);
    peer->send(RawPeer::answer(peer->frames().at(j), QErfc::OK));
    QTRY_COMPARE_WITH_TIMEOUT(again.state(), QErfc::EventConnected, 10000);
    QVERIFY(sendEvent()); // delivered before it is acknowledged
    QCOMPARE(again.lastEvent().payload(), QByteArray("t=21"));
}

QTEST_GUILESS_MAIN(tst_QErfcStackRequests)
#include "tst_qerfcstackrequests.moc"
