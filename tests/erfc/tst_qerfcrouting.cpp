#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "rawpeer.h"
#include "stackpair.h"

#include <QtTest>

#include <memory>

// The stack as a router between three links: another stack (node 2) behind
// the first, raw nodes 4 and 5 behind the second and the third.
namespace {

constexpr uchar Own = 1;
constexpr uchar Far = 2;
constexpr uchar P = 4;
constexpr uchar Q = 5;
constexpr uchar Behind = 6; // announced on P's link
constexpr uchar Handler = 20;

// The header of an answer to `request`, built from the wire layout.
QByteArray answerHeader(const QErfcMsg& request, uchar source, int code)
{
    const quint32 h = (quint32(request.source()) << 26) | (quint32(source) << 20)
        | (request.windowBit() ? 1u << 17 : 0u) | (quint32(request.functionId()) << 8)
        | (quint32(request.requestId()) << 4) | quint32(code);
    QByteArray out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char(h >> shift);
    return out;
}

RawPeer::Match payloadIs(const QByteArray& payload)
{
    return [payload](const QErfcMsg& m) { return m.payload() == payload; };
}

} // namespace

class tst_QErfcRouting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void broadcastFansOut();
    void forwardsBetweenLinks();
    void answeredOnBehalf_data();
    void answeredOnBehalf();
    void ownSourceDropped();

private:
    QStringList takeCalls();

    std::unique_ptr<StackPair> pair; // a: the router, b: node 2
    std::unique_ptr<RawPeer> p;
    std::unique_ptr<RawPeer> q;
    std::unique_ptr<StackLog> log;
    QErfcFunction local{Handler, "local", QErfc::User};
    QErfcFunction remote{Handler, "remote", QErfc::User};
    QMutex callsLock;
    QStringList calls; // "<stack> <caller> <payload>", from the stacks' threads
};

void tst_QErfcRouting::initTestCase()
{
    const auto handler = [this](const char* where) {
        return [this, where](QErfcIncomingRequest& request, QErfcResponse& response,
                             QErfc::ResponseCode& code) {
            QMutexLocker lock(&callsLock);
            calls << QStringLiteral("%1 %2 %3").arg(where).arg(request.address())
                         .arg(QString::fromLatin1(request.payload()));
            response.setPayload(where + request.payload());
            code = QErfc::OK;
        };
    };
    connect(&local, &QErfcFunction::callSignal, &local, handler("S"), Qt::DirectConnection);
    connect(&remote, &QErfcFunction::callSignal, &remote, handler("F"), Qt::DirectConnection);

    pair.reset(new StackPair(Own, Far));
    pair->a->registerFunction(&local);
    pair->b->registerFunction(&remote);
    QVERIFY(pair->connectAndDiscover());
    log.reset(new StackLog(pair->a.get()));
    p.reset(new RawPeer(P));
    q.reset(new RawPeer(Q));
    QVERIFY(p->attach(pair->a.get()));
    QVERIFY(q->attach(pair->a.get()));
}

void tst_QErfcRouting::init()
{
    // The raw nodes announce themselves for each test, so that no record
    // expires in between; their hellos reach node 2 through the router.
    p->hello();
    p->hello(0x6060, 16, QErfc::Application, Behind);
    q->hello();
    QTRY_COMPARE_WITH_TIMEOUT(pair->a->knownNodes(), (QList<uchar>{Far, P, Q, Behind}), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pair->b->knownNodes(), (QList<uchar>{Own, P, Q, Behind}), 10000);
    QVERIFY(p->sync());
    QVERIFY(q->sync());
    log->entries.clear();
    takeCalls();
}

void tst_QErfcRouting::cleanupTestCase()
{
    p.reset();
    q.reset();
    log.reset();
    pair.reset();
}

QStringList tst_QErfcRouting::takeCalls()
{
    QMutexLocker lock(&callsLock);
    QStringList out = calls;
    calls.clear();
    out.sort();
    return out;
}

void tst_QErfcRouting::broadcastFansOut()
{
    const QErfcMsg all = RawPeer::frame(P, 63, Handler, 0, false, "all");
    const int pFrom = p->frames().size();
    const int qFrom = q->frames().size();
    p->send(all);

    // Passed on unchanged to the other raw node, and handled by node 2 and
    // by the router itself.
    const int i = q->waitFor(payloadIs("all"), qFrom);
    QVERIFY(i >= 0);
    QCOMPARE(q->rawFrames().at(i), all.encode());
    QStringList seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += takeCalls()).size() >= 2, 10000);
    QCOMPARE(seen, (QStringList{"F 4 all", "S 4 all"}));

    // Nobody answers a broadcast, and it does not go back to where it came from.
    QVERIFY(p->sync());
    QVERIFY(q->sync());
    QCOMPARE(p->count([](const QErfcMsg& m) { return m.payload().endsWith("all"); }, pFrom), 0);
    QCOMPARE(q->count([](const QErfcMsg& m) { return m.payload().endsWith("all"); }, qFrom), 1);
}

void tst_QErfcRouting::forwardsBetweenLinks()
{
    const QErfcStatistics before = pair->a->statistics();

    // Raw node to raw node: the request and its answer pass unchanged.
    const QErfcMsg toQ = p->request(Q, 30, "fwd");
    int qFrom = q->frames().size();
    p->send(toQ);
    int i = q->waitFor(payloadIs("fwd"), qFrom);
    QVERIFY(i >= 0);
    QCOMPARE(q->rawFrames().at(i), toQ.encode());
    const QErfcMsg reply = RawPeer::answer(toQ, QErfc::Specific4, "back");
    int pFrom = p->frames().size();
    q->send(reply);
    i = p->waitFor(RawPeer::answerTo(toQ), pFrom);
    QVERIFY(i >= 0);
    QCOMPARE(p->rawFrames().at(i), reply.encode());

    // Raw node to the stack behind the first link, answered by its function.
    const QErfcMsg toFar = p->request(Far, Handler, "hi");
    pFrom = p->frames().size();
    p->send(toFar);
    i = p->waitFor(RawPeer::answerTo(toFar), pFrom);
    QVERIFY(i >= 0);
    QCOMPARE(p->frames().at(i).responseCode(), QErfc::OK);
    QCOMPARE(p->frames().at(i).payload(), QByteArray("Fhi"));
    QCOMPARE(takeCalls(), QStringList{"F 4 hi"});

    // That stack's request to a raw node, answered by it.
    QErfcRequest fromFar(Q, 31, "req");
    fromFar.setTimeout(255);
    qFrom = q->frames().size();
    QVERIFY(pair->b->send(&fromFar));
    i = q->waitFor(RawPeer::isRequest(31), qFrom);
    QVERIFY(i >= 0);
    QCOMPARE(q->frames().at(i).source(), Far);
    QCOMPARE(q->frames().at(i).payload(), QByteArray("req"));
    q->send(RawPeer::answer(q->frames().at(i), QErfc::OK, "ans"));
    QTRY_VERIFY_WITH_TIMEOUT(fromFar.waitForResponse(0), 10000);
    QCOMPARE(fromFar.response().responseCode(), QErfc::OK);
    QCOMPARE(fromFar.response().address(), Q);
    QCOMPARE(fromFar.response().payload(), QByteArray("ans"));

    // Every frame that passed was counted; a repetition of the last request
    // on a slow machine passes too.
    const int copies =
        q->count([](const QErfcMsg& m) { return !m.isResponse() && m.functionId() == 31; }, qFrom);
    QCOMPARE(pair->a->statistics().routing - before.routing, quint32(5 + copies));
    QCOMPARE(pair->a->statistics().routingError, before.routingError);
}

void tst_QErfcRouting::answeredOnBehalf_data()
{
    QTest::addColumn<int>("destination");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<int>("unknownNodes");
    QTest::addColumn<int>("routingErrors");
    QTest::newRow("unknown destination") << 9 << int(QErfc::UnknonwAddr) << QStringList{} << 1 << 0;
    QTest::newRow("back through its link") << int(Behind) << int(QErfc::RoutingError)
                                           << QStringList{"error 1"} << 0 << 1;
}

void tst_QErfcRouting::answeredOnBehalf()
{
    QFETCH(int, destination);
    QFETCH(int, code);
    QFETCH(QStringList, errors);
    QFETCH(int, unknownNodes);
    QFETCH(int, routingErrors);
    const QErfcStatistics before = pair->a->statistics();
    const int qFrom = q->frames().size();

    // The router answers in the destination's name.
    const QErfcMsg request = p->request(uchar(destination), Handler, "x");
    const int from = p->frames().size();
    p->send(request);
    const int i = p->waitFor(RawPeer::answerTo(request), from);
    QVERIFY(i >= 0);
    QCOMPARE(p->rawFrames().at(i).left(4).toHex(),
             answerHeader(request, uchar(destination), code).toHex());
    QCOMPARE(p->frames().at(i).payload(), QByteArray());

    QVERIFY(q->sync());
    QCOMPARE(q->count(payloadIs("x"), qFrom), 0);
    QTRY_COMPARE_WITH_TIMEOUT(log->entries, errors, 10000);
    const QErfcStatistics after = pair->a->statistics();
    QCOMPARE(after.unknownNode - before.unknownNode, unknownNodes);
    QCOMPARE(after.routingError - before.routingError, routingErrors);
    QCOMPARE(after.routing, before.routing);
    QCOMPARE(takeCalls(), QStringList());
}

void tst_QErfcRouting::ownSourceDropped()
{
    const QErfcStatistics before = pair->a->statistics();
    const int pFrom = p->frames().size();
    const int qFrom = q->frames().size();

    // Another node sending with the router's own address: dropped and
    // reported, a broadcast included.
    p->send(RawPeer::frame(Own, Q, Handler, 3, true, "own"));
    QErfcMsg broadcast = RawPeer::frame(Own, 63, Handler, 0, false, "own");
    broadcast.setNoResponse(true);
    p->send(broadcast);
    QVERIFY(p->sync());
    QVERIFY(q->sync());
    QTRY_COMPARE_WITH_TIMEOUT(log->entries, (QStringList{"error 0", "error 0"}), 10000);
    QCOMPARE(pair->a->statistics().routingError - before.routingError, 2);
    QCOMPARE(p->count(payloadIs("own"), pFrom), 0);
    QCOMPARE(q->count(payloadIs("own"), qFrom), 0);

    // Node 2 had nothing either: its next request finds it quiet.
    QErfcRequest echo(Own, 0, "sync");
    QVERIFY(pair->b->send(&echo));
    QVERIFY(echo.waitForResponse(10000));
    QCOMPARE(takeCalls(), QStringList());
}

QTEST_GUILESS_MAIN(tst_QErfcRouting)
#include "tst_qerfcrouting.moc"
