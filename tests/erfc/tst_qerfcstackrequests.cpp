#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "rawpeer.h"

#include <QtTest>

#include <QSemaphore>

#include <atomic>
#include <future>
#include <memory>
#include <vector>

// Sending requests from the PC to a raw node: windows, request ids,
// retransmission and the completion of requests.
namespace {

constexpr uchar Own = 1;
constexpr uchar Peer = 4;
constexpr uchar Fid = 20;
constexpr quint32 RunId = 0x11223344;

bool completed(QErfcRequest& r, int timeoutMs = 10000)
{
    return QTest::qWaitFor([&r] { return r.waitForResponse(0); }, timeoutMs);
}

// A request that stays outstanding for a long time unless answered.
void keepOutstanding(QErfcRequest& r)
{
    r.setRetries(255);
    r.setTimeout(250);
}

// Every transmission (first or repeated) of a request for `fid`.
RawPeer::Match anyTransmission(uchar fid)
{
    return [fid](const QErfcMsg& m) {
        return !m.isResponse() && m.functionId() == fid && m.destination() == Peer;
    };
}

// Fails when a request id comes twice while the window bit stays the same:
// the node would take the second for a repetition of the first.
bool idsUniquePerGeneration(const QList<QErfcMsg>& requests, QString* why)
{
    QSet<int> ids;
    bool bit = requests.isEmpty() ? false : requests.first().windowBit();
    for (const QErfcMsg& m : requests) {
        if (m.windowBit() != bit) {
            bit = m.windowBit();
            ids.clear();
        }
        if (ids.contains(m.requestId())) {
            *why = QStringLiteral("id %1 repeated with window bit %2").arg(m.requestId()).arg(bit);
            return false;
        }
        ids.insert(m.requestId());
    }
    return true;
}

} // namespace

class tst_QErfcStackRequests : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowDrainsBeforeNextGeneration();
    void windowLimits();
    void stackThreadSenderNeverWaits();
    void retransmission_data();
    void retransmission();
    void crcErrorAnswerResendsAtNextTick();
    void unexpectedResponses();
    void requestIdsAcrossReconnect();
    void pipelinedIdsNeverRepeatInGeneration();
    void destroyedRequestIsNotCompleted();
    void noResponseRequestTravelsAnswered();

private:
    std::unique_ptr<QErfcStack> stack;
    std::unique_ptr<RawPeer> peer;
};

void tst_QErfcStackRequests::init()
{
    stack.reset(new QErfcStack(Own));
    peer.reset(new RawPeer(Peer));
    QVERIFY(peer->attach(stack.get()));
    stack->enable();
}

void tst_QErfcStackRequests::cleanup()
{
    peer.reset();
    stack.reset();
}

void tst_QErfcStackRequests::windowDrainsBeforeNextGeneration()
{
    QVERIFY(peer->join(RunId, 2));
    QErfcRequest r1(Peer, Fid, "a"), r2(Peer, Fid, "b"), r3(Peer, Fid, "c");
    keepOutstanding(r1);
    keepOutstanding(r2);
    keepOutstanding(r3);
    const int from = peer->frames().size();
    QVERIFY(stack->send(&r1));
    QVERIFY(stack->send(&r2));

    std::atomic<bool> thirdSent{false};
    auto third = std::async(std::launch::async, [&] {
        const bool ok = stack->send(&r3);
        thirdSent = true;
        return ok;
    });

    const int i1 = peer->waitFor(RawPeer::isRequest(Fid), from);
    const int i2 = peer->waitFor(RawPeer::isRequest(Fid), i1 + 1);
    QVERIFY(i1 >= 0 && i2 >= 0);
    const QErfcMsg f1 = peer->frames().at(i1), f2 = peer->frames().at(i2);
    QCOMPARE(f1.payload(), QByteArray("a"));
    QCOMPARE(f1.requestId(), quint8(0));
    QCOMPARE(f2.requestId(), quint8(1));
    QCOMPARE(f2.windowBit(), f1.windowBit());

    // One answer frees a slot, but the third request waits for the whole window.
    peer->send(RawPeer::answer(f1, QErfc::OK, "A"));
    QVERIFY(completed(r1));
    QCOMPARE(r1.response().responseCode(), QErfc::OK);
    QCOMPARE(r1.response().address(), Peer);
    QCOMPARE(r1.response().payload(), QByteArray("A"));
    QVERIFY(peer->sync());
    QVERIFY(!thirdSent);
    QCOMPARE(peer->count(RawPeer::isRequest(Fid), i2 + 1), 0);

    peer->send(RawPeer::answer(f2, QErfc::OK));
    const int i3 = peer->waitFor(RawPeer::isRequest(Fid), i2 + 1);
    QVERIFY(i3 >= 0);
    const QErfcMsg f3 = peer->frames().at(i3);
    QCOMPARE(f3.payload(), QByteArray("c"));
    QCOMPARE(f3.requestId(), quint8(2));
    QVERIFY(f3.windowBit() != f1.windowBit());
    QVERIFY(third.get());
    peer->send(RawPeer::answer(f3, QErfc::Specific2, "C"));
    QVERIFY(completed(r3));
    QCOMPARE(r3.response().responseCode(), QErfc::Specific2);
}

void tst_QErfcStackRequests::windowLimits()
{
    QVERIFY(peer->join(RunId, 1));
    // A second node behind the same link that accepts no request at all.
    peer->hello(0x55667788, 0, QErfc::Application, 5);
    QTRY_VERIFY_WITH_TIMEOUT(stack->knownNodes().contains(5), 10000);

    QElapsedTimer timer;
    timer.start();
    QErfcRequest r0(5, Fid, "zero");
    QVERIFY(!stack->send(&r0));
    QVERIFY(timer.elapsed() < 2500);
    QVERIFY(r0.waitForResponse(0));
    QCOMPARE(r0.response().responseCode(), QErfc::ConnectionError);
    QCOMPARE(r0.response().address(), Own);
    QCOMPARE(r0.response().payload(), QByteArray("zero"));

    QErfcRequest r1(Peer, Fid, "1"), r2(Peer, Fid, "2"), r3(Peer, Fid, "3");
    keepOutstanding(r1);
    keepOutstanding(r3);
    const int from = peer->frames().size();
    QVERIFY(stack->send(&r1));

    // A full window is waited for 5000 ms at most.
    auto bounded = std::async(std::launch::async, [&] {
        QElapsedTimer t;
        t.start();
        const bool ok = stack->send(&r2);
        return ok ? -1 : t.elapsed();
    });
    const qint64 waited = bounded.get();
    QVERIFY2(waited >= 4500 && waited < 9000, qPrintable(QString::number(waited)));
    QCOMPARE(r2.response().responseCode(), QErfc::ConnectionError);
    QCOMPARE(r2.response().address(), Own);
    QCOMPARE(peer->count([](const QErfcMsg& m) { return m.payload() == "2"; }, from), 0);

    // A hello that widens the window lets a waiting sender go on.
    auto woken = std::async(std::launch::async, [&] { return stack->send(&r3); });
    const int retransmitted = peer->waitFor(
        [](const QErfcMsg& m) { return m.payload() == "1" && m.retransmit(); }, peer->frames().size());
    QVERIFY(retransmitted >= 0);
    timer.restart();
    peer->hello(RunId, 2);
    QVERIFY(peer->waitFor([](const QErfcMsg& m) { return m.payload() == "3"; }, from) >= 0);
    QVERIFY(woken.get());
    QVERIFY(timer.elapsed() < 4000);

    peer->goodbye();
    QVERIFY(completed(r1));
    QVERIFY(completed(r3));
    QCOMPARE(r3.response().responseCode(), QErfc::ConnectionError);
}

void tst_QErfcStackRequests::stackThreadSenderNeverWaits()
{
    QVERIFY(peer->join(RunId, 1));
    QErfcRequest r1(Peer, Fid, "1");
    keepOutstanding(r1);
    QVERIFY(stack->send(&r1));

    // A handler on the stack thread sends into the full window.
    QErfcRequest inner(Peer, Fid, "inner");
    std::atomic<int> sent{-1};
    std::atomic<qint64> took{-1};
    QErfcFunction f(30, "sender", QErfc::User);
    connect(&f, &QErfcFunction::callSignal, &f,
            [&](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                QElapsedTimer t;
                t.start();
                sent = stack->send(&inner) ? 1 : 0;
                took = t.elapsed();
                code = QErfc::OK;
            },
            Qt::DirectConnection);
    stack->registerFunction(&f);

    QErfcMsg answer;
    QVERIFY(peer->call(30, QByteArray(), &answer));
    QCOMPARE(answer.responseCode(), QErfc::OK);
    QCOMPARE(sent.load(), 0);
    QVERIFY2(took < 2500, qPrintable(QString::number(took)));
    QCOMPARE(inner.response().responseCode(), QErfc::ConnectionError);
    stack->unregisterFunction(&f);
}

void tst_QErfcStackRequests::retransmission_data()
{
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");
    QTest::addColumn<int>("maxRetriesDelta");

    QTest::newRow("3 retries") << 3 << 990 << 4000 << 1;
    QTest::newRow("no retry") << 0 << 245 << 2500 << 0;
}

void tst_QErfcStackRequests::retransmission()
{
    QFETCH(int, retries);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    QFETCH(int, maxRetriesDelta);

    QVERIFY(peer->join(RunId));
    const QErfcStatistics before = stack->statistics();
    QErfcRequest r(Peer, Fid, QByteArray::fromHex("0102"));
    r.setRetries(quint8(retries));
    r.setTimeout(250);
    QElapsedTimer timer;
    std::atomic<qint64> doneAt{-1};
    connect(&r, &QErfcRequest::finished, &r, [&] { doneAt = timer.elapsed(); }, Qt::DirectConnection);
    const int from = peer->frames().size();
    timer.start();
    QVERIFY(stack->send(&r));
    QVERIFY(completed(r));
    QVERIFY2(doneAt >= minMs && doneAt <= maxMs, qPrintable(QString::number(doneAt)));
    QCOMPARE(r.response().responseCode(), QErfc::ConnectionError);
    QCOMPARE(r.response().address(), Own);
    QCOMPARE(r.response().functionId(), Fid);
    QVERIFY(r.response().payload().isEmpty());

    // Destination 4, source 1, request, function 20, id 0, window bit 0; the
    // repetitions differ only in the retransmit bit.
    QVERIFY(peer->sync());
    QStringList sent;
    for (int i = from; i < peer->frames().size(); ++i) {
        if (anyTransmission(Fid)(peer->frames().at(i)))
            sent << QString::fromLatin1(peer->rawFrames().at(i).left(6).toHex());
    }
    QStringList expected{"101814000102"};
    for (int i = 0; i < retries; ++i)
        expected << "101814010102";
    QCOMPARE(sent, expected);

    const QErfcStatistics after = stack->statistics();
    QCOMPARE(after.retries - before.retries, retries);
    QCOMPARE(after.maxRetries - before.maxRetries, maxRetriesDelta);
}

void tst_QErfcStackRequests::crcErrorAnswerResendsAtNextTick()
{
    QVERIFY(peer->join(RunId));
    const QErfcStatistics before = stack->statistics();
    QErfcRequest r(Peer, Fid, "x");
    r.setRetries(5);
    r.setTimeout(250);
    QElapsedTimer timer;
    timer.start();
    int from = peer->frames().size();
    QVERIFY(stack->send(&r));
    // Each transmission is reported damaged; without the early resend the six
    // transmissions would take at least 1500 ms.
    for (int n = 0; n < 6; ++n) {
        const int i = peer->waitFor(anyTransmission(Fid), from);
        QVERIFY(i >= 0);
        QCOMPARE(peer->frames().at(i).retransmit(), n > 0);
        peer->send(RawPeer::answer(peer->frames().at(i), QErfc::CrcError));
        from = i + 1;
    }
    QVERIFY(completed(r));
    QVERIFY2(timer.elapsed() < 1200, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(r.response().responseCode(), QErfc::ConnectionError);
    QCOMPARE(stack->statistics().retries - before.retries, 5);
    QCOMPARE(stack->statistics().unexpResponse, before.unexpResponse);
}

void tst_QErfcStackRequests::unexpectedResponses()
{
    QVERIFY(peer->join(RunId));
    QErfcRequest r1(Peer, Fid, "1"), r2(Peer, Fid, "2");
    keepOutstanding(r2);
    int from = peer->frames().size();
    QVERIFY(stack->send(&r1));
    int i = peer->waitFor(RawPeer::isRequest(Fid), from);
    QVERIFY(i >= 0);
    const QErfcMsg f1 = peer->frames().at(i);
    peer->send(RawPeer::answer(f1, QErfc::OK));
    QVERIFY(completed(r1));

    QVERIFY(stack->send(&r2));
    i = peer->waitFor(RawPeer::isRequest(Fid), i + 1);
    QVERIFY(i >= 0);
    const QErfcMsg f2 = peer->frames().at(i);
    QCOMPARE(f2.requestId(), quint8(1));
    QVERIFY(f2.windowBit() != f1.windowBit());

    const quint16 unexpBefore = stack->statistics().unexpResponse;
    QErfcMsg oldGeneration = RawPeer::answer(f2, QErfc::OK, "late");
    oldGeneration.setWindowBit(f1.windowBit());
    QErfcMsg otherFunction = RawPeer::answer(f2, QErfc::OK, "other");
    otherFunction.setFunctionId(Fid + 1);
    QErfcMsg otherId = RawPeer::answer(f2, QErfc::OK, "id");
    otherId.setRequestId(9);
    QErfcMsg event = RawPeer::answer(f2, QErfc::OK, "event");
    event.setEvent(true);
    for (const QErfcMsg& m : {oldGeneration, otherFunction, otherId, event})
        peer->send(m);
    QVERIFY(peer->sync());
    QCOMPARE(stack->statistics().unexpResponse - unexpBefore, 4);
    QVERIFY(!r2.waitForResponse(0));

    peer->send(RawPeer::answer(f2, QErfc::OK, "right"));
    QVERIFY(completed(r2));
    QCOMPARE(r2.response().payload(), QByteArray("right"));
}

void tst_QErfcStackRequests::requestIdsAcrossReconnect()
{
    QVERIFY(peer->join(RunId));
    // Three answered requests: ids 0, 1, 2, each in a generation of its own.
    int from = peer->frames().size();
    bool lastBit = false;
    for (int n = 0; n < 3; ++n) {
        QErfcRequest r(Peer, Fid);
        QVERIFY(stack->send(&r));
        const int i = peer->waitFor(RawPeer::isRequest(Fid), from);
        QVERIFY(i >= 0);
        QCOMPARE(peer->frames().at(i).requestId(), quint8(n));
        lastBit = peer->frames().at(i).windowBit();
        peer->send(RawPeer::answer(peer->frames().at(i), QErfc::OK));
        QVERIFY(completed(r));
        from = i + 1;
    }
    peer->goodbye();
    QTRY_VERIFY_WITH_TIMEOUT(stack->knownNodes().isEmpty(), 10000);
    QVERIFY(peer->join(RunId));

    // The new record continues with the saved id and window bit.
    QErfcRequest next(Peer, Fid);
    QVERIFY(stack->send(&next));
    int i = peer->waitFor(RawPeer::isRequest(Fid), from);
    QVERIFY(i >= 0);
    QCOMPARE(peer->frames().at(i).requestId(), quint8(3));
    QCOMPARE(peer->frames().at(i).windowBit(), !lastBit);
    peer->send(RawPeer::answer(peer->frames().at(i), QErfc::OK));
    QVERIFY(completed(next));

    // Dropped while requests are outstanding, then heard again: the ids
    // taken before the drop must not come again in the same generation.
    std::vector<std::unique_ptr<QErfcRequest>> requests;
    auto sendOutstanding = [&](int n) {
        for (int k = 0; k < n; ++k) {
            requests.emplace_back(new QErfcRequest(Peer, Fid));
            keepOutstanding(*requests.back());
            if (!stack->send(requests.back().get()))
                return false;
        }
        return true;
    };
    QVERIFY(sendOutstanding(5));
    peer->goodbye();
    QTRY_VERIFY_WITH_TIMEOUT(stack->knownNodes().isEmpty(), 10000);
    QVERIFY(peer->join(RunId));
    QVERIFY(sendOutstanding(16));
    QVERIFY(peer->sync());

    QList<QErfcMsg> firsts;
    for (int k = from; k < peer->frames().size(); ++k) {
        if (RawPeer::isRequest(Fid)(peer->frames().at(k)))
            firsts << peer->frames().at(k);
    }
    QCOMPARE(firsts.size(), 1 + 5 + 16);
    for (int k = 0; k < firsts.size(); ++k)
        QCOMPARE(firsts.at(k).requestId(), quint8((3 + k) % 16));
    QString why;
    QVERIFY2(idsUniquePerGeneration(firsts, &why), qPrintable(why));
    peer->goodbye();
    for (auto& r : requests)
        QVERIFY(completed(*r));
}

void tst_QErfcStackRequests::pipelinedIdsNeverRepeatInGeneration()
{
    QVERIFY(peer->join(RunId, 16));
    std::vector<std::unique_ptr<QErfcRequest>> requests;
    for (int n = 0; n < 20; ++n) {
        requests.emplace_back(new QErfcRequest(Peer, Fid, QByteArray(1, char(n))));
        requests.back()->setRetries(40);
        requests.back()->setTimeout(250);
    }
    // Each request goes once the node has seen the one before, so that the
    // window never fills up.
    QSemaphore seen;
    auto sender = std::async(std::launch::async, [&] {
        bool ok = true;
        for (size_t n = 0; n < requests.size(); ++n) {
            if (n > 0 && !seen.tryAcquire(1, 10000))
                return false;
            ok = stack->send(requests[n].get()) && ok;
        }
        return ok;
    });

    // The node keeps the newest request unanswered, so the window never
    // drains while requests keep coming; it answers everything once the PC
    // stops sending.
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
            while (outstanding.size() > 1) {
                peer->send(RawPeer::answer(outstanding.takeFirst(), QErfc::OK));
                ++answered;
            }
        } else {
            for (const QErfcMsg& m : qAsConst(outstanding))
                peer->send(RawPeer::answer(m, QErfc::OK));
            answered += outstanding.size();
            outstanding.clear();
        }
    }
    QVERIFY(sender.get());
    QCOMPARE(firsts.size(), 20);
    for (int n = 0; n < 20; ++n) {
        QCOMPARE(firsts.at(n).requestId(), quint8(n % 16));
        QCOMPARE(firsts.at(n).payload(), QByteArray(1, char(n)));
        QVERIFY(completed(*requests[size_t(n)]));
        QCOMPARE(requests[size_t(n)]->response().responseCode(), QErfc::OK);
    }
    QString why;
    QVERIFY2(idsUniquePerGeneration(firsts, &why), qPrintable(why));
    QVERIFY(firsts.at(16).windowBit() != firsts.at(15).windowBit());
}

void tst_QErfcStackRequests::destroyedRequestIsNotCompleted()
{
    QVERIFY(peer->join(RunId));
    int from = peer->frames().size();
    // Answered after its request is gone.
    auto* answered = new QErfcRequest(Peer, Fid, "answered");
    QVERIFY(stack->send(answered));
    const int i = peer->waitFor(RawPeer::isRequest(Fid), from);
    QVERIFY(i >= 0);
    delete answered;
    peer->send(RawPeer::answer(peer->frames().at(i), QErfc::OK));
    QVERIFY(peer->sync());

    // Given up after its request is gone.
    const quint16 maxRetries = stack->statistics().maxRetries;
    auto* expired = new QErfcRequest(Peer, Fid, "expired");
    expired->setRetries(1);
    expired->setTimeout(10);
    QVERIFY(stack->send(expired));
    delete expired;
    QTRY_COMPARE_WITH_TIMEOUT(stack->statistics().maxRetries, quint16(maxRetries + 1), 10000);

    // Dropped with its node after its request is gone.
    auto* dropped = new QErfcRequest(Peer, Fid, "dropped");
    keepOutstanding(*dropped);
    QVERIFY(stack->send(dropped));
    delete dropped;
    peer->goodbye();
    QTRY_VERIFY_WITH_TIMEOUT(stack->knownNodes().isEmpty(), 10000);

    QVERIFY(peer->join(RunId));
    QErfcRequest alive(Peer, Fid, "alive");
    from = peer->frames().size();
    QVERIFY(stack->send(&alive));
    const int j = peer->waitFor([](const QErfcMsg& m) { return m.payload() == "alive"; }, from);
    QVERIFY(j >= 0);
    peer->send(RawPeer::answer(peer->frames().at(j), QErfc::OK, "ok"));
    QVERIFY(completed(alive));
    QCOMPARE(alive.response().payload(), QByteArray("ok"));
}

void tst_QErfcStackRequests::noResponseRequestTravelsAnswered()
{
    QVERIFY(peer->join(RunId));
    stack->setPrivilege(QErfc::Developer);
    QErfcRequest quiet(Peer, Fid, "q");
    quiet.setNoResponse(true);
    int from = peer->frames().size();
    QVERIFY(stack->send(&quiet));
    int i = peer->waitFor(RawPeer::isRequest(Fid), from);
    QVERIFY(i >= 0);
    // No-response bit clear, privilege 3 in bits 2..3.
    QCOMPARE(peer->rawFrames().at(i).left(4).toHex(), QByteArray("1018140c"));
    const bool bit = peer->frames().at(i).windowBit();
    peer->send(RawPeer::answer(peer->frames().at(i), QErfc::OK, "ignored"));
    QVERIFY(peer->sync());
    QVERIFY(quiet.response().isNull());

    // The answer drained the window.
    QErfcRequest next(Peer, Fid, "n");
    QVERIFY(stack->send(&next));
    i = peer->waitFor(RawPeer::isRequest(Fid), i + 1);
    QVERIFY(i >= 0);
    QCOMPARE(peer->frames().at(i).windowBit(), !bit);
    QCOMPARE(peer->frames().at(i).requestId(), quint8(1));
    peer->send(RawPeer::answer(peer->frames().at(i), QErfc::OK));
    QVERIFY(completed(next));
}

QTEST_GUILESS_MAIN(tst_QErfcStackRequests)
#include "tst_qerfcstackrequests.moc"
