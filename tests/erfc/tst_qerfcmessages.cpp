#include "qerfcexception.h"
#include "qerfcincomingevent.h"
#include "qerfcincomingrequest.h"
#include "qerfcincomingresponse.h"
#include "qerfcmsg.h"
#include "qerfcrequest_p.h"
#include "qerfcresponse.h"

#include <QtTest>

#include <atomic>

class tst_QErfcMessages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QErfc::registerMetaTypes(); }
    void requestDefaults();
    void responseCodeString_data();
    void responseCodeString();
    void noResponseRequestCannotWait();
    void waitWakesOnCompletion();
    void waitTimesOut();
    void completionThroughFrame();
    void requestDeletedWhileFrameCarriesIt();
    void exceptions();
    void valueCopies();
};

void tst_QErfcMessages::requestDefaults()
{
    QErfcRequest request;
    QCOMPARE(request.retries(), quint8(3));
    QCOMPARE(request.timeout(), quint8(250));
    QVERIFY(!request.noResponse());
    QVERIFY(request.response().isNull());
    QCOMPARE(request.response().request(), nullptr);

    request.setPayload(QStringLiteral("AB"));
    QCOMPARE(request.payload(), QByteArray::fromHex("4142"));
}

void tst_QErfcMessages::responseCodeString_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0 << "OK";
    QTest::newRow("9") << 9 << "UnknonwAddr";
    QTest::newRow("11") << 11 << "";
    QTest::newRow("12") << 12 << "PayloadError";
    QTest::newRow("16") << 16 << "ConnectionError";
    QTest::newRow("17") << 17 << "";
    QTest::newRow("-1") << -1 << "";
}

void tst_QErfcMessages::responseCodeString()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    QCOMPARE(QErfc::responseCodeString(code), name);
    if (code >= 0 && code <= 16) {
        QErfcIncomingResponse response(1, 2, QErfc::ResponseCode(code), QByteArray(), nullptr);
        QCOMPARE(response.responseCodeString(), name);
    }
}

void tst_QErfcMessages::noResponseRequestCannotWait()
{
    QErfcRequest request(7, 16);
    request.setNoResponse(true);
    try {
        request.waitForResponse();
        QFAIL("no exception");
    } catch (const QErfcException& e) {
        QCOMPARE(e.code(), int(QErfcException::NoResponseEnabled));
        QCOMPARE(QByteArray(e.what()), QByteArray("NoResponseEnabled"));
    }
    QVERIFY_EXCEPTION_THROWN(request.waitForResponse(10), QErfcException);
}

void tst_QErfcMessages::waitWakesOnCompletion()
{
    QErfcRequest request(7, 16);
    request.setUserData(42);
    QSignalSpy callSpy(&request, &QErfcRequest::callSignal);
    QSignalSpy finishedSpy(&request, &QErfcRequest::finished);

    std::atomic<bool> waiting{false};
    QErfcIncomingResponse seen;
    QThread* waiter = QThread::create([&] {
        waiting = true;
        seen = request.waitForResponse();
    });
    waiter->start();
    QTRY_VERIFY_WITH_TIMEOUT(waiting, 10000);
    QVERIFY(QErfcRequestPrivate::get(&request)->m_handle->complete(
        7, 16, QErfc::Busy, QByteArray::fromHex("0102")));
    const bool woke = waiter->wait(10000);
    if (!woke) // unblock it so that the test can end
        request.onResponse(QErfcIncomingResponse());
    waiter->wait();
    delete waiter;
    QVERIFY(woke);

    QVERIFY(!seen.isNull());
    QCOMPARE(seen.address(), quint8(7));
    QCOMPARE(seen.functionId(), quint8(16));
    QCOMPARE(seen.responseCode(), QErfc::Busy);
    QCOMPARE(seen.payload(), QByteArray::fromHex("0102"));
    QCOMPARE(seen.request(), &request);
    QCOMPARE(seen.userData(), QVariant(42));
    QCOMPARE(callSpy.count(), 1);
    QCOMPARE(finishedSpy.count(), 1);
    QCOMPARE(request.response().responseCode(), QErfc::Busy);
    QVERIFY(request.waitForResponse(0));
}

void tst_QErfcMessages::waitTimesOut()
{
    QErfcRequest request(7, 16);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!request.waitForResponse(50));
    QVERIFY(timer.elapsed() >= 25);
    QVERIFY(request.response().isNull());
}

void tst_QErfcMessages::completionThroughFrame()
{
    QErfcRequest request(7, 16);
    request.setUserData(QStringLiteral("tag"));
    QErfcMsg frame(&request, 5);
    QVERIFY(frame.completeRequest(7, 16, QErfc::OK, QByteArray::fromHex("AA")));
    QVERIFY(request.waitForResponse(0));
    QCOMPARE(request.response().payload(), QByteArray::fromHex("AA"));
    QCOMPARE(request.response().userData(), QVariant(QStringLiteral("tag")));

    // A new frame for the same request: the old answer is forgotten.
    QErfcMsg again(&request, 5);
    QVERIFY(!request.waitForResponse(0));
    QVERIFY(request.response().isNull());
}

void tst_QErfcMessages::requestDeletedWhileFrameCarriesIt()
{
    auto* request = new QErfcRequest(7, 16);
    request->setUserData(QStringLiteral("gone"));
    QErfcMsg frame(request, 5);
    const QErfcMsg copy(frame);
    QCOMPARE(frame.request(), request);
    delete request;

    QCOMPARE(frame.request(), nullptr);
    QCOMPARE(copy.request(), nullptr);
    QVERIFY(!frame.completeRequest(7, 16, QErfc::OK, QByteArray()));
    QVERIFY(!copy.completeRequest(7, 16, QErfc::ConnectionError, QByteArray()));
    QCOMPARE(frame.toIncomingResponse().request(), nullptr);
}

void tst_QErfcMessages::exceptions()
{
    const char* const names[] = {
        "StackEnabled", "StackDisabled", "InterfaceBindError", "InterfaceReleaseError",
        "RegisterIdError", "DescriptionError", "PayloadError", "AddressError",
        "FunctionIdError", "FunctionRegisterError", "EventIdError", "EventRegisterError",
        "EventNotRegistered", "BroadcastNotAllowed", "NoResponseEnabled", "TimeoutError",
    };
    for (int code = 0; code < 16; ++code) {
        const QErfcException original(code);
        QScopedPointer<QErfcException> copy(original.clone());
        QCOMPARE(copy->code(), code);
        QCOMPARE(QByteArray(copy->what()), QByteArray(names[code]));
        try {
            copy->raise();
            QFAIL("no exception");
        } catch (const QErfcException& e) {
            QCOMPARE(e.code(), code);
        }
    }
    QCOMPARE(QErfcException().code(), int(QErfcException::StackEnabled));
    QCOMPARE(QByteArray(QErfcException(99).what()), QByteArray("UnknownError"));
}

void tst_QErfcMessages::valueCopies()
{
    const QErfcIncomingEvent event(5, 20, QErfc::Operator, "xy");
    QErfcIncomingEvent eventCopy(event);
    QErfcIncomingEvent eventAssigned;
    QVERIFY(eventAssigned.isNull());
    eventAssigned = event;
    for (const QErfcIncomingEvent* e : {&eventCopy, &eventAssigned}) {
        QCOMPARE(e->address(), quint8(5));
        QCOMPARE(e->eventId(), quint8(20));
        QCOMPARE(e->privilege(), QErfc::Operator);
        QCOMPARE(e->payload(), QByteArray("xy"));
        QVERIFY(!e->isNull());
    }
    eventCopy.payload() = "changed";
    QCOMPARE(event.payload(), QByteArray("xy"));

    QErfcRequest request(9, 17);
    request.setUserData(7);
    const QErfcIncomingResponse response(9, 17, QErfc::Busy, "ab", &request);
    QErfcIncomingResponse responseCopy(response);
    QErfcIncomingResponse responseAssigned;
    QVERIFY(responseAssigned.isNull());
    responseAssigned = response;
    request.setUserData(8); // taken when the answer was made
    for (const QErfcIncomingResponse* r : {&responseCopy, &responseAssigned}) {
        QCOMPARE(r->address(), quint8(9));
        QCOMPARE(r->functionId(), quint8(17));
        QCOMPARE(r->responseCode(), QErfc::Busy);
        QCOMPARE(r->payload(), QByteArray("ab"));
        QCOMPARE(r->request(), &request);
        QCOMPARE(r->userData(), QVariant(7));
        QVERIFY(!r->isNull());
    }

    QErfcIncomingRequest incoming;
    incoming = QErfcIncomingRequest(3, 40, QErfc::Admin, "q");
    const QErfcIncomingRequest incomingCopy(incoming);
    QCOMPARE(incomingCopy.address(), quint8(3));
    QCOMPARE(incomingCopy.functionId(), quint8(40));
    QCOMPARE(incomingCopy.privilege(), QErfc::Admin);
    QCOMPARE(incomingCopy.payload(), QByteArray("q"));
}

QTEST_GUILESS_MAIN(tst_QErfcMessages)
#include "tst_qerfcmessages.moc"
