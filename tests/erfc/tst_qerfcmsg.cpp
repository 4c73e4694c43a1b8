// Frames byte for byte; requests and their completion, function objects,
// event connections.

#include "qerfccrypto.h"
#include "qerfceventconnect.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcfunctionasync.h"
#include "qerfcmsg.h"
#include "qerfcrequest.h"

#include <QtTest>

#include <atomic>

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

// Request 5 -> 7, function 16, request id 3, privilege 3, payload 01 02, and its answer.
const char* const exampleRequest = "1C58103C01021767";
const char* const exampleAnswer = "14701030DB09";

// XORs the payload with 0x55; refuses to decrypt when told to.
struct XorCipher : QErfcCrypto
{
    void encrypt(quint32, const QByteArray& plain, QByteArray* out) override
    {
        *out = plain;
        for (char& c : *out)
            c ^= 0x55;
    }
    bool decrypt(quint32 header, const QByteArray& raw, QByteArray* out) override
    {
        encrypt(header, raw, out);
        return !refuse;
    }
    bool refuse = false;
};

} // namespace

class tst_QErfcMsg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QErfc::registerMetaTypes(); }
    void decodeEncode_data();
    void decodeEncode();
    void decodeRefuses_data();
    void decodeRefuses();
    void crcErrorStillDecodes();
    void makeResponse_data();
    void makeResponse();
    void cipherAboveFifteen();
    void codeNames();
    void requestCompletion();
    void requestDeletedWhileFrameCarriesIt();
    void functions();
    void eventConnectStates();
    void waitForEvent();
    void noLostWakeups();
};

void tst_QErfcMsg::decodeEncode_data()
{
    // A frame, what it reads as (toString, "RX" rows as received), and for
    // routed frames the route address byte followed by the route bytes.
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("route");
    const QByteArray none;
    QTest::newRow("request") << hex(exampleRequest)
                             << "RX:REQ   ADDR= 5, FID= 16, RQID= 3, WIN=0, PRIV= 3, LEN= 2 [0102]" << none;
    QTest::newRow("answer") << hex(exampleAnswer)
                            << "RX:RSP   ADDR= 7, FID= 16, RQID= 3, WIN=0, RSPC= 0, LEN= 0 []" << none;
    QTest::newRow("wire code 11") << hex("1470103B1C48")
                                  << "RX:RSP   ADDR= 7, FID= 16, RQID= 3, WIN=0, RSPC=16, LEN= 0 []" << none;
    // The longest frames: 42 bytes, routed with three route bytes or not.
    QTest::newRow("routed, 42 bytes")
        << hex("1C5C103CC90B0C0D000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F7679")
        << "RX:REQ   ADDR= 5, FID= 16, RQID= 3, WIN=0, PRIV= 3, LEN=32 "
           "[000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F]"
        << hex("090B0C0D");
    QTest::newRow("unrouted, 42 bytes")
        << hex("1C58103C202122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F40414243EBDA")
        << "RX:REQ   ADDR= 5, FID= 16, RQID= 3, WIN=0, PRIV= 3, LEN=36 "
           "[202122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F40414243]"
        << none;
    QTest::newRow("event") << hex("1C5A9410AB48")
                           << "RX:REQ   ADDR= 5, EID= 20, RQID= 1, WIN=1, PRIV= 0, LEN= 0 []" << none;
    QTest::newRow("broadcast") << hex("FC5802020631")
                               << "TX:REQ#  ADDR=63, FID=  2, RQID= 0, WIN=0, PRIV= 0, LEN= 0 []" << none;
    QTest::newRow("no-response, retransmitted") << hex("1C5A64F7ABCDEF7BED")
        << "TX:REQ!$ ADDR= 7, FID=100, RQID=15, WIN=1, PRIV= 1, LEN= 3 [ABCDEF]" << none;
}

void tst_QErfcMsg::decodeEncode()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, text);
    QFETCH(QByteArray, route);
    QErfcMsg msg;
    QVERIFY(msg.decode(frame));
    QVERIFY(!msg.crcError());
    QCOMPARE(msg.toString(text.startsWith("RX")), text);
    QCOMPARE(msg.isRouted(), !route.isEmpty());
    if (msg.isRouted())
        QCOMPARE(char(msg.routeAddress()) + msg.routeBytes(), route);
    // Re-encoding gives the same bytes: a forwarded frame leaves unchanged.
    QCOMPARE(msg.encode().toHex(' '), frame.toHex(' '));
}

void tst_QErfcMsg::decodeRefuses_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("5 bytes") << hex("1470103000");
    QTest::newRow("43 bytes") << QByteArray(43, '\x01');
    // Routed frames whose route info or route bytes would lie in the CRC.
    QTest::newRow("routed, 6 bytes") << hex("1C5C100066CA");
    QTest::newRow("routed, 7 bytes, one route byte") << hex("1C5C100049A127");
}

void tst_QErfcMsg::decodeRefuses()
{
    QFETCH(QByteArray, frame);
    QErfcMsg msg;
    QVERIFY(msg.decode(hex(exampleRequest)));
    QVERIFY(!msg.decode(frame));
    QCOMPARE(msg.encode(), hex(exampleRequest)); // unchanged
}

void tst_QErfcMsg::crcErrorStillDecodes()
{
    QByteArray frame = hex(exampleRequest);
    frame[5] = char(0x03);
    QErfcMsg msg;
    QVERIFY(msg.decode(frame));
    QVERIFY(msg.crcError());
    QCOMPARE(msg.payload(), hex("0103"));
}

void tst_QErfcMsg::makeResponse_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer"); // empty: may not be answered
    QTest::newRow("example") << hex(exampleRequest) << hex(exampleAnswer);
    // Event bit, event id, window bit and request id carried over.
    QTest::newRow("event") << hex("1C5A9410AB48") << hex("14729410C3CA");
    QTest::newRow("a response") << hex(exampleAnswer) << QByteArray();
    QTest::newRow("to 63") << hex("FC58103C01027771") << QByteArray();
    QTest::newRow("from 63") << hex("1FF8103C01023DE7") << QByteArray();
    QTest::newRow("no-response") << hex("1C58103E0102D7C6") << QByteArray();
}

void tst_QErfcMsg::makeResponse()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QErfcMsg in;
    QVERIFY(in.decode(request));
    QErfcMsg out;
    QCOMPARE(in.makeResponse(&out), !answer.isEmpty());
    if (!answer.isEmpty())
        QCOMPARE(out.encode().toHex(' '), answer.toHex(' '));
}

void tst_QErfcMsg::cipherAboveFifteen()
{
    for (const quint8 functionId : {15, 16}) {
        const bool ciphered = functionId > 15;
        QErfcMsg msg;
        QVERIFY(msg.decode(hex(exampleRequest)));
        msg.setFunctionId(functionId);
        XorCipher cipher;
        const QByteArray frame = msg.encode(&cipher);
        QCOMPARE(frame.mid(4, 2), ciphered ? hex("5457") : hex("0102"));
        QVERIFY(msg.decode(frame, &cipher));
        QVERIFY(!msg.crcError());
        QCOMPARE(msg.payload(), hex("0102"));
        // A payload the cipher refuses counts as a CRC error.
        cipher.refuse = true;
        QVERIFY(msg.decode(frame, &cipher));
        QCOMPARE(msg.crcError(), ciphered);
    }
}

void tst_QErfcMsg::codeNames()
{
    QCOMPARE(QErfc::responseCodeString(9), QStringLiteral("UnknonwAddr"));
    QCOMPARE(QErfc::responseCodeString(11), QString()); // read as ConnectionError
    QCOMPARE(QErfc::responseCodeString(17), QString());
    QCOMPARE(QByteArray(QErfcException(99).what()), QByteArray("UnknownError"));
}

void tst_QErfcMsg::requestCompletion()
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

void tst_QErfcMsg::requestDeletedWhileFrameCarriesIt()
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

void tst_QErfcMsg::functions()
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

void tst_QErfcMsg::eventConnectStates()
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

void tst_QErfcMsg::waitForEvent()
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

void tst_QErfcMsg::noLostWakeups()
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

QTEST_GUILESS_MAIN(tst_QErfcMsg)
#include "tst_qerfcmsg.moc"
