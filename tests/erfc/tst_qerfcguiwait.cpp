// The GUI-wait marker, and the stack's unregistration that waits for a call
// in progress under it.

#include "qerfcfunction.h"
#include "qerfcguiwait.h"
#include "qerfcrequest.h"
#include "stackpair.h"

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
    void unregisterWaitsForCallInProgress();
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

void tst_QErfcGuiWait::unregisterWaitsForCallInProgress()
{
    StackPair pair;
    QVERIFY(pair.connectAndDiscover());
    QErfcFunction function(20, QStringLiteral("Slow"), QErfc::User);
    std::atomic<bool> entered{false};
    std::atomic<bool> left{false};
    // The call ends only once this thread waits for it in the unregistration.
    connect(&function, &QErfcFunction::callSignal, &function,
            [&](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                entered = true;
                QDeadlineTimer deadline(20000);
                while (!QErfcGuiWait::isGuiThreadWaiting() && !deadline.hasExpired())
                    QThread::msleep(1);
                code = QErfc::OK;
                left = true;
            },
            Qt::DirectConnection);
    pair.a->registerFunction(&function);
    std::future<int> caller = std::async(std::launch::async, [&pair] {
        QErfcRequest request(pair.a->address(), 20);
        pair.b->send(&request);
        return request.waitForResponse(20000) ? int(request.response().responseCode()) : -1;
    });
    QTRY_VERIFY(entered);
    pair.a->unregisterFunction(&function);
    QVERIFY(left);
    QVERIFY(!pair.a->functionIds().contains(20));
    QCOMPARE(caller.get(), int(QErfc::OK));
}

QTEST_GUILESS_MAIN(tst_QErfcGuiWait)
#include "tst_qerfcguiwait.moc"
