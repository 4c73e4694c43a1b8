#include "qerfcdatagram.h"
#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstack_p.h"
#include "rawpeer.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>

// The stack's configuration, registration, links, life cycle and discovery.
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

} // namespace

class tst_QErfcStack : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void configurationAndRegistration();
    void sendChecks_data();
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

private:
    // An enabled stack at 1 with a raw peer at 4 on its one link.
    bool setUp();
    std::unique_ptr<QErfcStack> stack;
    std::unique_ptr<StackLog> log;
    std::unique_ptr<RawPeer> peer;
};

bool tst_QErfcStack::setUp()
{
    stack.reset(new QErfcStack(Own));
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
    QErfcStack stack(62, QErfc::Maintenance);
    QErfcRequest request(2, 20);
    QCOMPARE(codeOf([&] { stack.send(&request); }), int(E::StackDisabled));
    stack.enable();
    QCOMPARE(codeOf([&] { stack.setAddress(5); }), int(E::StackEnabled));
    stack.disable();
    stack.setAddress(5);
    QCOMPARE(stack.address(), uchar(5));
    // Identity texts hold 32 Latin-1 bytes.
    stack.setNodeDescription(QString(32, QChar(0xE9)));
    QCOMPARE(codeOf([&] { stack.setNodeDescription(QString(33, 'x')); }), int(E::DescriptionError));
    QCOMPARE(codeOf([&] { stack.setUniqueId(QByteArray(33, '\0')); }), int(E::PayloadError));

    const auto U = QErfc::User;
    QErfcFunction f15(15, "f", U), fLong(40, QString(33, 'd'), U), f(127, "f", U), again(127, "a", U);
    QErfcEvent e128(128, "e", U), e(16, "e", U), twice(16, "t", U);
    QCOMPARE(codeOf([&] { stack.registerFunction(&f15); }), int(E::RegisterIdError));
    QCOMPARE(codeOf([&] { stack.registerEvent(&e128); }), int(E::RegisterIdError));
    QCOMPARE(codeOf([&] { stack.registerFunction(&fLong); }), int(E::DescriptionError));
    stack.registerFunction(&f);
    stack.registerEvent(&e);
    QCOMPARE(codeOf([&] { stack.registerFunction(&again); }), int(E::FunctionRegisterError));
    QCOMPARE(codeOf([&] { stack.registerEvent(&twice); }), int(E::EventRegisterError));
    QCOMPARE(stack.functionIds(), (QList<uchar>{0, 1, 2, 3, 4, 5, 15, 127}));
    stack.unregisterFunction(&f);
    // Objects destroyed while registered leave the tables.
    auto* gone = new QErfcEvent(50, "short-lived", U);
    stack.registerEvent(gone);
    delete gone;
    QCOMPARE(stack.functionIds(), (QList<uchar>{0, 1, 2, 3, 4, 5, 15}));
    QCOMPARE(stack.eventIds(), QList<uchar>{16});
}

void tst_QErfcStack::sendChecks_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("code"); // -1: no exception, then the result of send
    QTest::addColumn<bool>("result");
    QTest::newRow("request payload 33") << "request" << 64 << 200 << 33 << 9 << int(E::PayloadError) << false;
    QTest::newRow("request address 64") << "request" << 64 << 200 << 32 << 9 << int(E::AddressError) << false;
    QTest::newRow("request function 128") << "request" << 63 << 128 << 0 << 9 << int(E::FunctionIdError) << false;
    QTest::newRow("request timeout 9") << "request" << 63 << 127 << 0 << 9 << int(E::TimeoutError) << false;
    QTest::newRow("request to 63") << "request" << 63 << 127 << 0 << 10 << int(E::BroadcastNotAllowed) << false;
    QTest::newRow("request unknown node") << "request" << 2 << 20 << 3 << 10 << -1 << false;
    QTest::newRow("datagram to 63") << "datagram" << 63 << 20 << 32 << 0 << -1 << true;
    QTest::newRow("event id 128") << "event" << 0 << 128 << 0 << 0 << int(E::EventIdError) << false;
    QTest::newRow("event not registered") << "event" << 0 << 31 << 0 << 0 << int(E::EventNotRegistered) << false;
}

void tst_QErfcStack::sendChecks()
{
    QFETCH(QString, kind);
    QFETCH(int, address);
    QFETCH(int, id);
    QFETCH(int, payloadSize);
    QFETCH(int, timeout);
    QFETCH(int, code);
    QFETCH(bool, result);
    QErfcStack stack(Own);
    QErfcEvent registered(30, "registered", QErfc::User);
    stack.registerEvent(&registered);
    stack.enable();
    const QByteArray payload(payloadSize, 'p');
    bool sent = !result;
    if (kind == "request") {
        QErfcRequest r(quint8(address), quint8(id), payload);
        r.setTimeout(quint8(timeout));
        QCOMPARE(codeOf([&] { sent = stack.send(&r); }), code);
        // Refused: not completed; cannot go: completed at once with the PC's address.
        QCOMPARE(r.waitForResponse(0), code < 0);
        if (code < 0) {
            QCOMPARE(r.response().responseCode(), QErfc::ConnectionError);
            QCOMPARE(r.response().address(), Own);
        }
    } else if (kind == "datagram") {
        QErfcDatagram d(quint8(address), quint8(id), payload);
        QCOMPARE(codeOf([&] { sent = stack.send(&d); }), code);
    } else {
        QErfcEmitEvent e(quint8(id), payload);
        QCOMPARE(codeOf([&] { sent = stack.send(&e); }), code);
    }
    if (code < 0)
        QCOMPARE(sent, result);
}

void tst_QErfcStack::bindAndRelease()
{
    QVERIFY(setUp());
    FailingDevice failing;
    QErfcStreamInterface broken(&failing);
    QCOMPARE(codeOf([&] { stack->bindInterface(&broken); }), int(E::InterfaceBindError));
    // The failed link stays listed until released.
    QCOMPARE(codeOf([&] { stack->releaseInterface(&broken); }), -1);
    QCOMPARE(codeOf([&] { stack->releaseInterface(&broken); }), int(E::InterfaceReleaseError));
    QCOMPARE(codeOf([&] { stack->bindInterface(peer->link()); }), int(E::InterfaceBindError));
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
    QCOMPARE(codeOf([&] { stack->releaseInterface(fresh); }), int(E::InterfaceReleaseError));
    proceed.release();
    QVERIFY(peer->sync()); // the link still works
}

void tst_QErfcStack::enableHelloOnEachLink()
{
    QErfcStack stack(Own, QErfc::Maintenance);
    RawPeer one(4), two(5);
    QVERIFY(one.attach(&stack) && two.attach(&stack));
    stack.enable();
    QCOMPARE(stack.statistics().frameTx, 2u);
    const int i = one.waitFor(RawPeer::isHello), j = two.waitFor(RawPeer::isHello);
    QVERIFY(i >= 0 && j >= 0);
    const QByteArray hello = one.rawFrames().at(i);
    QCOMPARE(hello.left(5), HelloHeader + '\0');
    QCOMPARE(hello.mid(9, 2).toHex(), QByteArray("1001")); // window 16, maintenance
    QCOMPARE(two.rawFrames().at(j), hello);
    // A broadcast datagram leaves once on each link.
    QErfcDatagram all(63, 40, "hi");
    QVERIFY(stack.send(&all));
    for (RawPeer* p : {&one, &two}) {
        const int k = p->waitFor([](const QErfcMsg& m) { return m.payload() == "hi"; });
        QCOMPARE(p->rawFrames().value(k).left(6).toHex(), QByteArray("fc1828026869"));
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
    QVERIFY(setUp());
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
        QVERIFY(stack->knownNodes().isEmpty());
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
    QVERIFY(setUp());
    // A new node is greeted with the PC's own hello at once, not by the next
    // periodic one: it has arrived before the answer to an echo sent right after.
    int from = peer->waitFor(RawPeer::isHello) + 1; // the one of enable()
    QVERIFY(from > 0);
    QVERIFY(peer->join(0xA1A2A3A4, 16, QErfc::Application));
    QVERIFY(peer->sync());
    QVERIFY(peer->count(RawPeer::isHello, from) >= 1);
    // An answer the PC keeps for a repetition, and a request of the PC's.
    const QErfcMsg old = RawPeer::frame(Peer, Own, 0, 0, false, "old");
    peer->send(old);
    QVERIFY(peer->waitFor(RawPeer::answerTo(old)) >= 0);
    QErfcRequest pending(Peer, 20, "p");
    pending.setRetries(255);
    QVERIFY(stack->send(&pending));
    const int sent = peer->waitFor(RawPeer::isRequest(20));
    QVERIFY(sent >= 0);

    // The same run id again is the regular hello; another one is a restart.
    peer->hello(0xA1A2A3A4, 16, QErfc::Application);
    peer->hello(0xB1B2B3B4, 16, QErfc::Maintenance);
    QTRY_COMPARE_WITH_TIMEOUT(log->entries, (QStringList{"drc 4 0 0", "drc 4 1 0", "drc 4 0 1"}), 10000);
    // The restarted node's first request reuses id 0, bit 0: handled, not answered from the filter.
    const QErfcMsg fresh = RawPeer::frame(Peer, Own, 0, 0, false, "new");
    from = peer->frames().size();
    peer->send(fresh);
    const int i = peer->waitFor(RawPeer::answerTo(fresh), from);
    QVERIFY(i >= 0);
    QCOMPARE(peer->frames().at(i).payload(), QByteArray("new"));
    // The outstanding request survived the restart.
    QVERIFY(!pending.waitForResponse(0));
    peer->send(RawPeer::answer(peer->frames().at(sent), QErfc::OK, "P"));
    QVERIFY(QTest::qWaitFor([&] { return pending.waitForResponse(0); }, 10000));
    QCOMPARE(pending.response().payload(), QByteArray("P"));
}

void tst_QErfcStack::ownAddressAndBroadcastSource()
{
    QVERIFY(setUp());
    // Another node using the PC's address: reported, never entered.
    peer->hello(0x1234, 16, QErfc::Application, Own);
    peer->send(RawPeer::frame(Own, Own, 0, 1, true, "mine"));
    QTRY_COMPARE_WITH_TIMEOUT(log->entries, (QStringList{"error 0", "error 0"}), 10000);
    QCOMPARE(int(stack->statistics().routingError), 2);
    // A hello from 63 asks every node to announce itself.
    const int from = peer->frames().size();
    peer->hello(0x6363, 16, QErfc::Application, 63);
    QVERIFY(peer->waitFor(RawPeer::isHello, from) >= 0);
    QVERIFY(stack->knownNodes().isEmpty());
}

void tst_QErfcStack::goodbyeAndReleaseDropNodes()
{
    QVERIFY(setUp());
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
    QCOMPARE(r.response().responseCode(), QErfc::ConnectionError);
    // Releasing a link drops the nodes behind it, and only those.
    QVERIFY(peer->join());
    QTRY_COMPARE_WITH_TIMEOUT(log->entries.size(), 5, 10000);
    peer->detach();
    QCOMPARE(stack->knownNodes(), QList<uchar>{6});
    QTRY_COMPARE_WITH_TIMEOUT(log->entries.mid(4), (QStringList{"drc 4 0 0", "drc 4 1 0"}), 10000);
}

void tst_QErfcStack::removalNeverOvertakesArrival()
{
    // A hello is being reported on the stack thread when the stack is
    // disabled: the removal is reported after the arrival, to every receiver.
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
    QVERIFY(stack->knownNodes().isEmpty());
}

void tst_QErfcStack::expiryTakesSilentNodesOnly()
{
    QVERIFY(setUp());
    // Node 5, behind the peer's link, keeps saying hello; the peer falls
    // silent after one exchange and is dropped 7 to 11.5 s after it joined.
    const auto hello5 = [this] { peer->hello(0x55, 16, QErfc::Application, 5); };
    QTimer hellos;
    connect(&hellos, &QTimer::timeout, peer.get(), hello5);
    QElapsedTimer since;
    qint64 droppedAt = -1;
    connect(stack.get(), &QErfcStack::drcUpdate, log.get(), [&](uchar address, QErfc::DrcUpdate state) {
        if (address == Peer && state == QErfc::RemovedNode)
            droppedAt = since.elapsed();
    });
    since.start();
    hellos.start(2000);
    hello5();
    QVERIFY(peer->join());
    QErfcRequest first(Peer, 20);
    QVERIFY(stack->send(&first));
    const int i = peer->waitFor(RawPeer::isRequest(20));
    QVERIFY(i >= 0);
    const QErfcMsg before = peer->frames().at(i);
    peer->send(RawPeer::answer(before, QErfc::OK));
    QVERIFY(QTest::qWaitFor([&] { return first.waitForResponse(0); }, 10000));

    QVERIFY(QTest::qWaitFor([&] { return droppedAt >= 0; }, 15000));
    QVERIFY2(droppedAt >= 7000 && droppedAt <= 11500, qPrintable(QString::number(droppedAt)));
    QVERIFY(QTest::qWaitFor([&] { return since.elapsed() > 10500; }, 15000));
    QVERIFY2(!log->entries.contains("drc 5 1 0"), qPrintable(log->entries.join(", ")));
    QVERIFY(stack->knownNodes().contains(5));

    // Heard again, the peer gets the next request id under the other window
    // bit: its duplicate filter must not answer the new request with the old answer.
    QVERIFY(peer->join());
    QErfcRequest second(Peer, 20);
    second.setRetries(255);
    const int from = peer->frames().size();
    QVERIFY(stack->send(&second));
    const int j = peer->waitFor(RawPeer::isRequest(20), from);
    QVERIFY(j >= 0);
    QCOMPARE(int(peer->frames().at(j).requestId()), before.requestId() + 1);
    QVERIFY(peer->frames().at(j).windowBit() != before.windowBit());
    peer->send(RawPeer::answer(peer->frames().at(j), QErfc::OK));
    QVERIFY(QTest::qWaitFor([&] { return second.waitForResponse(0); }, 10000));
}

QTEST_GUILESS_MAIN(tst_QErfcStack)
#include "tst_qerfcstack.moc"
