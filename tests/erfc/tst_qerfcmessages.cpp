#include "qerfceventconnect.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcfunctionasync.h"
#include "qerfcmsg.h"
#include "qerfcrequest.h"

#include <QtTest>

#include <atomic>

// Requests and their completion, function objects, event connections.
class tst_QErfcMessages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QErfc::registerMetaTypes(); }
    void codeNames();
    void requestCompletion();
    void requestDeletedWhileFrameCarriesIt();
    void functions();
    void eventConnectStates();
    void waitForEvent();
    void noLostWakeups();
};

void tst_QErfcMessages::codeNames()
{
    QCOMPARE(QErfc::responseCodeString(9), QStringLiteral("UnknonwAddr"));
    QCOMPARE(QErfc::responseCodeString(11), QString()); // read as ConnectionError
    QCOMPARE(QErfc::responseCodeString(16), QStringLiteral("ConnectionError"));
    QCOMPARE(QErfc::responseCodeString(17), QString());
    QCOMPARE(QByteArray(QErfcException(99).what()), QByteArray("UnknownError"));
}

void tst_QErfcMessages::requestCompletion()
{
    QErfcRequest request(7, 16);
    request.setUserData(42);
    QSignalSpy finished(&request, &QErfcRequest::finished);
    QErfcMsg frame(&request, 5);
    QVERIFY(!request.waitForResponse(50));

    // Completed from this thread while another one waits.
    std::atomic<bool> waiting{false};
    bool woke = false;
    QScopedPointer<QThread> waiter(QThread::create([&] {
        waiting = true;
        woke = request.waitForResponse(10000);
    }));
    waiter->start();
    QTRY_VERIFY_WITH_TIMEOUT(waiting, 10000);
    QVERIFY(frame.completeRequest(7, 16, QErfc::Busy, "ab"));
    waiter->wait();
    QVERIFY(woke);
    const QErfcIncomingResponse seen = request.response();
    QCOMPARE(seen.responseCode(), QErfc::Busy);
    QCOMPARE(seen.payload(), QByteArray("ab"));
    QCOMPARE(seen.request(), &request);
    QCOMPARE(seen.userData(), QVariant(42));
    QCOMPARE(finished.count(), 1);

    // A new frame for the same request forgets the old answer.
    QErfcMsg again(&request, 5);
    QVERIFY(!request.waitForResponse(0));

    request.setNoResponse(true);
    QVERIFY_EXCEPTION_THROWN(request.waitForResponse(), QErfcException);
}

void tst_QErfcMessages::requestDeletedWhileFrameCarriesIt()
{
    auto* request = new QErfcRequest(7, 16);
    QErfcMsg frame(request, 5);
    const QErfcMsg copy(frame);
    delete request;
    QCOMPARE(frame.request(), nullptr);
    QCOMPARE(copy.request(), nullptr);
    QVERIFY(!frame.completeRequest(7, 16, QErfc::OK, QByteArray()));
    QVERIFY(!copy.completeRequest(7, 16, QErfc::ConnectionError, QByteArray()));
}

void tst_QErfcMessages::functions()
{
    QErfcIncomingRequest job(5, 21, QErfc::Operator, "job");
    QErfcResponse response;
    QErfcFunction plain(20, QStringLiteral("f"), QErfc::Admin);
    QCOMPARE(plain.call(job, response), QErfc::FunctionError); // no handler

    // An asynchronous function answers OK at once and hands on a copy of the request.
    QErfcFunctionAsync async(21, QStringLiteral("a"), QErfc::User);
    QSignalSpy later(&async, &QErfcFunctionAsync::callSignalAsync);
    QCOMPARE(async.call(job, response), QErfc::OK);
    job.payload() = "changed";
    QCOMPARE(later.count(), 1);
    QCOMPARE(later.at(0).at(0).value<QErfcIncomingRequest>().payload(), QByteArray("job"));
}

void tst_QErfcMessages::eventConnectStates()
{
    QErfcEventConnect connection(7, 20);
    QStringList log;
    connect(&connection, &QErfcEventConnect::stateChangedSignal,
            [&](QErfc::EventState state) { log << QString::number(int(state)); });
    connect(&connection, &QErfcEventConnect::connected, [&] { log << "connected"; });
    connect(&connection, &QErfcEventConnect::disconnected, [&] { log << "disconnected"; });
    connect(&connection, &QErfcEventConnect::error, [&] { log << "error"; });
    QVERIFY(!connection.waitForConnected(0));
    connection.setState(QErfc::EventConnected);
    connection.setState(QErfc::EventConnected);
    connection.setState(QErfc::EventError);
    // Error ends both waits.
    QVERIFY(connection.waitForConnected(5000));
    QVERIFY(connection.waitForDisconnected(5000));
    connection.setState(QErfc::EventDisconnected);
    QCOMPARE(log, QStringList({"1", "connected", "2", "error", "0", "disconnected"}));
}

void tst_QErfcMessages::waitForEvent()
{
    QErfcEventConnect connection(7, 20);
    // An event from before the wait does not count, and a time-out empties it.
    connection.onEvent(QErfcIncomingEvent(7, 20, QErfc::User, "old"));
    QVERIFY(!connection.waitForEvent(100));
    QVERIFY(connection.lastEvent().isNull());

    std::atomic<bool> stop{false};
    // Delivers until told to stop, so that some event falls inside the wait.
    QScopedPointer<QThread> sender(QThread::create([&] {
        while (!stop) {
            connection.onEvent(QErfcIncomingEvent(7, 20, QErfc::Admin, "ev"));
            QThread::yieldCurrentThread();
        }
    }));
    sender->start();
    const bool got = connection.waitForEvent(10000);
    stop = true;
    sender->wait();
    QVERIFY(got);
    QCOMPARE(connection.lastEvent().payload(), QByteArray("ev"));
}

void tst_QErfcMessages::noLostWakeups()
{
    // Another thread changes the state just as this one starts to wait; a
    // lost wake-up shows as a wait that runs into its bound.
    QErfcEventConnect connection(7, 20);
    QSemaphore go;
    std::atomic<bool> stop{false};
    QScopedPointer<QThread> changer(QThread::create([&] {
        for (int i = 0;; ++i) {
            go.acquire();
            if (stop)
                return;
            QElapsedTimer spin; // lands at a different point of the waiter's start each time
            spin.start();
            while (spin.nsecsElapsed() < (i * 7 % 41) * 1000)
                ;
            connection.setState(i % 2 ? QErfc::EventDisconnected : QErfc::EventConnected);
        }
    }));
    changer->start();
    const auto cleanup = qScopeGuard([&] {
        stop = true;
        go.release();
        changer->wait();
    });
    QElapsedTimer timer;
    for (int i = 0; i < 300; ++i) {
        go.release();
        timer.start();
        QVERIFY(connection.waitForConnected(10000));
        go.release();
        QVERIFY(connection.waitForDisconnected(10000));
        QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(i)));
    }
}

QTEST_GUILESS_MAIN(tst_QErfcMessages)
#include "tst_qerfcmessages.moc"
