#include "qerfcevent.h"
#include "qerfcfunction.h"
#include "qerfcstack.h"
#include "rawpeer.h"

#include <QtTest>

#include <atomic>
#include <memory>

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
    return out.toHex();
}

RawPeer::Match payloadIs(const QByteArray& payload)
{
    return [payload](const QErfcMsg& m) { return m.payload() == payload; };
}

} // namespace

class tst_QErfcIntFnct : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init(); // renews the hellos: a node not heard from for 7 s is dropped
    void cleanupTestCase();

    void internalFunctions_data();
    void internalFunctions();
    void dispatch_data();
    void dispatch();
    void repeatedRequestAnsweredFromFilter();
    void statisticsLittleEndian();
    void routingBetweenLinks();

private:
    QByteArray header(int i) const { return peer->rawFrames().at(i).left(4).toHex(); }

    std::unique_ptr<QErfcStack> stack;
    std::unique_ptr<RawPeer> peer;
    QErfcFunction first{16, "first", QErfc::User};
    QErfcFunction admin{21, "admin only", QErfc::Admin};
    QErfcFunction greedy{18, "greedy", QErfc::User};
    QErfcEvent temperature{20, "Temperature", QErfc::User};
    QErfcEvent secret{21, "Secret", QErfc::Admin};
    std::atomic<int> firstCalls{0};
};

void tst_QErfcIntFnct::initTestCase()
{
    stack.reset(new QErfcStack(Own, QErfc::Maintenance));
    stack->setNodeDescription("PC node");
    stack->setUniqueId(QByteArray::fromHex("a0a5aa"));
    // 16 counts its calls, 21 answers the caller's privilege, 18 overfills.
    const auto handler = [this](QErfcIncomingRequest& request, QErfcResponse& response,
                                QErfc::ResponseCode& code) {
        const int fid = request.functionId();
        response.setPayload(fid == 16   ? QByteArray(1, char(++firstCalls))
                            : fid == 21 ? QByteArray(1, char(request.privilege()))
                                        : QByteArray(33, 'g'));
        code = fid == 21 ? QErfc::Specific3 : QErfc::OK;
    };
    for (QErfcFunction* f : {&first, &admin, &greedy}) {
        connect(f, &QErfcFunction::callSignal, f, handler, Qt::DirectConnection);
        stack->registerFunction(f);
    }
    stack->registerEvent(&temperature);
    stack->registerEvent(&secret);
    peer.reset(new RawPeer(Peer));
    QVERIFY(peer->attach(stack.get()));
    stack->enable();
    QVERIFY(peer->join());
}

void tst_QErfcIntFnct::init()
{
    peer->hello();
    peer->hello(0x5050, 16, QErfc::Application, 5);
    QTRY_VERIFY_WITH_TIMEOUT(stack->knownNodes().contains(5), 10000);
}

void tst_QErfcIntFnct::cleanupTestCase()
{
    peer.reset();
    stack.reset();
}

void tst_QErfcIntFnct::internalFunctions_data()
{
    QTest::addColumn<int>("fid");
    QTest::addColumn<int>("privilege");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("answer");
    const QByteArray none, b32(32, '\x33');
    auto h = [](const char* hex) { return QByteArray::fromHex(hex); };

    QTest::newRow("echo 32") << 0 << 0 << b32 << 0 << b32;
    QTest::newRow("echo 33") << 0 << 0 << (b32 + 'x') << 12 << none;
    QTest::newRow("node protocol version") << 1 << 0 << h("00") << 0 << QByteArray("02");
    QTest::newRow("node description") << 1 << 0 << h("01") << 0 << QByteArray("PC node");
    QTest::newRow("node unique id") << 1 << 0 << h("09") << 0 << h("a0a5aa");
    QTest::newRow("node mode") << 1 << 0 << h("0a") << 0 << h("01");
    QTest::newRow("node manufacturer") << 1 << 0 << h("0b") << 13 << none;
    QTest::newRow("function 16") << 2 << 0 << h("10") << 0 << QByteArray("first");
    QTest::newRow("function none") << 2 << 0 << h("63") << 1 << none;
    QTest::newRow("event needing admin") << 3 << 0 << h("15") << 0 << QByteArray("Secret");
    QTest::newRow("management reset") << 4 << 0 << h("0001") << 10 << none;
    QTest::newRow("capacity") << 5 << 0 << h("04ffff00") << 0 << h("04ffff00");
    QTest::newRow("capacity 33") << 5 << 0 << (h("04") + b32) << 12 << none;
    QTest::newRow("id 6 not served") << 6 << 0 << none << 8 << none;
    QTest::newRow("admin function as user") << 21 << 0 << none << 8 << none;
    QTest::newRow("admin function as admin") << 21 << 2 << none << 3 << h("02");
    QTest::newRow("oversized answer") << 18 << 0 << none << 10 << none;
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
    if (fid == 18)
        QTest::ignoreMessage(QtWarningMsg, "Function 18 answered 33 bytes; at most 32 fit a frame");
    const int i = peer->exchange(request);
    QVERIFY(i >= 0);
    QCOMPARE(header(i), answerHeader(request, Own, code));
    QCOMPARE(peer->frames().at(i).payload().toHex(), answer.toHex());
}

void tst_QErfcIntFnct::dispatch_data()
{
    // A request to function 16 (damaged or not); the answer's code (-1: none)
    // and source; the changes of crcError, unknownNode and routingError.
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("destination");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("counted");
    QTest::newRow("damaged from node 4") << 4 << 1 << true << 15 << "1 0 0";
    QTest::newRow("damaged claiming own address") << 1 << 1 << true << -1 << "1 0 0";
    QTest::newRow("caller never heard of") << 8 << 1 << false << int(QErfc::ProtocolError) << "0 0 0";
    QTest::newRow("unknown destination") << 4 << 9 << false << int(QErfc::UnknonwAddr) << "0 1 0";
    // Node 5 announced itself on the link the request comes from.
    QTest::newRow("back through its link") << 4 << 5 << false << int(QErfc::RoutingError) << "0 0 1";
}

void tst_QErfcIntFnct::dispatch()
{
    QFETCH(int, source);
    QFETCH(int, destination);
    QFETCH(bool, damaged);
    QFETCH(int, code);
    QFETCH(QString, counted);
    const int calls = firstCalls;
    StackLog log(stack.get());
    const QErfcStatistics before = stack->statistics();
    const QErfcMsg request = RawPeer::frame(uchar(source), uchar(destination), 16, 9, true, "x");
    QByteArray bytes = request.encode();
    if (damaged)
        bytes[bytes.size() - 1] = char(bytes.at(bytes.size() - 1) ^ 0x5A);
    const int from = peer->frames().size();
    peer->sendFrame(bytes);
    QVERIFY(peer->sync());
    const int i = peer->waitFor(RawPeer::answerTo(request), from, 0);
    QCOMPARE(i >= 0 ? header(i) : QByteArray(), code < 0 ? QByteArray() : answerHeader(request, uchar(destination), code));
    QCOMPARE(firstCalls.load(), calls);
    const QErfcStatistics after = stack->statistics();
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(after.crcError - before.crcError)
                 .arg(after.unknownNode - before.unknownNode).arg(after.routingError - before.routingError), counted);
    QCOMPARE(after.routing, before.routing);
    QTRY_COMPARE_WITH_TIMEOUT(log.entries.filter("error"),
                              code == QErfc::RoutingError ? QStringList{"error 1"} : QStringList(), 10000);
}

void tst_QErfcIntFnct::repeatedRequestAnsweredFromFilter()
{
    // A repetition gets the stored answer without a second call.
    const int calls = firstCalls;
    const quint16 retransmit = stack->statistics().retransmit;
    const QErfcMsg request = peer->request(Own, 16, "r");
    const int i = peer->exchange(request);
    QVERIFY(i >= 0);
    QErfcMsg repeated = request;
    repeated.setRetransmit(true);
    const int j = peer->exchange(repeated);
    QVERIFY(j > i);
    QCOMPARE(peer->rawFrames().at(j), peer->rawFrames().at(i));
    QCOMPARE(firstCalls.load(), calls + 1);
    QCOMPARE(stack->statistics().retransmit - retransmit, 1);
}

void tst_QErfcIntFnct::statisticsLittleEndian()
{
    // Read right after a reset: frameTx and frameRx are 1 (2 if a hello fell
    // in between), least significant byte first; every other counter is 0.
    QVERIFY(peer->call(15, QByteArray(1, '\1')));
    QErfcMsg answer;
    QVERIFY(peer->call(15, QByteArray(1, '\0'), &answer));
    const QByteArray counters = answer.payload();
    QCOMPARE(counters.size(), 32);
    for (int at : {0, 4}) {
        QVERIFY2(counters.at(at) >= 1 && counters.at(at) <= 2 && counters.mid(at + 1, 3) == QByteArray(3, '\0'),
                 counters.toHex().constData());
    }
    QCOMPARE(counters.mid(8).toHex(), QByteArray(24, '\0').toHex());
}

void tst_QErfcIntFnct::routingBetweenLinks()
{
    RawPeer q(6), r(7);
    QVERIFY(q.attach(stack.get()) && r.attach(stack.get()));
    QVERIFY(q.join() && r.join());
    QVERIFY(peer->sync());
    const QErfcStatistics before = stack->statistics();
    const int calls = firstCalls;

    // A broadcast, from a node never heard of, goes unchanged to every other
    // link and is handled here too.
    QErfcMsg all = RawPeer::frame(9, 63, 16, 0, false, "all");
    all.setNoResponse(true);
    const int from = peer->frames().size(), qFrom = q.frames().size(), rFrom = r.frames().size();
    peer->send(all);
    for (RawPeer* other : {&q, &r})
        QCOMPARE(other->rawFrames().value(other->waitFor(payloadIs("all"), other == &q ? qFrom : rFrom)),
                 all.encode());
    QTRY_COMPARE_WITH_TIMEOUT(firstCalls.load(), calls + 1, 10000);

    // A request to a node behind another link, and its answer, pass unchanged.
    const QErfcMsg forward = peer->request(6, 30, "fwd");
    peer->send(forward);
    QCOMPARE(q.rawFrames().value(q.waitFor(payloadIs("fwd"), qFrom)), forward.encode());
    const QErfcMsg reply = RawPeer::answer(forward, QErfc::Specific4, "back");
    q.send(reply);
    QCOMPARE(peer->rawFrames().value(peer->waitFor(RawPeer::answerTo(forward), from)), reply.encode());
    QCOMPARE(peer->count(payloadIs("all"), from), 0);
    QCOMPARE(stack->statistics().routing - before.routing, 2u); // broadcasts are not counted
}

QTEST_GUILESS_MAIN(tst_QErfcIntFnct)
#include "tst_qerfcintfnct.moc"
