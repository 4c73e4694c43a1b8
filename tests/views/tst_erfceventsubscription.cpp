// The debug log's subscription to event 127 against a raw peer: closing the
// view at every stage of the subscription frees the subscription object
// only once the stack is done with it (the sanitizers watch), a later view
// subscribes normally, and a returning node is subscribed again.

#include "erfcdebuglogdockwidget.h"
#include "erfceventinbox_p.h"
#include "erfceventsubscription_p.h"
#include "rawpeer.h"

#include <QTableWidget>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

constexpr uchar Own = 1;
constexpr uchar Peer = 4;
constexpr uchar NetworkFunction = 5;
const QByteArray Subscribe = QByteArray::fromHex("027f0103fa"); // event 127, datagram, 3 retries, 250 ms
const QByteArray Unsubscribe = QByteArray::fromHex("037f");

RawPeer::Match networkRequest(const QByteArray& payload)
{
    return [payload](const QErfcMsg& m) {
        return RawPeer::isRequest(NetworkFunction)(m) && m.payload() == payload;
    };
}

} // namespace

class TestErfcEventSubscription : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void closeWhileSubscribing();
    void closeWhileSubscribed();
    void closeAfterNodeLeft();
    void closeAroundStackDestruction();
    void nodeReturns();
    void refusedAtOnce();
    void inbox();

private:
    // Waits for the next subscribe or unsubscribe request; -1 if none came.
    int expect(const QByteArray& payload, int timeoutMs = 10000)
    {
        const int i = m_peer->waitFor(networkRequest(payload), m_seen, timeoutMs);
        if (i >= 0)
            m_seen = i + 1;
        return i;
    }
    void answer(int i, QErfc::ResponseCode code) { m_peer->send(RawPeer::answer(m_peer->frames().at(i), code)); }
    void sendRecord(const QByteArray& text)
    {
        QErfcMsg event = m_peer->request(Own, 127, "\x02\x03\x03\x03\x03\x03\x03\x03\x03" + text + "\x1d");
        event.setEvent(true);
        event.setNoResponse(true);
        m_peer->send(event);
    }

    std::unique_ptr<QErfcStack> m_stack;
    std::unique_ptr<RawPeer> m_peer;
    int m_seen = 0;
};

void TestErfcEventSubscription::init()
{
    m_stack.reset(new QErfcStack(Own));
    m_peer.reset(new RawPeer(Peer));
    QVERIFY(m_peer->attach(m_stack.get()));
    m_stack->enable();
    QVERIFY(m_peer->join());
    m_seen = 0;
}

void TestErfcEventSubscription::cleanup()
{
    m_peer.reset();
    m_stack.reset();
    QCOMPARE(ErfcEventSubscription::lingering(), 0);
}

void TestErfcEventSubscription::closeWhileSubscribing()
{
    auto* view = new ErfcDebugLogDockWidget(m_stack.get(), Peer);
    const int subscribe = expect(Subscribe);
    QVERIFY(subscribe >= 0);
    delete view;
    QCOMPARE(ErfcEventSubscription::lingering(), 1);

    // Reopened at once: the new view waits until the old subscription is
    // settled, so that its unsubscribe cannot end the new one.
    ErfcDebugLogDockWidget again(m_stack.get(), Peer);
    QTest::qWait(100);
    QCOMPARE(m_peer->count(networkRequest(Subscribe), m_seen), 0);

    // Accepted late: the old subscription is ended first.
    answer(subscribe, QErfc::OK);
    const int unsubscribe = expect(Unsubscribe);
    QVERIFY(unsubscribe >= 0);
    answer(unsubscribe, QErfc::OK);
    QTRY_COMPARE(ErfcEventSubscription::lingering(), 0);

    const int resubscribe = expect(Subscribe);
    QVERIFY(resubscribe >= 0);
    answer(resubscribe, QErfc::OK);
    QTRY_COMPARE(again.windowTitle(), QStringLiteral("Log Node 4 (Connected)"));
}

void TestErfcEventSubscription::closeWhileSubscribed()
{
    auto* view = new ErfcDebugLogDockWidget(m_stack.get(), Peer);
    answer(expect(Subscribe), QErfc::OK);
    QTRY_COMPARE(view->windowTitle(), QStringLiteral("Log Node 4 (Connected)"));
    delete view;
    const int unsubscribe = expect(Unsubscribe);
    QVERIFY(unsubscribe >= 0);
    QCOMPARE(ErfcEventSubscription::lingering(), 1);
    // The node restarts: that takes the subscription from the stack's table
    // while the request is still out; the answer comes after it.
    StackLog log(m_stack.get());
    m_peer->hello(0x01020304);
    QTRY_VERIFY(log.entries.contains(QStringLiteral("drc 4 0 0")));
    QTest::qWait(50);
    answer(unsubscribe, QErfc::OK);
    QVERIFY(m_peer->sync());
    QTRY_COMPARE_WITH_TIMEOUT(ErfcEventSubscription::lingering(), 0, 15000);
}

void TestErfcEventSubscription::closeAfterNodeLeft()
{
    auto* view = new ErfcDebugLogDockWidget(m_stack.get(), Peer);
    answer(expect(Subscribe), QErfc::OK);
    QTRY_COMPARE(view->windowTitle(), QStringLiteral("Log Node 4 (Connected)"));
    m_peer->goodbye();
    QTRY_COMPARE(view->windowTitle(), QStringLiteral("Log Node 4 (Disconnected)"));
    delete view;
    QCOMPARE(ErfcEventSubscription::lingering(), 0);
    QVERIFY(m_peer->sync());
    QCOMPARE(m_peer->count(networkRequest(Unsubscribe), m_seen), 0);
}

void TestErfcEventSubscription::closeAroundStackDestruction()
{
    // One view closed with its subscribe out, one still open when the stack goes.
    auto* closed = new ErfcDebugLogDockWidget(m_stack.get(), Peer);
    QVERIFY(expect(Subscribe) >= 0);
    delete closed;
    ErfcDebugLogDockWidget open(m_stack.get(), Peer);
    QCOMPARE(ErfcEventSubscription::lingering(), 1);

    m_peer.reset();
    m_stack.reset();
    QCOMPARE(ErfcEventSubscription::lingering(), 0);
    open.onNodeManagerDrcUpdate(Peer, QErfc::NewNode, QErfc::Application); // no stack: nothing happens
    open.onPrintBufferTimerTimeout();
}

void TestErfcEventSubscription::nodeReturns()
{
    ErfcDebugLogDockWidget view(m_stack.get(), Peer);
    answer(expect(Subscribe), QErfc::Specific1);
    QTRY_COMPARE(view.windowTitle(), QStringLiteral("Log Node 4 (Disconnected)"));

    view.onNodeManagerDrcUpdate(Peer, QErfc::NewNode, QErfc::Maintenance);
    view.onNodeManagerDrcUpdate(Peer, QErfc::NewNode, QErfc::Application);
    const int again = expect(Subscribe);
    QVERIFY(again >= 0);
    // Asked again while that one is out: no second request.
    view.onNodeManagerDrcUpdate(Peer, QErfc::NewNode, QErfc::Application);
    answer(again, QErfc::OK);
    QTRY_COMPARE(view.windowTitle(), QStringLiteral("Log Node 4 (Connected)"));
    view.onNodeManagerDrcUpdate(Peer, QErfc::NewNode, QErfc::Application); // subscribed: nothing to do
    QVERIFY(m_peer->sync());
    QCOMPARE(m_peer->count(networkRequest(Subscribe), m_seen), 0);

    sendRecord("after");
    auto* table = view.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    QTRY_COMPARE(table->rowCount(), 4);
    QCOMPARE(table->item(0, 7)->text(), QStringLiteral("RECONNECT"));
    QCOMPARE(table->item(3, 7)->text(), QStringLiteral("after"));
}

void TestErfcEventSubscription::refusedAtOnce()
{
    // The node is unknown: the stack refuses the subscribe before it
    // returns, and the title says so like any other end.
    m_peer->goodbye();
    QTRY_VERIFY(m_stack->knownNodes().isEmpty());
    ErfcDebugLogDockWidget view(m_stack.get(), Peer);
    QTRY_COMPARE(view.windowTitle(), QStringLiteral("Log Node 4 (Disconnected)"));
    QCOMPARE(m_peer->count(networkRequest(Subscribe), m_seen), 0);

    // A disabled stack refuses with an exception: no state to show.
    m_stack->disable();
    ErfcDebugLogDockWidget disabled(m_stack.get(), Peer + 1);
    QCoreApplication::processEvents();
    QCOMPARE(disabled.windowTitle(), QStringLiteral("Log Node 5"));
    m_stack->enable();

    // The node comes back: the next attempt is a normal one.
    QVERIFY(m_peer->join());
    view.onNodeManagerDrcUpdate(Peer, QErfc::NewNode, QErfc::Application);
    answer(expect(Subscribe), QErfc::OK);
    QTRY_COMPARE(view.windowTitle(), QStringLiteral("Log Node 4 (Connected)"));
}

void TestErfcEventSubscription::inbox()
{
    // Bounded: what comes while it is full is dropped and counted, and the
    // next payload kept says how many went before it. One wake-up per
    // emptying.
    ErfcEventInbox box(4);
    QObject receiver;
    int wakes = 0;
    box.setReceiver(&receiver, [&wakes] { ++wakes; });
    std::thread stackThread([&box] {
        for (const char* p : {"a", "b", "c", "d", "e", "f"})
            box.put(p);
    });
    stackThread.join();
    QTRY_COMPARE(wakes, 1);
    QCOMPARE(box.dropped(), quint64(2));

    bool more = false;
    QVector<ErfcEventInbox::Item> items = box.take(3, &more);
    QVERIFY(more);
    QCOMPARE(items.size(), 3);
    box.put("g");
    items = box.take(10, &more);
    QVERIFY(!more);
    QCOMPARE(items.size(), 2);
    QCOMPARE(items.at(1).payload, QByteArray("g"));
    QCOMPARE(items.at(1).droppedBefore, quint64(2));
    QCoreApplication::processEvents();
    QCOMPARE(wakes, 1); // none while the receiver was still taking
    box.put("h");
    QTRY_COMPARE(wakes, 2);

    box.setReceiver(nullptr, {});
    box.put("i");
    QVERIFY(box.take(10, &more).isEmpty());
}

QTEST_MAIN(TestErfcEventSubscription)
#include "tst_erfceventsubscription.moc"
