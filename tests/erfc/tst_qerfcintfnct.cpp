#include "qerfcevent.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcstack.h"
#include "rawpeer.h"

#include <QtTest>

#include <QSemaphore>
#include <atomic>
#include <memory>

// What the stack answers to a raw node: the internal functions, and the
// receive dispatch around offered functions (damaged frames, repetitions,
// unknown callers, routing).
namespace {

constexpr uchar Own = 1;
constexpr uchar Peer = 4;

// The header of an answer to `request`, built from the wire layout.
QByteArray answerHeader(const QErfcMsg& request, uchar source, int code)
{
    const quint32 h = (quint32(request.source()) << 26) | (quint32(source) << 20)
        | (request.windowBit() ? 1u << 17 : 0u) | (request.isEvent() ? 1u << 15 : 0u)
        | (quint32(request.functionId()) << 8) | (quint32(request.requestId()) << 4) | quint32(code);
    QByteArray out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char(h >> shift);
    return out;
}

QByteArray damaged(const QErfcMsg& m)
{
    QByteArray bytes = m.encode();
    bytes[bytes.size() - 1] = char(bytes.at(bytes.size() - 1) ^ 0x5A);
    return bytes;
}

} // namespace

class tst_QErfcIntFnct : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void internalFunctions_data();
    void internalFunctions();
    void statisticsResetThenRead();
    void damagedFrames_data();
    void damagedFrames();
    void callerMustHaveSaidHello();
    void repeatedRequestAnsweredFromFilter();
    void codeAbove15SendsNoAnswer();
    void oversizedAnswerBecomesFunctionError();
    void blockingHandlerDoesNotFreezeRegistration();
    void destroyedFunctionIsUnknown();
    void eventWithoutConnectionIsAcknowledged();
    void routing();

private:
    // Sends `request` and returns the index of its answer (-1 on time-out).
    int ask(const QErfcMsg& request);

    std::unique_ptr<QErfcStack> stack;
    std::unique_ptr<RawPeer> peer;
    QErfcFunction first{16, "first", QErfc::User};
    QErfcFunction second{16, "second", QErfc::User};
    QErfcFunction admin{21, "admin only", QErfc::Admin};
    QErfcEvent temperature{20, "Temperature", QErfc::User};
    QErfcEvent secret{21, "Secret", QErfc::Admin};
    std::atomic<int> firstCalls{0};
};

void tst_QErfcIntFnct::initTestCase()
{
    stack.reset(new QErfcStack(Own, QErfc::Maintenance));
    stack->setNodeDescription("PC node");
    stack->setSoftwareVersion("1.6");
    stack->setSoftwareHash(QByteArray::fromHex("deadbeef"));
    stack->setBootloaderVersion("boot 2");
    stack->setBootloaderHash(QByteArray::fromHex("0011"));
    stack->setHardwareDescription("x86");
    stack->setHardwareRevision("B");
    stack->setSerial("SN42");
    stack->setUniqueId(QByteArray::fromHex("a0a5aa"));

    connect(&first, &QErfcFunction::callSignal, &first,
            [this](QErfcIncomingRequest&, QErfcResponse& response, QErfc::ResponseCode& code) {
                response.setPayload(QByteArray(1, char(++firstCalls)));
                code = QErfc::OK;
            },
            Qt::DirectConnection);
    connect(&admin, &QErfcFunction::callSignal, &admin,
            [](QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code) {
                response.setPayload(QByteArray(1, char(request.privilege())));
                code = QErfc::Specific3;
            },
            Qt::DirectConnection);
    stack->registerFunction(&first);
    try {
        stack->registerFunction(&second);
        QFAIL("a second function under id 16 was accepted");
    } catch (const QErfcException& e) {
        QCOMPARE(e.code(), int(QErfcException::FunctionRegisterError));
    }
    stack->registerFunction(&admin);
    stack->registerEvent(&temperature);
    stack->registerEvent(&secret);

    peer.reset(new RawPeer(Peer));
    QVERIFY(peer->attach(stack.get()));
    stack->enable();
    QVERIFY(peer->join());
}

void tst_QErfcIntFnct::cleanupTestCase()
{
    peer.reset();
    stack.reset();
}

int tst_QErfcIntFnct::ask(const QErfcMsg& request)
{
    const int from = peer->frames().size();
    peer->send(request);
    return peer->waitFor(RawPeer::answerTo(request), from);
}

void tst_QErfcIntFnct::internalFunctions_data()
{
    QTest::addColumn<int>("fid");
    QTest::addColumn<int>("privilege");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("answer");

    const QByteArray none;
    const QByteArray b32(32, '\x33'), b33(33, '\x33'), b36(36, '\x36');
    auto h = [](const char* hex) { return QByteArray::fromHex(hex); };

    QTest::newRow("echo empty") << 0 << 0 << none << 0 << none;
    QTest::newRow("echo bytes") << 0 << 0 << h("00a0a5aaff") << 0 << h("00a0a5aaff");
    QTest::newRow("echo 32") << 0 << 0 << b32 << 0 << b32;
    QTest::newRow("echo 33") << 0 << 0 << b33 << 12 << none;
    QTest::newRow("echo 36 unrouted") << 0 << 0 << b36 << 12 << none;

    QTest::newRow("node version") << 1 << 0 << h("00") << 0 << h("3032");
    QTest::newRow("node description") << 1 << 0 << h("01") << 0 << QByteArray("PC node");
    QTest::newRow("node software") << 1 << 0 << h("02") << 0 << QByteArray("1.6");
    QTest::newRow("node software hash") << 1 << 0 << h("03") << 0 << h("deadbeef");
    QTest::newRow("node bootloader") << 1 << 0 << h("04") << 0 << QByteArray("boot 2");
    QTest::newRow("node bootloader hash") << 1 << 0 << h("05") << 0 << h("0011");
    QTest::newRow("node hardware") << 1 << 0 << h("06") << 0 << QByteArray("x86");
    QTest::newRow("node revision") << 1 << 0 << h("07") << 0 << QByteArray("B");
    QTest::newRow("node serial") << 1 << 0 << h("08") << 0 << QByteArray("SN42");
    QTest::newRow("node unique id") << 1 << 0 << h("09") << 0 << h("a0a5aa");
    QTest::newRow("node mode") << 1 << 0 << h("0a") << 0 << h("01");
    QTest::newRow("node manufacturer") << 1 << 0 << h("0b") << 13 << none;
    QTest::newRow("node domain") << 1 << 0 << h("0c") << 13 << none;
    QTest::newRow("node two bytes") << 1 << 0 << h("0000") << 12 << none;
    QTest::newRow("node empty") << 1 << 0 << none << 12 << none;

    QTest::newRow("function 0") << 2 << 0 << h("00") << 0 << QByteArray("ECHO");
    QTest::newRow("function 5") << 2 << 0 << h("05") << 0 << QByteArray("NETWORK");
    QTest::newRow("function 15") << 2 << 0 << h("0f") << 0 << QByteArray("STATISTICS");
    QTest::newRow("function 16 kept first") << 2 << 0 << h("10") << 0 << QByteArray("first");
    QTest::newRow("function needing admin") << 2 << 0 << h("15") << 0 << QByteArray("admin only");
    QTest::newRow("function none") << 2 << 0 << h("63") << 1 << none;
    QTest::newRow("function empty") << 2 << 0 << none << 12 << none;
    QTest::newRow("event 20") << 3 << 0 << h("14") << 0 << QByteArray("Temperature");
    QTest::newRow("event needing admin") << 3 << 0 << h("15") << 0 << QByteArray("Secret");
    QTest::newRow("event none") << 3 << 0 << h("16") << 1 << none;
    QTest::newRow("event two bytes") << 3 << 0 << h("1414") << 12 << none;

    QTest::newRow("management reset") << 4 << 0 << h("0001") << 10 << none;
    QTest::newRow("management other") << 4 << 0 << h("01") << 13 << none;
    QTest::newRow("management empty") << 4 << 0 << none << 12 << none;

    QTest::newRow("network empty") << 5 << 0 << none << 12 << none;
    QTest::newRow("network unknown") << 5 << 0 << h("09") << 13 << none;
    QTest::newRow("network short hello") << 5 << 0 << h("000102030410") << 12 << none;
    QTest::newRow("subscribe") << 5 << 0 << h("021400030a") << 0 << none;
    QTest::newRow("subscribe low privilege") << 5 << 0 << h("021500030a") << 1 << none;
    QTest::newRow("subscribe admin") << 5 << 2 << h("021500030a") << 0 << none;
    QTest::newRow("subscribe unknown") << 5 << 3 << h("021600030a") << 1 << none;
    QTest::newRow("subscribe short") << 5 << 0 << h("0214") << 12 << none;
    QTest::newRow("unsubscribe") << 5 << 0 << h("0314") << 0 << none;
    QTest::newRow("unsubscribe long") << 5 << 0 << h("031400") << 12 << none;
    QTest::newRow("capacity") << 5 << 0 << h("04ffff00") << 0 << h("04ffff00");
    QTest::newRow("capacity 32") << 5 << 0 << (h("04") + b32.left(31)) << 0 << (h("04") + b32.left(31));
    QTest::newRow("capacity 33") << 5 << 0 << (h("04") + b32) << 12 << none;

    QTest::newRow("statistics other") << 15 << 0 << h("02") << 13 << none;
    QTest::newRow("statistics empty") << 15 << 0 << none << 12 << none;
    QTest::newRow("statistics long") << 15 << 0 << h("0000") << 12 << none;
    QTest::newRow("id 6 not served") << 6 << 0 << none << 8 << none;
    QTest::newRow("id 14 not served") << 14 << 0 << none << 8 << none;

    QTest::newRow("admin function as user") << 21 << 0 << none << 8 << none;
    QTest::newRow("admin function as admin") << 21 << 2 << none << 3 << h("02");
}

void tst_QErfcIntFnct::internalFunctions()
{
    QFETCH(int, fid);
    QFETCH(int, privilege);
    QFETCH(QByteArray, payload);
    QFETCH(int, code);
    QFETCH(QByteArray, answer);

    QErfcMsg request = peer->request(Own, uchar(fid), payload);
    request.setPrivilege(QErfc::Privilege(privilege));
    const int i = ask(request);
    QVERIFY(i >= 0);
    const QByteArray raw = peer->rawFrames().at(i);
    QCOMPARE(raw.left(4).toHex(), answerHeader(request, Own, code).toHex());
    QCOMPARE(peer->frames().at(i).payload().toHex(), answer.toHex());
}

void tst_QErfcIntFnct::statisticsResetThenRead()
{
    // A hello of the PC's own between the two requests would be counted too:
    // try again then.
    QByteArray counters;
    for (int attempt = 0; attempt < 3 && counters.isEmpty(); ++attempt) {
        const int from = peer->frames().size();
        QErfcMsg reset, read;
        QVERIFY(peer->call(15, QByteArray(1, '\1'), &reset));
        QCOMPARE(int(reset.responseCode()), 0);
        QVERIFY(reset.payload().isEmpty());
        QVERIFY(peer->call(15, QByteArray(1, '\0'), &read));
        QCOMPARE(int(read.responseCode()), 0);
        if (peer->frames().size() - from == 2)
            counters = read.payload();
    }
    // frameTx 1 (the reset's answer), frameRx 1 (the read), every other counter 0.
    QCOMPARE(counters.toHex(), QByteArray("01000000" "01000000") + QByteArray(48, '0'));
    const QErfcStatistics parsed(counters);
    QCOMPARE(parsed.frameTx, 1u);
    QCOMPARE(parsed.frameRx, 1u);
    QCOMPARE(parsed.unexpResponse, quint16(0));
}

void tst_QErfcIntFnct::damagedFrames_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<bool>("answered");
    QTest::newRow("from node 4") << 4 << true;
    QTest::newRow("claiming own address") << int(Own) << false;
    QTest::newRow("claiming 63") << 63 << false;
}

void tst_QErfcIntFnct::damagedFrames()
{
    QFETCH(int, source);
    QFETCH(bool, answered);

    const int calls = firstCalls;
    const QErfcStatistics before = stack->statistics();
    QErfcMsg request = RawPeer::frame(uchar(source), Own, 16, 9, true, "x");
    const int from = peer->frames().size();
    peer->sendFrame(damaged(request));
    QVERIFY(peer->sync());
    const int i = peer->waitFor(RawPeer::answerTo(request), from, answered ? 10000 : 0);
    QCOMPARE(i >= 0, answered);
    if (answered)
        QCOMPARE(peer->rawFrames().at(i).left(4).toHex(), answerHeader(request, Own, 15).toHex());
    QCOMPARE(peer->count([](const QErfcMsg& m) { return m.isResponse() && m.functionId() == 16; },
                         from),
             answered ? 1 : 0);
    QCOMPARE(firstCalls.load(), calls);
    QCOMPARE(stack->statistics().crcError - before.crcError, 1);
    QCOMPARE(stack->statistics().routingError, before.routingError);
}

void tst_QErfcIntFnct::callerMustHaveSaidHello()
{
    const int calls = firstCalls;
    const QErfcMsg request = RawPeer::frame(7, Own, 16, 2, false, "who");
    const int i = ask(request);
    QVERIFY(i >= 0);
    QCOMPARE(peer->rawFrames().at(i).left(4).toHex(), answerHeader(request, Own, 13).toHex());
    QCOMPARE(firstCalls.load(), calls);
}

void tst_QErfcIntFnct::repeatedRequestAnsweredFromFilter()
{
    const quint16 retransmit = stack->statistics().retransmit;
    const int calls = firstCalls;
    QErfcMsg request = peer->request(Own, 16, "r");
    const int i = ask(request);
    QVERIFY(i >= 0);
    QCOMPARE(firstCalls.load(), calls + 1);

    QErfcMsg repeated = request;
    repeated.setRetransmit(true);
    const int j = ask(repeated);
    QVERIFY(j > i);
    QCOMPARE(peer->rawFrames().at(j), peer->rawFrames().at(i));
    QCOMPARE(firstCalls.load(), calls + 1);
    QCOMPARE(stack->statistics().retransmit - retransmit, 1);

    // The same id in the next generation is a new request.
    QErfcMsg next = request;
    next.setWindowBit(!request.windowBit());
    const int k = ask(next);
    QVERIFY(k > j);
    QCOMPARE(firstCalls.load(), calls + 2);
    QCOMPARE(peer->frames().at(k).payload(), QByteArray(1, char(calls + 2)));
}

void tst_QErfcIntFnct::codeAbove15SendsNoAnswer()
{
    QErfcFunction quiet(17, "quiet", QErfc::User);
    std::atomic<int> calls{0};
    connect(&quiet, &QErfcFunction::callSignal, &quiet,
            [&](QErfcIncomingRequest&, QErfcResponse& response, QErfc::ResponseCode& code) {
                ++calls;
                response.setPayload(QByteArray("never"));
                code = QErfc::ResponseCode(16);
            },
            Qt::DirectConnection);
    stack->registerFunction(&quiet);
    const QErfcMsg request = peer->request(Own, 17, "q");
    const int from = peer->frames().size();
    peer->send(request);
    peer->send(request); // the same id and window bit: handled again
    QVERIFY(peer->sync());
    QCOMPARE(calls.load(), 2);
    QCOMPARE(peer->count(RawPeer::answerTo(request), from), 0);
    stack->unregisterFunction(&quiet);
}

void tst_QErfcIntFnct::oversizedAnswerBecomesFunctionError()
{
    QErfcFunction greedy(18, "greedy", QErfc::User);
    connect(&greedy, &QErfcFunction::callSignal, &greedy,
            [](QErfcIncomingRequest&, QErfcResponse& response, QErfc::ResponseCode& code) {
                response.setPayload(QByteArray(33, 'g'));
                code = QErfc::OK;
            },
            Qt::DirectConnection);
    stack->registerFunction(&greedy);
    QTest::ignoreMessage(QtWarningMsg, "Function 18 answered 33 bytes; at most 32 fit a frame");
    const QErfcMsg request = peer->request(Own, 18, QByteArray());
    const int i = ask(request);
    QVERIFY(i >= 0);
    QCOMPARE(peer->rawFrames().at(i).toHex().left(8), answerHeader(request, Own, 10).toHex());
    QCOMPARE(peer->rawFrames().at(i).size(), 6);
    stack->unregisterFunction(&greedy);
}

void tst_QErfcIntFnct::blockingHandlerDoesNotFreezeRegistration()
{
    QErfcFunction slow(19, "slow", QErfc::User);
    QSemaphore entered, release;
    std::atomic<bool> left{false};
    connect(&slow, &QErfcFunction::callSignal, &slow,
            [&](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                entered.release();
                release.tryAcquire(1, 20000);
                left = true;
                code = QErfc::OK;
            },
            Qt::DirectConnection);
    stack->registerFunction(&slow);
    const QErfcMsg request = peer->request(Own, 19, QByteArray());
    const int from = peer->frames().size();
    peer->send(request);
    QVERIFY(QTest::qWaitFor([&] { return entered.available() > 0; }, 10000));

    QErfcFunction other(22, "other", QErfc::User);
    stack->registerFunction(&other);
    QVERIFY(stack->functionIds().contains(22));
    stack->unregisterFunction(&other);
    QVERIFY(!left);

    release.release();
    QVERIFY(peer->waitFor(RawPeer::answerTo(request), from) >= 0);
    stack->unregisterFunction(&slow);
}

void tst_QErfcIntFnct::destroyedFunctionIsUnknown()
{
    auto* gone = new QErfcFunction(23, "gone", QErfc::User);
    stack->registerFunction(gone);
    delete gone;
    QVERIFY(!stack->functionIds().contains(23));
    const quint16 unknown = stack->statistics().unknownFunction;
    const QErfcMsg request = peer->request(Own, 23, QByteArray());
    const int i = ask(request);
    QVERIFY(i >= 0);
    QCOMPARE(peer->rawFrames().at(i).left(4).toHex(), answerHeader(request, Own, 8).toHex());
    QCOMPARE(stack->statistics().unknownFunction - unknown, 1);
}

void tst_QErfcIntFnct::eventWithoutConnectionIsAcknowledged()
{
    const quint16 unknown = stack->statistics().unknownEvent;
    QErfcMsg event = peer->request(Own, 40, "ev");
    event.setEvent(true);
    const int i = ask(event);
    QVERIFY(i >= 0);
    QCOMPARE(peer->rawFrames().at(i).left(4).toHex(), answerHeader(event, Own, 0).toHex());
    QCOMPARE(stack->statistics().unknownEvent - unknown, 1);
}

void tst_QErfcIntFnct::routing()
{
    StackLog log(stack.get());
    const QErfcStatistics before = stack->statistics();

    // No record for node 9: the PC answers on its behalf.
    QErfcMsg toUnknown = peer->request(9, 16, "9");
    int i = ask(toUnknown);
    QVERIFY(i >= 0);
    QCOMPARE(peer->rawFrames().at(i).left(4).toHex(), answerHeader(toUnknown, 9, 9).toHex());

    // Node 5 sits behind the same link as node 4: no way through the PC.
    peer->hello(0x5050, 16, QErfc::Application, 5);
    QTRY_VERIFY_WITH_TIMEOUT(stack->knownNodes().contains(5), 10000);
    QErfcMsg loop = peer->request(5, 16, "5");
    i = ask(loop);
    QVERIFY(i >= 0);
    QCOMPARE(peer->rawFrames().at(i).left(4).toHex(), answerHeader(loop, 5, 14).toHex());
    QTRY_VERIFY_WITH_TIMEOUT(log.entries.contains("error 1"), 10000);

    // Node 6 behind a second link: requests, answers and broadcasts pass unchanged.
    RawPeer other(6);
    QVERIFY(other.attach(stack.get()));
    QVERIFY(other.join());
    const QErfcMsg forward = peer->request(6, 30, "fwd");
    const int from = other.frames().size();
    peer->send(forward);
    const int j = other.waitFor([](const QErfcMsg& m) { return m.payload() == "fwd"; }, from);
    QVERIFY(j >= 0);
    QCOMPARE(other.rawFrames().at(j), forward.encode());
    const QErfcMsg reply = RawPeer::answer(forward, QErfc::Specific4, "back");
    const int k0 = peer->frames().size();
    other.send(reply);
    const int k = peer->waitFor(RawPeer::answerTo(forward), k0);
    QVERIFY(k >= 0);
    QCOMPARE(peer->rawFrames().at(k), reply.encode());
    QErfcMsg broadcast = RawPeer::frame(Peer, 63, 40, 0, false, "all");
    broadcast.setNoResponse(true);
    peer->send(broadcast);
    const int b = other.waitFor([](const QErfcMsg& m) { return m.payload() == "all"; }, from);
    QVERIFY(b >= 0);
    QCOMPARE(other.rawFrames().at(b), broadcast.encode());

    const QErfcStatistics after = stack->statistics();
    QCOMPARE(after.unknownNode - before.unknownNode, 1);
    QCOMPARE(after.routingError - before.routingError, 1);
    QCOMPARE(after.routing - before.routing, 2u);
    other.detach();
    peer->goodbye(5);
}

QTEST_GUILESS_MAIN(tst_QErfcIntFnct)
#include "tst_qerfcintfnct.moc"
