#include "qerfceventconnect.h"
#include "qerfcfunction.h"
#include "qerfcfunctionasync.h"

#include <QtTest>

#include <atomic>

class tst_QErfcEventConnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QErfc::registerMetaTypes(); }
    void functionHandlerSetsAnswer();
    void asyncFunctionAnswersOk();
    void stateSignals();
    void waitForEventTimesOut();
    void waitForEventFromOtherThread();
    void errorEndsWaits();
    void noLostWakeups();
};

void tst_QErfcEventConnect::functionHandlerSetsAnswer()
{
    QErfcFunction function(20, QStringLiteral("f"), QErfc::Admin);
    QErfcIncomingRequest request(5, 20, QErfc::Admin, "in");
    QErfcResponse response;
    // Without a handler.
    QCOMPARE(function.call(request, response), QErfc::FunctionError);
    QVERIFY(response.payload().isEmpty());

    QByteArray seenPayload;
    connect(&function, &QErfcFunction::callSignal,
            [&](QErfcIncomingRequest& in, QErfcResponse& out, QErfc::ResponseCode& code) {
                seenPayload = in.payload();
                out.setPayload(QByteArray::fromHex("0102"));
                code = QErfc::Busy;
            });
    QCOMPARE(function.call(request, response), QErfc::Busy);
    QCOMPARE(response.payload(), QByteArray::fromHex("0102"));
    QCOMPARE(seenPayload, QByteArray("in"));
}

void tst_QErfcEventConnect::asyncFunctionAnswersOk()
{
    QErfcFunctionAsync function(21, QStringLiteral("a"), QErfc::User);
    connect(&function, &QErfcFunction::callSignal,
            [](QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code) {
                code = QErfc::Busy;
            });
    QSignalSpy async(&function, &QErfcFunctionAsync::callSignalAsync);
    QErfcIncomingRequest request(5, 21, QErfc::Operator, "job");
    QErfcResponse response;
    QCOMPARE(function.call(request, response), QErfc::OK);
    QCOMPARE(async.count(), 1);
    const auto copy = async.at(0).at(0).value<QErfcIncomingRequest>();
    request.payload() = "changed";
    QCOMPARE(copy.address(), quint8(5));
    QCOMPARE(copy.functionId(), quint8(21));
    QCOMPARE(copy.privilege(), QErfc::Operator);
    QCOMPARE(copy.payload(), QByteArray("job"));
}

void tst_QErfcEventConnect::stateSignals()
{
    QErfcEventConnect connection(7, 20);
    QCOMPARE(connection.state(), QErfc::EventDisconnected);
    QStringList log;
    connect(&connection, &QErfcEventConnect::stateChangedSignal,
            [&](QErfc::EventState state) { log << QStringLiteral("state %1").arg(int(state)); });
    connect(&connection, &QErfcEventConnect::connected, [&] { log << "connected"; });
    connect(&connection, &QErfcEventConnect::disconnected, [&] { log << "disconnected"; });
    connect(&connection, &QErfcEventConnect::error, [&] { log << "error"; });

    connection.setState(QErfc::EventConnected);
    QCOMPARE(log, QStringList({"state 1", "connected"}));
    connection.setState(QErfc::EventConnected);
    QCOMPARE(log.size(), 2);
    QCOMPARE(connection.state(), QErfc::EventConnected);

    connection.setState(QErfc::EventError);
    connection.setState(QErfc::EventDisconnected);
    QCOMPARE(log, QStringList({"state 1", "connected", "state 2", "error", "state 0", "disconnected"}));
}

void tst_QErfcEventConnect::waitForEventTimesOut()
{
    QErfcEventConnect connection(7, 20);
    QSignalSpy events(&connection, &QErfcEventConnect::callSignal);
    connection.onEvent(QErfcIncomingEvent(7, 20, QErfc::User, "old"));
    QCOMPARE(events.count(), 1);
    QCOMPARE(connection.lastEvent().payload(), QByteArray("old"));

    // An event from before the wait does not count, and a time-out empties it.
    QVERIFY(!connection.waitForEvent(100));
    QVERIFY(connection.lastEvent().isNull());
}

void tst_QErfcEventConnect::waitForEventFromOtherThread()
{
    QErfcEventConnect connection(7, 20);
    std::atomic<bool> stop{false};
    // Delivers until told to stop, so that some event falls inside the wait.
    QThread* sender = QThread::create([&] {
        while (!stop) {
            connection.onEvent(QErfcIncomingEvent(7, 20, QErfc::Admin, "ev"));
            QThread::yieldCurrentThread();
        }
    });
    sender->start();
    const bool got = connection.waitForEvent(10000);
    stop = true;
    QVERIFY(sender->wait(10000));
    delete sender;
    QVERIFY(got);
    const QErfcIncomingEvent event = connection.lastEvent();
    QVERIFY(!event.isNull());
    QCOMPARE(event.address(), quint8(7));
    QCOMPARE(event.eventId(), quint8(20));
    QCOMPARE(event.privilege(), QErfc::Admin);
    QCOMPARE(event.payload(), QByteArray("ev"));
}

void tst_QErfcEventConnect::errorEndsWaits()
{
    QErfcEventConnect connection(7, 20);
    QVERIFY(!connection.waitForConnected(0));
    QVERIFY(connection.waitForDisconnected(0));
    connection.setState(QErfc::EventError);
    QElapsedTimer timer;
    timer.start();
    connection.waitForConnected();
    connection.waitForDisconnected();
    QVERIFY(connection.waitForConnected(5000));
    QVERIFY(connection.waitForDisconnected(5000));
    QVERIFY(timer.elapsed() < 2000);
}

void tst_QErfcEventConnect::noLostWakeups()
{
    // Another thread changes the state just as this one starts to wait; every
    // wait must end well before its bound.
    QErfcEventConnect connection(7, 20);
    QSemaphore go;
    std::atomic<bool> stop{false};
    QThread* changer = QThread::create([&] {
        bool connect = true;
        for (int i = 0;; ++i) {
            go.acquire();
            if (stop)
                return;
            // Lands at a different point of the waiter's start each time.
            QElapsedTimer spin;
            spin.start();
            while (spin.nsecsElapsed() < (i * 7 % 41) * 1000)
                ;
            connection.setState(connect ? QErfc::EventConnected : QErfc::EventDisconnected);
            connect = !connect;
        }
    });
    changer->start();
    const auto cleanup = qScopeGuard([&] {
        stop = true;
        go.release();
        changer->wait();
        delete changer;
    });

    // A lost wake-up shows as a wait that runs into its bound.
    QElapsedTimer timer;
    for (int i = 0; i < 300; ++i) {
        go.release();
        timer.start();
        QVERIFY(connection.waitForConnected(10000));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(i)));
        QCOMPARE(connection.state(), QErfc::EventConnected);
        go.release();
        timer.start();
        QVERIFY(connection.waitForDisconnected(10000));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(i)));
        QCOMPARE(connection.state(), QErfc::EventDisconnected);
    }
}

QTEST_GUILESS_MAIN(tst_QErfcEventConnect)
#include "tst_qerfceventconnect.moc"
