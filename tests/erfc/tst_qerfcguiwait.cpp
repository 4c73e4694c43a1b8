// The GUI-wait marker, and the stack's release of a function during its call.

#include "qerfcfunction.h"
#include "qerfcguiwait.h"
#include "qerfcrequest.h"
#include "stackpair.h"

#include <QPointer>
#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <future>

class tst_QErfcGuiWait : public QObject
{
    Q_OBJECT
private slots:
    void marksNestOnGuiThreadOnly();
    void waiterGivesUpWhenGuiWaits();
    void releasedDuringItsCall();
};

void tst_QErfcGuiWait::marksNestOnGuiThreadOnly()
{
    QVERIFY(QErfcGuiWait::isGuiThread());
    QVERIFY(!QErfcGuiWait::isGuiThreadWaiting());
    {
        QErfcGuiWait outer;
        {
            QErfcGuiWait inner;
            QVERIFY(QErfcGuiWait::isGuiThreadWaiting());
        }
        QVERIFY(QErfcGuiWait::isGuiThreadWaiting());
    }
    QVERIFY(!QErfcGuiWait::isGuiThreadWaiting());
    // Another thread's mark means nothing.
    const bool counted = std::async(std::launch::async, [] {
        QErfcGuiWait other;
        return QErfcGuiWait::isGuiThread() || QErfcGuiWait::isGuiThreadWaiting();
    }).get();
    QVERIFY(!counted);
}

void tst_QErfcGuiWait::waiterGivesUpWhenGuiWaits()
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

void tst_QErfcGuiWait::releasedDuringItsCall()
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

QTEST_GUILESS_MAIN(tst_QErfcGuiWait)
#include "tst_qerfcguiwait.moc"
