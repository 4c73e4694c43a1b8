#include "qerfcdatagram.h"
#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfceventconnect.h"
#include "qerfcfunction.h"
#include "qerfcguard.h"
#include "qerfcguiwait.h"
#include "qerfcrequest.h"
#include "stackpair.h"

#include <QtTest>

#include <QPointer>
#include <QSemaphore>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>

namespace {

constexpr uchar A = 1, B = 2, Absent = 30;
constexpr uchar Echo = 0;

} // namespace

class tst_QErfcGuard : public QObject
{
    Q_OBJECT

private slots:
    void closeOnOwnThreadDoesNotWait();
    void closeWaitsForOtherThread();
    void requestDeletedFromItsSignals_data();
    void requestDeletedFromItsSignals();
    void offeredDestroyedWhileLookedUp();
    void marksNestOnGuiThreadOnly();
    void waiterGivesUpWhenGuiWaits();
    void releasedDuringItsCall();
};

// The object deleted from inside its own call: close returns at once and the
// call, back from the signal, sees the guard closed; nothing enters later.
void tst_QErfcGuard::closeOnOwnThreadDoesNotWait()
{
    auto guard = std::make_shared<QErfcGuard>();
    {
        QErfcGuard::Scope scope(guard);
        QVERIFY(bool(scope));
        guard->close(); // would never return if it waited for this thread
        QVERIFY(!scope.stillOpen());
    }
    QErfcGuard::Scope later(guard);
    QVERIFY(!later);
    QErfcHandle<int> handle(nullptr, guard);
    QVERIFY(!handle.call([](int*) { QFAIL("called after close"); }));
}

// A call in progress on another thread holds off the destructor until it
// leaves; the call itself runs without any lock.
void tst_QErfcGuard::closeWaitsForOtherThread()
{
    auto guard = std::make_shared<QErfcGuard>();
    QSemaphore inside, release;
    std::atomic<bool> left{false};
    std::unique_ptr<QThread> caller(QThread::create([&] {
        QErfcGuard::Scope scope(guard);
        inside.release();
        release.acquire();
        QThread::msleep(50); // the closing thread is blocked meanwhile
        left = true;
    }));
    caller->start();
    QVERIFY(inside.tryAcquire(1, 10000));
    release.release();
    guard->close();
    QVERIFY(left.load());
    QVERIFY(caller->wait(10000));
}

void tst_QErfcGuard::requestDeletedFromItsSignals_data()
{
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("onCallSignal");
    // Not sendable: completed inside send() on this thread; answered:
    // completed and deleted on the stack thread.
    QTest::newRow("connection error, finished") << false << false;
    QTest::newRow("answer, callSignal") << true << true;
}

// The ordinary Qt idiom, a slot that deletes its sender, on whichever thread
// completes the request; the stack keeps working afterwards.
void tst_QErfcGuard::requestDeletedFromItsSignals()
{
    QFETCH(bool, answered);
    QFETCH(bool, onCallSignal);
    StackPair pair(A, B);
    QVERIFY(pair.connectAndDiscover());

    std::atomic<int> deleted{0};
    auto* request = new QErfcRequest(answered ? B : Absent, Echo, QByteArray("x"));
    const auto deleteIt = [request, &deleted] {
        delete request;
        ++deleted;
    };
    if (onCallSignal)
        connect(request, &QErfcRequest::callSignal, request, deleteIt, Qt::DirectConnection);
    else
        connect(request, &QErfcRequest::finished, request, deleteIt, Qt::DirectConnection);
    pair.a->send(request);
    QTRY_COMPARE_WITH_TIMEOUT(deleted.load(), 1, 10000);

    QErfcRequest next(B, Echo, QByteArray("y"));
    QVERIFY(pair.a->send(&next));
    QVERIFY(next.waitForResponse(10000));
    QCOMPARE(next.response().responseCode(), QErfc::OK);
    pair.release(); // returns: the stack thread is not stuck
}

// A function and an event destroyed while registered, as the stack thread
// looks them up for another node's calls and subscriptions: they leave the
// tables before their data goes.
void tst_QErfcGuard::offeredDestroyedWhileLookedUp()
{
    StackPair pair(A, B);
    QVERIFY(pair.connectAndDiscover());
    std::atomic<bool> running{true};
    std::unique_ptr<QThread> caller(QThread::create([&] {
        while (running) {
            QErfcDatagram call(B, 20, QByteArray("x"));
            QErfcDatagram subscribe(B, 5, QByteArray::fromHex("0214010000"));
            pair.a->send(&call);
            pair.a->send(&subscribe);
            QThread::usleep(50);
        }
    }));
    caller->start();
    for (int round = 0; round < 200; ++round) {
        auto* function = new QErfcFunction(20, QStringLiteral("f"), QErfc::User);
        auto* event = new QErfcEvent(20, QStringLiteral("e"), QErfc::User);
        pair.b->registerFunction(function);
        pair.b->registerEvent(event);
        QThread::usleep(round % 7 * 70);
        delete function;
        delete event;
    }
    running = false;
    QVERIFY(caller->wait(10000));
    QVERIFY(pair.b->functionIds().size() < 16 && pair.b->eventIds().isEmpty());
}

// The GUI-wait marker, and the stack's release of a function during its call.
void tst_QErfcGuard::marksNestOnGuiThreadOnly()
{
    QVERIFY(QErfcGuiWait::isGuiThread());
    {
        QErfcGuiWait outer;
        { QErfcGuiWait inner; }
        QVERIFY(QErfcGuiWait::isGuiThreadWaiting()); // the inner mark left the outer one standing
    }
    QVERIFY(!QErfcGuiWait::isGuiThreadWaiting());
    // Another thread's mark means nothing.
    const bool counted = std::async(std::launch::async, [] {
        QErfcGuiWait other;
        return QErfcGuiWait::isGuiThread() || QErfcGuiWait::isGuiThreadWaiting();
    }).get();
    QVERIFY(!counted);
}

void tst_QErfcGuard::waiterGivesUpWhenGuiWaits()
{
    std::atomic<bool> done{false};
    const auto waiter = [&done](int ms) {
        return std::async(std::launch::async, [&done, ms] {
            return QErfcGuiWait::waitForGuiThread(QDeadlineTimer(ms), [&done] { return done.load(); });
        });
    };
    // Done and woken: true.
    std::future<bool> first = waiter(30000);
    done = true;
    QErfcGuiWait::wakeWaiters();
    QVERIFY(first.get());
    // The GUI thread starts waiting: false, long before the deadline.
    done = false;
    std::future<bool> second = waiter(30000);
    {
        QErfcGuiWait mark;
        QCOMPARE(second.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        QVERIFY(!second.get());
    }
    // Nobody comes: false at the deadline.
    QVERIFY(!waiter(20).get());
}

void tst_QErfcGuard::releasedDuringItsCall()
{
    StackPair pair;
    QVERIFY(pair.connectAndDiscover());
    // Not being called: deleted at once.
    QPointer<QErfcFunction> idle(new QErfcFunction(21, QStringLiteral("Idle"), QErfc::User));
    pair.a->registerFunction(idle);
    pair.a->releaseFunction(idle);
    QVERIFY(!idle);

    // Being called: the release returns at once, the function outlives the call.
    QPointer<QErfcFunction> busy(new QErfcFunction(20, QStringLiteral("Slow"), QErfc::User));
    std::atomic<bool> entered{false};
    QSemaphore release;
    connect(busy, &QErfcFunction::callSignal, busy,
            [&](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                entered = true;
                release.tryAcquire(1, 20000);
                code = QErfc::OK;
            },
            Qt::DirectConnection);
    pair.a->registerFunction(busy);
    std::future<int> caller = std::async(std::launch::async, [&pair] {
        QErfcRequest request(pair.a->address(), 20);
        pair.b->send(&request);
        return request.waitForResponse(20000) ? int(request.response().responseCode()) : -1;
    });
    QTRY_VERIFY(entered);
    pair.a->releaseFunction(busy);
    QVERIFY(busy);
    QVERIFY(!pair.a->functionIds().contains(20));
    release.release();
    QCOMPARE(caller.get(), int(QErfc::OK));
    QTRY_VERIFY(!busy);
}

QTEST_GUILESS_MAIN(tst_QErfcGuard)
#include "tst_qerfcguard.moc"
