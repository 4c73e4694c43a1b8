#include "qerfcdatagram.h"
#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfceventconnect.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstack_p.h"
#include "rawpeer.h"

#include <QtTest>

#include <QSemaphore>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <vector>

// The stack's configuration, registration, links, life cycle and discovery;
// its windows, retransmission, event delivery and subscriptions.
namespace {

constexpr uchar Own = 1;
constexpr uchar Peer = 4;
using E = QErfcException;

// The exception code `call` throws; -1 when it throws none.
int codeOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const QErfcException& e) {
        return e.code();
    }
    return -1;
}

class FailingDevice : public QErfcDevice
{
public:
    QIODevice* open() override { return nullptr; }
    void close() override {}
};

// Hello of node 1 to 63: request, no-response, NETWORK, privilege 0.
const QByteArray HelloHeader = QByteArray::fromHex("fc180502");

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

class tst_QErfcStack : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(setUp()); }
    void cleanup();
    void configurationAndRegistration();
    void sendChecks();
    void bindAndRelease();
    void enableHelloOnEachLink();
    void lifeEnds_data();
    void lifeEnds();
    void helloRunIds();
    void ownAddressAndBroadcastSource();
    void goodbyeAndReleaseDropNodes();
    void removalNeverOvertakesArrival();
    void expiryTakesSilentNodesOnly();
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
    // An enabled stack at 1 with a raw peer at 4 on its one link.
    bool setUp();
    // The first transmission of a request to `fid` at or after `from`; -1 on time-out.
    int sent(uchar fid, int from = 0) { return peer->waitFor(RawPeer::isRequest(fid), from); }
    void answer(int i, QErfc::ResponseCode code = QErfc::OK, const QByteArray& payload = QByteArray())
    {
        peer->send(RawPeer::answer(peer->frames().at(i), code, payload));
    }
    // The peer, and nodes 5 and 6 behind its link, join the stack.
    void joinThree();
    // Node `source` calls NETWORK; the answer's code, or -1.
    int network(uchar source, const QByteArray& payload, QErfc::Privilege privilege = QErfc::User);
    // Emits one event; every event frame the peer got for it, as "header:payload".
    QStringList emitAndCollect(uchar eventId, const QByteArray& payload, int givenUp = 0);
    // The subscription request's index, answered by the peer with `code`; -1 if none came.
    int subscribe(QErfcEventConnect& c, QErfc::ResponseCode code = QErfc::OK);

    std::unique_ptr<QErfcStack> stack;
    std::unique_ptr<StackLog> log;
    std::unique_ptr<RawPeer> peer;
    QErfcEvent level{Level, "Level", QErfc::User};
    QErfcEvent secret{Secret, "Secret", QErfc::Admin};
};

bool tst_QErfcStack::setUp()
{
    stack.reset(new QErfcStack(Own));
    stack->registerEvent(&level);
    stack->registerEvent(&secret);
    log.reset(new StackLog(stack.get()));
    peer.reset(new RawPeer(Peer));
    if (!peer->attach(stack.get()))
        return false;
    stack->enable();
    return true;
}

void tst_QErfcStack::cleanup()
{
    peer.reset();
    log.reset();
    stack.reset();
}

void tst_QErfcStack::configurationAndRegistration()
{
    QCOMPARE(codeOf([] { QErfcStack s(63); }), int(E::AddressError));
    QCOMPARE(codeOf([&] { stack->setAddress(5); }), int(E::StackEnabled));
    // Identity texts hold 32 Latin-1 bytes.
    stack->setNodeDescription(QString(32, QChar(0xE9)));
    QCOMPARE(codeOf([&] { stack->setNodeDescription(QString(33, 'x')); }), int(E::DescriptionError));
    QCOMPARE(codeOf([&] { stack->setUniqueId(QByteArray(33, '\0')); }), int(E::PayloadError));

    const auto U = QErfc::User;
    QErfcFunction f15(15, "f", U), f(127, "f", U), again(127, "a", U);
    QErfcEvent twice(Level, "t", U);
    QCOMPARE(codeOf([&] { stack->registerFunction(&f15); }), int(E::RegisterIdError));
    stack->registerFunction(&f);
    QCOMPARE(codeOf([&] { stack->registerFunction(&again); }), int(E::FunctionRegisterError));
    QCOMPARE(codeOf([&] { stack->registerEvent(&twice); }), int(E::EventRegisterError));
    stack->unregisterFunction(&f);
    QCOMPARE(stack->functionIds(), (QList<uchar>{0, 1, 2, 3, 4, 5, 15}));
}

void tst_QErfcStack::sendChecks()
{
    const auto refusal = [this](QErfcRequest&& r, int timeout = 10) {
        r.setTimeout(quint8(timeout));
        const int code = codeOf([&] { stack->send(&r); });
        return r.waitForResponse(0) ? -2 : code; // refused: not completed
    };
    QCOMPARE(refusal(QErfcRequest(64, 20, QByteArray(33, 'p'))), int(E::PayloadError));
    QCOMPARE(refusal(QErfcRequest(64, 20)), int(E::AddressError));
    QCOMPARE(refusal(QErfcRequest(63, 128)), int(E::FunctionIdError));
    QCOMPARE(refusal(QErfcRequest(63, 127), 9), int(E::TimeoutError));
    QCOMPARE(refusal(QErfcRequest(63, 127)), int(E::BroadcastNotAllowed));
    QErfcEmitEvent e128(128), unregistered(31);
    QCOMPARE(codeOf([&] { stack->send(&e128); }), int(E::EventIdError));
    QCOMPARE(codeOf([&] { stack->send(&unregistered); }), int(E::EventNotRegistered));
    // Cannot go: completed at once with the PC's address.
    QErfcRequest nowhere(2, 20);
    QVERIFY(!stack->send(&nowhere));
    QVERIFY(nowhere.waitForResponse(0));
    QCOMPARE(nowhere.response().responseCode(), QErfc::ConnectionError);
    QCOMPARE(nowhere.response().address(), Own);
    stack->disable();
    QCOMPARE(codeOf([&] { stack->send(&nowhere); }), int(E::StackDisabled));
}

void tst_QErfcStack::bindAndRelease()
{
    FailingDevice failing;
    QErfcStreamInterface broken(&failing);
    QCOMPARE(codeOf([&] { stack->bindInterface(&broken); }), int(E::InterfaceBindError));
    // The failed link stays listed until released.
    QCOMPARE(codeOf([&] { stack->releaseInterface(&broken); }), -1);
    QCOMPARE(codeOf([&] { stack->releaseInterface(&broken); }), int(E::InterfaceReleaseError));
    auto* listed = new QErfcStreamInterface(&failing);
    QCOMPARE(codeOf([&] { stack->bindInterface(listed); }), int(E::InterfaceBindError));

    // On the stack thread both throw instead of waiting for themselves. The
    // handler then keeps the stack thread busy.
    QVERIFY(peer->join());
    std::atomic<int> bindCode{-2}, releaseCode{-2};
    QSemaphore entered, proceed;
    QErfcFunction f(20, "links", QErfc::User);
    connect(&f, &QErfcFunction::callSignal, &f,
            [&](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                bindCode = codeOf([&] { stack->bindInterface(&broken); });
                releaseCode = codeOf([&] { stack->releaseInterface(peer->link()); });
                entered.release();
                proceed.tryAcquire(1, 15000);
                code = QErfc::OK;
            },
            Qt::DirectConnection);
    stack->registerFunction(&f);
    peer->send(peer->request(Own, 20, QByteArray()));
    QTRY_VERIFY_WITH_TIMEOUT(entered.available() == 1, 10000);
    QCOMPARE(bindCode.load(), int(E::InterfaceBindError));
    QCOMPARE(releaseCode.load(), int(E::InterfaceReleaseError));

    // Elsewhere both give up on the busy thread; the links are the caller's
    // again and are freed at once: the dropped calls never run.
    stack->findChild<QErfcStackPrivate*>()->m_stackCallWaitMs = 300;
    auto* fresh = new QErfcStreamInterface(&failing);
    QTest::ignoreMessage(QtCriticalMsg, "QErfcStack: the stack thread did not take up opening a link within 300 ms");
    QTest::ignoreMessage(QtCriticalMsg, "QErfcStack: the stack thread did not take up closing a link within 300 ms");
    QCOMPARE(codeOf([&] { stack->bindInterface(fresh); }), int(E::TimeoutError));
    QCOMPARE(codeOf([&] { stack->releaseInterface(listed); }), int(E::TimeoutError));
    delete fresh;
    delete listed;
    proceed.release();
    QVERIFY(peer->sync()); // the link still works
}

void tst_QErfcStack::enableHelloOnEachLink()
{
    // A hello (window 16, maintenance), then a broadcast datagram, once on each link.
    QErfcStack stack(Own, QErfc::Maintenance);
    RawPeer one(4), two(5);
    QVERIFY(one.attach(&stack) && two.attach(&stack));
    stack.enable();
    QErfcDatagram all(63, 40, "hi");
    QVERIFY(stack.send(&all));
    for (RawPeer* p : {&one, &two}) {
        const int i = p->waitFor(RawPeer::isHello), k = p->waitFor(payloadIs("hi"));
        QVERIFY(i >= 0 && k >= 0);
        QCOMPARE(p->rawFrames().at(i).left(5), HelloHeader + '\0');
        QCOMPARE(p->rawFrames().at(i).mid(9, 2).toHex(), QByteArray("1001"));
        QCOMPARE(p->rawFrames().at(k).left(6).toHex(), QByteArray("fc1828026869"));
    }
}

void tst_QErfcStack::lifeEnds_data()
{
    QTest::addColumn<bool>("destroy");
    QTest::newRow("disable, then release at once") << false;
    QTest::newRow("destroy while enabled") << true;
}

void tst_QErfcStack::lifeEnds()
{
    QFETCH(bool, destroy);
    QVERIFY(peer->join());
    QErfcRequest r(Peer, 21);
    r.setRetries(255);
    QVERIFY(stack->send(&r));
    // Destroyed while outstanding: the stack must not complete it.
    auto* gone = new QErfcRequest(Peer, 22);
    gone->setRetries(255);
    QVERIFY(stack->send(gone));
    delete gone;
    const int from = peer->frames().size();
    if (destroy) {
        stack.reset();
    } else {
        stack->disable();
        peer->detach();
    }
    QVERIFY(r.waitForResponse(0));
    QCOMPARE(r.response().responseCode(), QErfc::ConnectionError);
    // The goodbye leaves before the link closes.
    const int i = peer->waitFor(RawPeer::isGoodbye, from);
    QVERIFY(i >= 0);
    QCOMPARE(peer->rawFrames().at(i).left(5), HelloHeader + '\1');
}

void tst_QErfcStack::helloRunIds()
{
    // A new node is greeted with the PC's own hello at once, not by the next
    // periodic one: it has arrived before the answer to an echo sent right after.
    int from = peer->waitFor(RawPeer::isHello) + 1; // the one of enable()
    QVERIFY(from > 0);
    QVERIFY(peer->join(0xA1A2A3A4) && peer->sync());
    QVERIFY(peer->count(RawPeer::isHello, from) >= 1);
    // An answer the PC keeps for a repetition, and a request of the PC's.
    const QErfcMsg old = RawPeer::frame(Peer, Own, 0, 0, false, "old");
    peer->send(old);
    QVERIFY(peer->waitFor(RawPeer::answerTo(old)) >= 0);
    QErfcRequest pending(Peer, 20, "p");
    pending.setRetries(255);
    QVERIFY(stack->send(&pending));
    const int i = sent(20);
    QVERIFY(i >= 0);

    // The same run id again is the regular hello; another one is a restart.
    peer->hello(0xA1A2A3A4);
    peer->hello(0xB1B2B3B4, 16, QErfc::Maintenance);
    QTRY_COMPARE_WITH_TIMEOUT(log->entries, (QStringList{"drc 4 0 0", "drc 4 1 0", "drc 4 0 1"}), 10000);
    // The restarted node's first request reuses id 0, bit 0: handled, not answered from the filter.
    const QErfcMsg fresh = RawPeer::frame(Peer, Own, 0, 0, false, "new");
    from = peer->frames().size();
    peer->send(fresh);
    const int j = peer->waitFor(RawPeer::answerTo(fresh), from);
    QVERIFY(j >= 0);
    QCOMPARE(peer->frames().at(j).payload(), QByteArray("new"));
    // The outstanding request survived the restart.
    answer(i, QErfc::OK, "P");
    QVERIFY(completed(pending));
    QCOMPARE(pending.response().payload(), QByteArray("P"));
}

void tst_QErfcStack::ownAddressAndBroadcastSource()
{
    // Another node using the PC's address: reported, never entered.
    peer->hello(0x1234, 16, QErfc::Application, Own);
    peer->send(RawPeer::frame(Own, Own, 0, 1, true, "mine"));
    QTRY_COMPARE_WITH_TIMEOUT(log->entries, (QStringList{"error 0", "error 0"}), 10000);
    // A hello from 63 asks every node to announce itself.
    const int from = peer->frames().size();
    peer->hello(0x6363, 16, QErfc::Application, 63);
    QVERIFY(peer->waitFor(RawPeer::isHello, from) >= 0);
    QVERIFY(stack->knownNodes().isEmpty());
}

void tst_QErfcStack::goodbyeAndReleaseDropNodes()
{
    RawPeer other(6);
    QVERIFY(other.attach(stack.get()));
    QVERIFY(peer->join() && other.join());
    // A goodbye completes the node's outstanding requests, then drops it.
    QErfcRequest r(Peer, 20, "x");
    r.setRetries(255);
    connect(&r, &QErfcRequest::finished, log.get(), [this] { log->entries << "done"; });
    QVERIFY(stack->send(&r));
    peer->goodbye();
    QTRY_COMPARE_WITH_TIMEOUT(log->entries.mid(2), (QStringList{"done", "drc 4 1 0"}), 10000);
    // Releasing a link drops the nodes behind it, and only those.
    QVERIFY(peer->join());
    peer->detach();
    QCOMPARE(stack->knownNodes(), QList<uchar>{6});
}

void tst_QErfcStack::removalNeverOvertakesArrival()
{
    // A hello is being reported on the stack thread when the stack is
    // disabled: the removal is reported after the arrival, to every receiver.
    cleanup();
    stack.reset(new QErfcStack(Own));
    QSemaphore entered, proceed;
    connect(stack.get(), &QErfcStack::drcUpdate, stack.get(), [&](uchar, QErfc::DrcUpdate state) {
        if (state == QErfc::NewNode) {
            entered.release();
            proceed.tryAcquire(1, 10000);
        }
    }, Qt::DirectConnection);
    log.reset(new StackLog(stack.get()));
    peer.reset(new RawPeer(Peer));
    QVERIFY(peer->attach(stack.get()));
    stack->enable();
    peer->hello();
    QTRY_VERIFY_WITH_TIMEOUT(entered.available() == 1, 10000);
    stack->disable();
    proceed.release();
    QTRY_COMPARE_WITH_TIMEOUT(log->entries, (QStringList{"drc 4 0 0", "drc 4 1 0"}), 10000);
}

void tst_QErfcStack::expiryTakesSilentNodesOnly()
{
    // Node 5, behind the peer's link, keeps saying hello; the peer falls
    // silent after one exchange and is dropped, node 5 is not.
    QTimer hellos;
    connect(&hellos, &QTimer::timeout, peer.get(), [this] { peer->hello(0x55, 16, QErfc::Application, 5); });
    hellos.start(2000);
    peer->hello(0x55, 16, QErfc::Application, 5);
    QVERIFY(peer->join());
    QErfcRequest first(Peer, 20);
    QVERIFY(stack->send(&first));
    const int i = sent(20);
    QVERIFY(i >= 0);
    answer(i);
    QVERIFY(completed(first));
    QTRY_VERIFY_WITH_TIMEOUT(!stack->knownNodes().contains(Peer), 15000);
    QVERIFY(stack->knownNodes().contains(5));

    // Heard again, the peer gets the next request id under the other window
    // bit: its duplicate filter must not answer the new request with the old answer.
    QVERIFY(peer->join());
    QErfcRequest second(Peer, 20);
    QVERIFY(stack->send(&second));
    const int j = sent(20, i + 1);
    QVERIFY(j >= 0);
    QCOMPARE(int(peer->frames().at(j).requestId()), peer->frames().at(i).requestId() + 1);
    QVERIFY(peer->frames().at(j).windowBit() != peer->frames().at(i).windowBit());
}

void tst_QErfcStack::windowGenerations()
{
    QVERIFY(peer->join(RunId, 2));
    QErfcRequest r1(Peer, Fid, "a"), r2(Peer, Fid, "b"), r3(Peer, Fid, "c");
    for (QErfcRequest* r : {&r1, &r2, &r3})
        keepOutstanding(*r);
    QVERIFY(stack->send(&r1) && stack->send(&r2));
    auto third = std::async(std::launch::async, [&] { return stack->send(&r3); });
    const int i1 = sent(Fid), i2 = sent(Fid, i1 + 1);
    QVERIFY(i1 >= 0 && i2 >= 0);
    const QErfcMsg f1 = peer->frames().at(i1), f2 = peer->frames().at(i2);
    QCOMPARE(f2.windowBit(), f1.windowBit());
    // A freed slot is not enough: the next generation starts once the window drains.
    answer(i1);
    QVERIFY(completed(r1) && peer->sync());
    QCOMPARE(peer->count(RawPeer::isRequest(Fid), i2 + 1), 0);
    answer(i2);
    const int i3 = sent(Fid, i2 + 1);
    QVERIFY(i3 >= 0);
    const QErfcMsg f3 = peer->frames().at(i3);
    QCOMPARE(f3.requestId(), quint8(2));
    QVERIFY(f3.windowBit() != f1.windowBit());
    QVERIFY(third.get());

    // An answer with the earlier generation's window bit is not this request's.
    QErfcMsg late = RawPeer::answer(f3, QErfc::OK, "late");
    late.setWindowBit(f1.windowBit());
    peer->send(late);
    QVERIFY(peer->sync());
    QVERIFY(!r3.waitForResponse(0));
}

void tst_QErfcStack::windowLimits()
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

    QErfcRequest r1(Peer, Fid, "1"), r2(Peer, Fid, "2"), r3(Peer, Fid, "3"), inner(Peer, Fid);
    keepOutstanding(r1);
    keepOutstanding(r3);
    const int from = peer->frames().size();
    QVERIFY(stack->send(&r1));
    // A handler on the stack thread never waits for the full window.
    QErfcFunction f(30, "sender", QErfc::User);
    connect(&f, &QErfcFunction::callSignal, &f,
            [&](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                code = stack->send(&inner) ? QErfc::OK : QErfc::Specific1;
            },
            Qt::DirectConnection);
    stack->registerFunction(&f);
    timer.restart();
    QErfcMsg reply;
    QVERIFY(peer->call(30, QByteArray(), &reply));
    QCOMPARE(reply.responseCode(), QErfc::Specific1);
    QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
    stack->unregisterFunction(&f);

    // Any other sender waits 5000 ms at most, for the send lock and the
    // window together: senders queued on the node do not add up their waits.
    QTimer keepAlive; // heard from: not dropped during the waits below
    connect(&keepAlive, &QTimer::timeout, peer.get(), [this] { peer->hello(RunId, 1); });
    keepAlive.start(1000);
    QErfcRequest r2b(Peer, Fid, "2");
    timer.restart();
    auto a = std::async(std::launch::async, [&] { return stack->send(&r2); });
    auto b = std::async(std::launch::async, [&] { return stack->send(&r2b); });
    QVERIFY(QTest::qWaitFor([&] {
        return a.wait_for(std::chrono::seconds(0)) == std::future_status::ready
            && b.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }, 30000));
    keepAlive.stop();
    QVERIFY2(timer.elapsed() >= 4500 && timer.elapsed() < 9000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!a.get() && !b.get());
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

void tst_QErfcStack::retransmission_data()
{
    // Every transmission, header and payload; each but the last answered
    // with a damage report.
    QTest::addColumn<int>("retries");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("three retries") << 3 << QStringList{"101814000102", "101814010102", "101814010102", "101814010102"};
    // Given up without a retry: not counted in maxRetries.
    QTest::newRow("none") << 0 << QStringList{"101814000102"};
}

void tst_QErfcStack::retransmission()
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
    int from = peer->frames().size();
    QVERIFY(stack->send(&r));
    // Damaged reports make it go again at the next tick (1000 ms by time-outs alone).
    const auto toFid = [](const QErfcMsg& m) { return !m.isResponse() && m.functionId() == Fid; };
    QStringList seen;
    for (int n = 0; n <= retries; ++n) {
        const int i = peer->waitFor(toFid, from);
        QVERIFY(i >= 0);
        seen << QString::fromLatin1(peer->rawFrames().at(i).left(6).toHex());
        if (n < retries)
            answer(i, QErfc::CrcError);
        from = i + 1;
    }
    QVERIFY(completed(r));
    if (retries > 0)
        QVERIFY2(timer.elapsed() < 800, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(r.response().responseCode(), QErfc::ConnectionError);
    QCOMPARE(seen, sent);
    QVERIFY(peer->sync());
    QCOMPARE(peer->count(toFid, from), 0);
    QCOMPARE(stack->statistics().maxRetries - before.maxRetries, int(retries > 0));
}

void tst_QErfcStack::pipelinedIdsNeverRepeatInGeneration()
{
    // The node keeps the newest request unanswered: the window neither fills
    // nor drains while requests keep coming. A request id twice under one
    // window bit would be taken for a repetition.
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
    // Each request is answered once the next has come, or when none comes.
    QList<QErfcMsg> outstanding;
    QSet<int> ids;
    int from = peer->frames().size(), n = 0, answered = 0;
    bool bit = false;
    QElapsedTimer total;
    total.start();
    while (answered < 20 && total.elapsed() < 60000) {
        const int i = peer->waitFor(RawPeer::isRequest(Fid), from, 300);
        if (i >= 0) {
            const QErfcMsg& m = peer->frames().at(i);
            if (n++ == 0 || m.windowBit() != bit)
                ids.clear();
            bit = m.windowBit();
            QVERIFY2(!ids.contains(m.requestId()), qPrintable(QString::number(n)));
            ids.insert(m.requestId());
            outstanding << m;
            from = i + 1;
            seen.release();
        }
        for (; outstanding.size() > (i >= 0 ? 1 : 0); ++answered)
            peer->send(RawPeer::answer(outstanding.takeFirst(), QErfc::OK));
    }
    QVERIFY(sender.get());
    QCOMPARE(n, 20);
    for (const auto& r : requests)
        QVERIFY(completed(*r));
}

void tst_QErfcStack::joinThree()
{
    QVERIFY(peer->join());
    peer->hello(0x5555, 16, QErfc::Application, 5);
    peer->hello(0x6666, 16, QErfc::Application, 6);
    QTRY_COMPARE_WITH_TIMEOUT(stack->knownNodes(), (QList<uchar>{4, 5, 6}), 10000);
}

int tst_QErfcStack::network(uchar source, const QByteArray& payload, QErfc::Privilege privilege)
{
    QErfcMsg m = peer->request(Own, NetworkFunction, payload);
    m.setSource(source);
    m.setPrivilege(privilege);
    const int i = peer->exchange(m);
    return i < 0 ? -1 : int(peer->frames().at(i).responseCode());
}

QStringList tst_QErfcStack::emitAndCollect(uchar eventId, const QByteArray& payload, int givenUp)
{
    const int from = peer->frames().size();
    const quint16 maxRetries = stack->statistics().maxRetries;
    QErfcEmitEvent event(eventId, payload);
    if (!stack->send(&event))
        return {"not sent"};
    if (!QTest::qWaitFor([&] { return stack->statistics().maxRetries - maxRetries >= givenUp; }, 10000)
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

void tst_QErfcStack::eventDelivery_data()
{
    // Delivery type of nodes 4, 5 and 6 (-1: not subscribed), each with one
    // retry after 100 ms; every frame of one emission, header and payload.
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QStringList>("frames");
    QTest::newRow("three broadcast") << QList<int>{2, 2, 2} << QStringList{"fc189402:ev"};
    QTest::newRow("broadcast around a datagram") << QList<int>{2, 1, 2} << QStringList{"fc189402:ev", "14189402:ev"};
    QTest::newRow("normal and datagram")
        << QList<int>{0, 1, -1} << QStringList{"10189400:ev", "14189402:ev", "10189401:ev"};
    QTest::newRow("unknown type") << QList<int>{3, -1, -1} << QStringList{};
}

void tst_QErfcStack::eventDelivery()
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

void tst_QErfcStack::refusedAndEndedSubscribersGetNothing()
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

int tst_QErfcStack::subscribe(QErfcEventConnect& c, QErfc::ResponseCode code)
{
    const int from = peer->frames().size();
    const int i = stack->connectToEvent(&c) ? sent(NetworkFunction, from) : -1;
    if (i >= 0)
        answer(i, code);
    return i;
}

void tst_QErfcStack::subscriptionStates()
{
    QVERIFY(peer->join());
    // Event 30 of the peer: datagram delivery, 2 retries, 100 ms travel.
    QErfcEventConnect connection(Peer, 30, 1, 2), refused(Peer, 30), nowhere(30, 20);
    connection.setTimeout(100);
    const int i = subscribe(connection);
    QVERIFY(i >= 0);
    QVERIFY(peer->frames().at(i).payload().toHex().startsWith("021e010264"));
    QTRY_COMPARE_WITH_TIMEOUT(connection.state(), QErfc::EventConnected, 10000);
    QVERIFY(!stack->connectToEvent(&connection)); // subscribed already
    QVERIFY(!stack->connectToEvent(&nowhere));    // an unknown node
    QCOMPARE(nowhere.state(), QErfc::EventError);

    // Unsubscribing ends disconnected although the node never answers.
    const int from = peer->frames().size();
    QVERIFY(stack->disconnectFromEvent(Peer, 30));
    QCOMPARE(peer->frames().value(sent(NetworkFunction, from)).payload().toHex(), QByteArray("031e"));
    QTRY_COMPARE_WITH_TIMEOUT(connection.state(), QErfc::EventDisconnected, 10000);
    QVERIFY(subscribe(refused, QErfc::Specific1) >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(refused.state(), QErfc::EventError, 10000);
    // Every internal subscription request is deleted once done.
    auto* engine = stack->findChild<QErfcStackPrivate*>(QString(), Qt::FindDirectChildrenOnly);
    QTRY_COMPARE_WITH_TIMEOUT(
        [engine] { QMutexLocker lock(&engine->m_internalRequestsLock); return engine->m_internalRequests.size(); }(),
        0, 10000);
}

void tst_QErfcStack::subscriptionDeleted_data()
{
    // When the subscription to event 30 of the peer is deleted: before the
    // node answered the subscription, or by its own slot on the stack thread.
    QTest::addColumn<QString>("when");
    QTest::newRow("before the answer, then an event") << "unanswered";
    QTest::newRow("in callSignal(), then an event") << "event";
    QTest::newRow("in disconnected(), as the node goes") << "disconnected";
}

void tst_QErfcStack::subscriptionDeleted()
{
    QFETCH(QString, when);
    QVERIFY(peer->join());
    auto* connection = new QErfcEventConnect(Peer, 30);
    std::atomic<int> deleted{0};
    const auto deleteIt = [connection, &deleted] {
        delete connection;
        ++deleted;
    };
    if (when == "event")
        connect(connection, &QErfcEventConnect::callSignal, connection, deleteIt, Qt::DirectConnection);
    else if (when == "disconnected")
        connect(connection, &QErfcEventConnect::disconnected, connection, deleteIt, Qt::DirectConnection);
    const auto sendEvent = [this] {
        QErfcMsg event = peer->request(Own, 30, "t=21");
        event.setEvent(true);
        const int i = peer->exchange(event);
        return i >= 0 && peer->frames().at(i).responseCode() == QErfc::OK;
    };

    const int from = peer->frames().size();
    QVERIFY(stack->connectToEvent(connection));
    const int i = sent(NetworkFunction, from);
    QVERIFY(i >= 0);
    if (when == "unanswered")
        deleteIt();
    answer(i);
    QVERIFY(peer->sync());
    if (when == "event")
        QVERIFY(sendEvent());
    if (when == "disconnected") {
        peer->goodbye();
        QTRY_VERIFY_WITH_TIMEOUT(stack->knownNodes().isEmpty(), 10000);
        QVERIFY(peer->join());
    }
    QCOMPARE(deleted.load(), 1);
    // Nothing is delivered to the deleted subscription, and another may take
    // its place: the node's events reach it and are acknowledged.
    const quint16 unknown = stack->statistics().unknownEvent;
    QVERIFY(sendEvent());
    QCOMPARE(stack->statistics().unknownEvent, quint16(unknown + 1));
    QErfcEventConnect again(Peer, 30);
    QVERIFY(subscribe(again) >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(again.state(), QErfc::EventConnected, 10000);
    QVERIFY(sendEvent()); // delivered before it is acknowledged
    QCOMPARE(again.lastEvent().payload(), QByteArray("t=21"));
}

QTEST_GUILESS_MAIN(tst_QErfcStack)
#include "tst_qerfcstack.moc"
