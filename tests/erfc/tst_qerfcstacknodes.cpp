#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "rawpeer.h"
#include "stackpair.h"

#include <QtTest>

#include <memory>

// Discovery: how hellos, goodbyes, silence and releases add and drop nodes.
namespace {

constexpr uchar Own = 1;
constexpr uchar Peer = 4;

bool completed(QErfcRequest& r, int timeoutMs = 10000)
{
    return QTest::qWaitFor([&r] { return r.waitForResponse(0); }, timeoutMs);
}

} // namespace

class tst_QErfcStackNodes : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void twoStacksFindEachOther();
    void helloRunIds();
    void ownAddressAndBroadcastSource();
    void goodbyeCompletesOutstandingThenDrops();
    void releaseDropsNodesBehindLink();
    void silentNodeExpires();

private:
    std::unique_ptr<QErfcStack> stack;
    std::unique_ptr<RawPeer> peer;
    std::unique_ptr<StackLog> log;
};

void tst_QErfcStackNodes::init()
{
    stack.reset(new QErfcStack(Own));
    log.reset(new StackLog(stack.get()));
    peer.reset(new RawPeer(Peer));
    QVERIFY(peer->attach(stack.get()));
    stack->enable();
}

void tst_QErfcStackNodes::cleanup()
{
    peer.reset();
    log.reset();
    stack.reset();
}

void tst_QErfcStackNodes::twoStacksFindEachOther()
{
    StackPair pair(7, 9);
    StackLog logA(pair.a.get());
    QVERIFY(pair.connectAndDiscover());
    QTRY_COMPARE_WITH_TIMEOUT(logA.entries, QStringList{"drc 9 0 0"}, 10000);

    QErfcRequest echo(9, 0, "ping");
    QVERIFY(pair.a->send(&echo));
    QVERIFY(completed(echo));
    QCOMPARE(echo.response().responseCode(), QErfc::OK);
    QCOMPARE(echo.response().address(), uchar(9));
    QCOMPARE(echo.response().payload(), QByteArray("ping"));

    pair.release();
    QCOMPARE(logA.entries, (QStringList{"drc 9 0 0", "drc 9 1 0"}));
    QVERIFY(pair.a->knownNodes().isEmpty());
}

void tst_QErfcStackNodes::helloRunIds()
{
    // A new node is announced and greeted with the PC's own hello.
    int from = peer->frames().size();
    QVERIFY(peer->join(0xA1A2A3A4, 16, QErfc::Application));
    QVERIFY(peer->waitFor(RawPeer::isHello, from) >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(log->entries, QStringList{"drc 4 0 0"}, 10000);

    // An answer the PC keeps for a repetition, and a request of the PC's.
    const QErfcMsg old = RawPeer::frame(Peer, Own, 0, 0, false, "old");
    from = peer->frames().size();
    peer->send(old);
    int i = peer->waitFor(RawPeer::answerTo(old), from);
    QVERIFY(i >= 0);
    QCOMPARE(peer->frames().at(i).payload(), QByteArray("old"));
    QErfcRequest pending(Peer, 20, "p");
    pending.setRetries(255);
    QVERIFY(stack->send(&pending));
    const int sent = peer->waitFor(RawPeer::isRequest(20), from);
    QVERIFY(sent >= 0);

    // The same run id again is the regular hello; another one is a restart.
    peer->hello(0xA1A2A3A4, 16, QErfc::Application);
    from = peer->frames().size();
    peer->hello(0xB1B2B3B4, 16, QErfc::Maintenance);
    QTRY_COMPARE_WITH_TIMEOUT(log->entries.size(), 3, 10000);
    QCOMPARE(log->entries, (QStringList{"drc 4 0 0", "drc 4 1 0", "drc 4 0 1"}));
    QVERIFY(peer->waitFor(RawPeer::isHello, from) >= 0);

    // The restarted node's first request reuses id 0 and window bit 0: it
    // must be handled, not answered from its previous life.
    const QErfcMsg fresh = RawPeer::frame(Peer, Own, 0, 0, false, "new");
    from = peer->frames().size();
    peer->send(fresh);
    i = peer->waitFor(RawPeer::answerTo(fresh), from);
    QVERIFY(i >= 0);
    QCOMPARE(peer->frames().at(i).payload(), QByteArray("new"));

    // The outstanding request survived the restart.
    QVERIFY(!pending.waitForResponse(0));
    peer->send(RawPeer::answer(peer->frames().at(sent), QErfc::OK, "P"));
    QVERIFY(completed(pending));
    QCOMPARE(pending.response().responseCode(), QErfc::OK);
    QCOMPARE(pending.response().payload(), QByteArray("P"));
}

void tst_QErfcStackNodes::ownAddressAndBroadcastSource()
{
    const QErfcStatistics before = stack->statistics();
    // Another node using the PC's address: reported, never entered.
    peer->hello(0x1234, 16, QErfc::Application, Own);
    peer->send(RawPeer::frame(Own, Own, 0, 1, true, "mine"));
    QVERIFY(peer->sync());
    QTRY_COMPARE_WITH_TIMEOUT(log->entries, (QStringList{"error 0", "error 0"}), 10000);
    QCOMPARE(stack->statistics().routingError - before.routingError, 2);

    // A hello from 63 asks every node to announce itself.
    const int from = peer->frames().size();
    peer->hello(0x6363, 16, QErfc::Application, 63);
    QVERIFY(peer->sync());
    QVERIFY(peer->count(RawPeer::isHello, from) >= 1);
    QVERIFY(stack->knownNodes().isEmpty());
    QCOMPARE(log->entries.size(), 2);
}

void tst_QErfcStackNodes::goodbyeCompletesOutstandingThenDrops()
{
    QVERIFY(peer->join(0x42, 16, QErfc::Maintenance));
    std::unique_ptr<QErfcRequest> requests[3];
    for (auto& r : requests) {
        r.reset(new QErfcRequest(Peer, 20, "x"));
        r->setRetries(255);
        connect(r.get(), &QErfcRequest::finished, log.get(), [this] { log->entries << "done"; });
        QVERIFY(stack->send(r.get()));
    }
    peer->goodbye();
    QTRY_COMPARE_WITH_TIMEOUT(log->entries.size(), 5, 10000);
    QCOMPARE(log->entries, (QStringList{"drc 4 0 1", "done", "done", "done", "drc 4 1 1"}));
    for (auto& r : requests) {
        QCOMPARE(r->response().responseCode(), QErfc::ConnectionError);
        QCOMPARE(r->response().address(), Own);
        QCOMPARE(r->response().functionId(), uchar(20));
    }
    QVERIFY(stack->knownNodes().isEmpty());
}

void tst_QErfcStackNodes::releaseDropsNodesBehindLink()
{
    RawPeer other(6);
    QVERIFY(other.attach(stack.get()));
    QVERIFY(peer->join());
    QVERIFY(other.join());
    QTRY_COMPARE_WITH_TIMEOUT(log->entries.size(), 2, 10000);
    peer->detach();
    QCOMPARE(log->entries.last(), QStringLiteral("drc 4 1 0"));
    QCOMPARE(stack->knownNodes(), QList<uchar>{6});
    QVERIFY(other.sync());
}

void tst_QErfcStackNodes::silentNodeExpires()
{
    QElapsedTimer timer;
    qint64 droppedAt = -1;
    connect(stack.get(), &QErfcStack::drcUpdate, log.get(),
            [&](uchar, QErfc::DrcUpdate state) {
                if (state == QErfc::RemovedNode)
                    droppedAt = timer.elapsed();
            });
    timer.start();
    QVERIFY(peer->join(0x77, 16, QErfc::Maintenance));
    QVERIFY(QTest::qWaitFor([&] { return droppedAt >= 0; }, 15000));
    QVERIFY2(droppedAt >= 7000 && droppedAt <= 11500, qPrintable(QString::number(droppedAt)));
    QCOMPARE(log->entries, (QStringList{"drc 4 0 1", "drc 4 1 1"}));
}

QTEST_GUILESS_MAIN(tst_QErfcStackNodes)
#include "tst_qerfcstacknodes.moc"
