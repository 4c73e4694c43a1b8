// erfc.send and erfc.sendBlocking against real stacks over loopback TCP: a
// second stack with a recording test function, and a raw frame peer.

#include "jserfcrequest_p.h"
#include "jsqerfc.h"
#include "jsrte.h"
#include "jsrtetype.h"
#include "qerfcfunction.h"
#include "rawpeer.h"
#include "stackpair.h"

#include <QMutex>
#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

constexpr uchar Own = 1;  // the stack the script uses
constexpr uchar Other = 2; // the second stack
constexpr uchar Raw = 4;  // the raw frame peer, on Own's second link
constexpr uchar Nobody = 30;

// A function on a stack that records each call's payload and answers as told.
class Responder : public QObject
{
    Q_OBJECT
public:
    Responder(QErfcStack* stack, uchar fid)
        : m_stack(stack)
        , m_function(fid, QStringLiteral("Test"), QErfc::User)
    {
        // Answered on the stack thread, inside the call.
        connect(&m_function, &QErfcFunction::callSignal, this, &Responder::onCall,
                Qt::DirectConnection);
        m_stack->registerFunction(&m_function);
    }
    ~Responder() override { m_stack->unregisterFunction(&m_function); }

    void answer(QErfc::ResponseCode code, const QByteArray& payload)
    {
        QMutexLocker lock(&m_lock);
        m_code = code;
        m_payload = payload;
    }
    QList<QByteArray> requests() const
    {
        QMutexLocker lock(&m_lock);
        return m_requests;
    }

private:
    void onCall(QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code)
    {
        QMutexLocker lock(&m_lock);
        m_requests << request.payload();
        response.payload() = m_payload;
        code = m_code;
    }

    QErfcStack* m_stack;
    QErfcFunction m_function;
    mutable QMutex m_lock;
    QErfc::ResponseCode m_code = QErfc::OK;
    QByteArray m_payload;
    QList<QByteArray> m_requests;
};

// A function whose call holds the stack thread until released.
class Blocker : public QObject
{
    Q_OBJECT
public:
    Blocker(QErfcStack* stack, uchar fid)
        : m_stack(stack)
        , m_function(fid, QStringLiteral("Hold"), QErfc::User)
    {
        connect(&m_function, &QErfcFunction::callSignal, this, &Blocker::onCall, Qt::DirectConnection);
        m_stack->registerFunction(&m_function);
    }
    ~Blocker() override
    {
        release.release();
        m_stack->unregisterFunction(&m_function);
    }

    std::atomic<bool> entered{false};
    QSemaphore release;

private:
    void onCall(QErfcIncomingRequest&, QErfcResponse&, QErfc::ResponseCode& code)
    {
        entered = true;
        release.tryAcquire(1, 60000);
        code = QErfc::OK;
    }

    QErfcStack* m_stack;
    QErfcFunction m_function;
};

RawPeer::Match anyFrame(uchar fid)
{
    return [fid](const QErfcMsg& m) { return !m.isResponse() && m.functionId() == fid; };
}

} // namespace

class tst_JsQErfcSend : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void requestBytesAndNodes();
    void answers_data();
    void answers();
    void callbackRouting_data();
    void callbackRouting();
    void connectionErrorReachesFunction();
    void sendBlockingAnswered();
    void sendBlockingUnknownNode();
    void sendBlockingSilentNode();
    void sendBlockingStackHeldUp();
    void datagrams();
    void stackRefusals_data();
    void stackRefusals();
    void disabledStack();
    void suspended();
    void teardownWithPending();

private:
    QString eval(const QString& code) { return m_engine->QScriptEngine::evaluate(code).toString(); }
    QString attempt(const QString& code)
    {
        return eval("try { String(" + code + ") } catch (e) { 'error: ' + e.message }");
    }
    // The first request the raw peer got for fid from index from.
    QErfcMsg rawRequest(uchar fid, int from);

    std::unique_ptr<StackPair> m_pair;
    std::unique_ptr<RawPeer> m_raw;
    std::unique_ptr<Responder> m_responder;
    JsRte* m_engine = nullptr;
    JsQErfc* m_erfc = nullptr;
};

void tst_JsQErfcSend::init()
{
    m_pair.reset(new StackPair(Own, Other));
    m_raw.reset(new RawPeer(Raw));
    QVERIFY(m_raw->attach(m_pair->a.get()));
    QVERIFY(m_pair->connectAndDiscover());
    QVERIFY(m_raw->join());
    m_responder.reset(new Responder(m_pair->b.get(), 20));

    m_engine = new JsRte;
    m_erfc = new JsQErfc(m_pair->a.get());
    m_engine->registerExtension(new JsRteType, JsRte::DeleteOnDestroy);
    m_engine->registerExtension(m_erfc, JsRte::DeleteOnDestroy);
    m_engine->init();
    eval("var log = [];"
         "function mark(n) { return function () { log.push(n) } }"
         "function record(a) { var p = {}; for (var k in a) if (k != 'relatedSignature' && k != 'signature') p[k] = a[k];"
         "  log.push(Object.keys(a).join() + ' ' + JSON.stringify(p)) }");
}

void tst_JsQErfcSend::cleanup()
{
    delete m_engine;
    m_engine = nullptr;
    m_erfc = nullptr;
    m_responder.reset();
    m_raw.reset();
    m_pair.reset();
    // Requests still held by the stacks were completed when they went.
    QTRY_COMPARE(JSErfcRequest::instances(), 0);
}

QErfcMsg tst_JsQErfcSend::rawRequest(uchar fid, int from)
{
    const int i = m_raw->waitFor(RawPeer::isRequest(fid), from);
    return i >= 0 ? m_raw->frames().at(i) : QErfcMsg();
}

void tst_JsQErfcSend::requestBytesAndNodes()
{
    const int from = m_raw->frames().size();
    QCOMPARE(eval("erfc.send(4, {fid: 21, request: [{a: dtype.INT16}, {s: dtype.STRING()}, {b: dtype.BOOL}]},"
                  " {a: -2, s: 'hi', b: true, extra: 1})"),
             QStringLiteral("true"));
    const QErfcMsg request = rawRequest(21, from);
    QCOMPARE(request.destination(), Raw);
    QCOMPARE(request.source(), Own);
    QVERIFY(!request.noResponse());
    QCOMPARE(request.payload().toHex(), QByteArray("feff68690001"));
    m_raw->send(RawPeer::answer(request, QErfc::OK));

    // Every way to name node 4 reaches it; a datagram carries its payload as well.
    QCOMPARE(eval("var sig = {fid: 22, type: erfc.REQUEST_TYPE_DATAGRAM, request: [{n: dtype.INT8U}]};"
                  "[erfc.send(4, sig, {n: 1}), erfc.send(4.9, sig, {n: 2}), erfc.send({address: 4}, sig, {n: 3}),"
                  " erfc.send(Object.create({address: 4}), sig, {n: 4})].join()"),
             QStringLiteral("true,true,true,true"));
    QVERIFY(m_raw->sync());
    QStringList datagrams;
    for (const QErfcMsg& m : m_raw->frames()) {
        if (m.functionId() == 22)
            datagrams << QString::number(m.destination()) + ':' + m.payload().toHex() + (m.noResponse() ? "" : "!");
    }
    QCOMPARE(datagrams, QStringList({"4:01", "4:02", "4:03", "4:04"}));
}

void tst_JsQErfcSend::answers_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload"); // hex
    QTest::addColumn<QString>("answer");

    const QString keys = "fid,address,code,codeText,payload,length,relatedSignature ";
    QTest::newRow("OK decoded") << 0 << QByteArray("ffffffff2a")
        << keys + R"({"fid":21,"address":4,"code":0,"codeText":"OK","payload":{"x":4294967295,"y":42},"length":5})";
    QTest::newRow("Specific2 decoded by its own") << 2 << QByteArray("6869")
        << keys + R"({"fid":21,"address":4,"code":2,"codeText":"Specific2","payload":{"t":"hi"},"length":2})";
    QTest::newRow("Busy undescribed") << 7 << QByteArray("010203")
        << keys + R"({"fid":21,"address":4,"code":7,"codeText":"Busy","payload":{},"length":3})";
    QTest::newRow("UnknownFid") << 8 << QByteArray()
        << keys + R"({"fid":21,"address":4,"code":8,"codeText":"UnknownFid","payload":{},"length":0})";
    QTest::newRow("OK short payload") << 0 << QByteArray("01")
        << keys + R"({"fid":21,"address":4,"code":0,"codeText":"OK","payload":{"x":0,"y":0},"length":1})";
}

void tst_JsQErfcSend::answers()
{
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    const int from = m_raw->frames().size();
    eval("var sig = {fid: 21, response: {RSP_OK: [{x: dtype.INT32U}, {y: dtype.INT8}],"
         " RSP_SPECIFIC_2: [{t: dtype.STRING()}]}};"
         "erfc.send(4, sig, null, {always: function (a) { record(a); log.push(a.relatedSignature === sig) }})");
    const QErfcMsg request = rawRequest(21, from);
    QCOMPARE(eval("log.length"), QStringLiteral("0"));
    m_raw->send(RawPeer::answer(request, QErfc::ResponseCode(code), QByteArray::fromHex(payload)));
    QTRY_COMPARE(eval("log.length"), QStringLiteral("2"));
    QTEST(eval("log[0]"), "answer");
    QCOMPARE(eval("log[1]"), QStringLiteral("true"));
}

void tst_JsQErfcSend::callbackRouting_data()
{
    QTest::addColumn<QString>("functions");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("calls");

    const QString all = "{RSP_OK: mark('a'), other: mark('b'), always: mark('c')}";
    QTest::newRow("0: own, always") << all << 0 << "a,c";
    QTest::newRow("7: other, always") << all << 7 << "b,c";
    QTest::newRow("8 without other: always") << "{RSP_OK: mark('a'), always: mark('c')}" << 8 << "c";
    QTest::newRow("keys in any case") << "{rsp_ok: mark('a'), OTHER: mark('b'), Always: mark('c')}" << 3 << "b,c";
    QTest::newRow("later key replaces") << "{RSP_OK: mark('a'), rsp_ok: mark('d')}" << 0 << "d";
    QTest::newRow("own busy, no always") << "{RSP_BUSY: mark('a'), other: mark('b')}" << 7 << "a";
    QTest::newRow("function for 0") << "mark('f')" << 0 << "f";
    QTest::newRow("function for 10") << "mark('f')" << 10 << "f";
    QTest::newRow("no callbacks") << "null" << 0 << "";
    QTest::newRow("script error does not stop always")
        << "{RSP_OK: function () { log.push('a'); throw new Error('x') }, always: mark('c')}" << 0 << "a,c";
    QTest::newRow("changes seen by the next")
        << "{RSP_OK: function (a) { a.code = 99 }, always: function (a) { log.push(a.code) }}" << 0 << "99";
}

void tst_JsQErfcSend::callbackRouting()
{
    QFETCH(QString, functions);
    QFETCH(int, code);
    const int from = m_raw->frames().size();
    QCOMPARE(eval("erfc.send(4, {fid: 21}, null, " + functions + ")"), QStringLiteral("true"));
    const QErfcMsg request = rawRequest(21, from);
    m_raw->send(RawPeer::answer(request, QErfc::ResponseCode(code)));
    // The request goes once its answer was handled.
    QTRY_COMPARE(JSErfcRequest::instances(), 0);
    QTEST(eval("log.join()"), "calls");
}

void tst_JsQErfcSend::connectionErrorReachesFunction()
{
    // A node the stack does not know: false, and the callbacks follow later,
    // with the this of the code that called send.
    QCOMPARE(eval("var caller = {name: 'caller', go: function () {"
                  "  var sent = erfc.send(30, {fid: 21}, null, function (a) {"
                  "    log.push(this.name + ' ' + a.code + ' ' + a.codeText + ' ' + a.length) });"
                  "  return sent + ' ' + log.length } };"
                  "caller.go()"),
             QStringLiteral("false 0"));
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("caller 16 ConnectionError 0"));
    // Top-level code: this is the global object.
    eval("var marker = 'global'; erfc.send(30, {fid: 21}, null, {other: function () { log.push(this.marker) }})");
    QTRY_COMPARE(eval("log.length"), QStringLiteral("2"));
    QCOMPARE(eval("log[1]"), QStringLiteral("global"));
}

void tst_JsQErfcSend::sendBlockingAnswered()
{
    m_responder->answer(QErfc::OK, QByteArray::fromHex("34127365"));
    QCOMPARE(eval("var sig = {fid: 20, type: erfc.REQUEST_TYPE_DATAGRAM, request: [{a: dtype.INT8}],"
                  " response: [{n: dtype.INT16U}, {s: dtype.STRING()}]};"
                  "var r = erfc.sendBlocking(2, sig, {a: 5}); record(r); log.push(r.signature === sig); log.join(' | ')"),
             QStringLiteral("code,fid,address,codeText,payload,length,signature "
                            R"({"code":0,"fid":20,"address":2,"codeText":"OK","payload":{"n":4660,"s":"se"},"length":4})"
                            " | true"));
    // type is not read: a request went out, with the encoded payload.
    QCOMPARE(m_responder->requests(), QList<QByteArray>{QByteArray::fromHex("05")});

    m_responder->answer(QErfc::Specific3, "abc");
    QCOMPARE(eval("var r = erfc.sendBlocking(2, {fid: 20, response: [{n: dtype.INT8}]}); JSON.stringify([r.code, r.payload, r.length])"),
             QStringLiteral("[3,{},3]"));
}

void tst_JsQErfcSend::sendBlockingUnknownNode()
{
    QCOMPARE(eval("var r = erfc.sendBlocking(30, {fid: 21}); [r.code, r.codeText, r.length].join()"),
             QStringLiteral("16,ConnectionError,0"));
}

void tst_JsQErfcSend::sendBlockingSilentNode()
{
    const int from = m_raw->frames().size();
    QCOMPARE(eval("var r = erfc.sendBlocking(4, {fid: 23, timeout: 10, retries: 0}); [r.code, r.codeText].join()"),
             QStringLiteral("16,ConnectionError"));
    QVERIFY(m_raw->sync());
    QCOMPARE(m_raw->count(anyFrame(23), from), 1);
}

void tst_JsQErfcSend::sendBlockingStackHeldUp()
{
    // A node's call holds the stack thread: the answer cannot come and the
    // stack cannot give up; the wait ends at its bound.
    Blocker blocker(m_pair->a.get(), 40);
    m_raw->send(m_raw->request(Own, 40, QByteArray()));
    QTRY_VERIFY(blocker.entered);
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(eval("var r = erfc.sendBlocking(4, {fid: 24, timeout: 10, retries: 0, response: [{n: dtype.INT8}]});"
                  "record(r); log[0]"),
             QStringLiteral("code,fid,address,codeText,payload,length,signature "
                            R"({"code":16,"fid":24,"address":4,"codeText":"ConnectionError","payload":{},"length":0})"));
    QVERIFY(waited.elapsed() >= 1010);
    // The stack still holds the request; it goes once the stack completes it.
    QCOMPARE(JSErfcRequest::instances(), 1);
    blocker.release.release();
    QTRY_COMPARE(JSErfcRequest::instances(), 0);
}

void tst_JsQErfcSend::datagrams()
{
    const int from = m_raw->frames().size();
    QCOMPARE(eval("[erfc.send(4, {fid: 25, type: 1}), erfc.send(30, {fid: 26, type: 1}),"
                  " erfc.send(63, {fid: 27, type: 1, request: [{s: dtype.STRING()}]}, {s: 'all'})].join()"),
             QStringLiteral("true,false,true"));
    QCOMPARE(attempt("erfc.send(4, {fid: 28, type: 1}, null, {})"),
             QStringLiteral("error: For signature property type: REQUEST_TYPE_DATAGRAM are no functions allowed"));
    QVERIFY(m_raw->sync());
    QCOMPARE(m_raw->count(anyFrame(25), from), 1);
    QCOMPARE(m_raw->count(anyFrame(26), from), 0);
    QCOMPARE(m_raw->count(anyFrame(28), from), 0);
    const int broadcast = m_raw->waitFor(anyFrame(27), from);
    QVERIFY(broadcast >= 0);
    QCOMPARE(m_raw->frames().at(broadcast).destination(), quint8(63));
    QCOMPARE(m_raw->frames().at(broadcast).payload(), QByteArray("all"));
    QCOMPARE(JSErfcRequest::instances(), 0);
}

void tst_JsQErfcSend::stackRefusals_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("error");
    QTest::newRow("request to 63") << "send(63, {fid: 21}, null, mark('x'))" << "Can't send request, BroadcastNotAllowed";
    QTest::newRow("request to 255") << "send(255, {fid: 21})" << "Can't send request, AddressError";
    QTest::newRow("datagram to 255") << "send(255, {fid: 21, type: 1})" << "Can't send datagram, AddressError";
    QTest::newRow("fid 128") << "send(4, {fid: 128})" << "Can't send request, FunctionIdError";
    QTest::newRow("datagram fid 128") << "send(4, {fid: 128, type: 1})" << "Can't send datagram, FunctionIdError";
    QTest::newRow("blocking to 63") << "sendBlocking(63, {fid: 21})" << "Can't send request, BroadcastNotAllowed";
    QTest::newRow("blocking fid 128") << "sendBlocking(4, {fid: 128})" << "Can't send request, FunctionIdError";
}

void tst_JsQErfcSend::stackRefusals()
{
    QFETCH(QString, call);
    QTEST(attempt("erfc." + call).mid(7), "error");
    // Refused requests are freed at once and call nothing back.
    QCOMPARE(JSErfcRequest::instances(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(eval("log.length"), QStringLiteral("0"));
}

void tst_JsQErfcSend::disabledStack()
{
    m_pair->a->disable();
    QCOMPARE(attempt("erfc.send(4, {fid: 21})"), QStringLiteral("error: Can't send request, StackDisabled"));
    QCOMPARE(attempt("erfc.send(4, {fid: 21, type: 1})"), QStringLiteral("error: Can't send datagram, StackDisabled"));
    QCOMPARE(attempt("erfc.sendBlocking(4, {fid: 21})"), QStringLiteral("error: Can't send request, StackDisabled"));
    QCOMPARE(JSErfcRequest::instances(), 0);
}

void tst_JsQErfcSend::suspended()
{
    m_erfc->suspend();
    int from = m_raw->frames().size();
    eval("erfc.send(4, {fid: 21}, null, {RSP_OK: mark('a'), always: mark('c')})");
    m_raw->send(RawPeer::answer(rawRequest(21, from), QErfc::OK));
    // The answer arrives and the request goes, but nothing is called ...
    QTRY_COMPARE(JSErfcRequest::instances(), 0);
    QCOMPARE(eval("log.length"), QStringLiteral("0"));
    // ... and nothing is replayed on resume.
    m_erfc->resume();
    QCoreApplication::processEvents();
    QCOMPARE(eval("log.length"), QStringLiteral("0"));
    from = m_raw->frames().size();
    eval("erfc.send(4, {fid: 21}, null, mark('after'))");
    m_raw->send(RawPeer::answer(rawRequest(21, from), QErfc::OK));
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("after"));
}

void tst_JsQErfcSend::teardownWithPending()
{
    const int from = m_raw->frames().size();
    eval("for (var i = 0; i < 3; ++i) erfc.send(4, {fid: 21, timeout: 100, retries: 2}, null, mark('x'))");
    QVERIFY(m_raw->waitFor(RawPeer::isRequest(21), from) >= 0);
    // The binding goes while the stack holds the requests: they are not
    // freed under the stack, and freed once it gives up on them.
    const int pending = JSErfcRequest::instances();
    QVERIFY(pending > 0);
    delete m_engine;
    m_engine = nullptr;
    m_erfc = nullptr;
    QCOMPARE(JSErfcRequest::instances(), pending);
    QTRY_COMPARE(JSErfcRequest::instances(), 0);
}

QTEST_GUILESS_MAIN(tst_JsQErfcSend)
#include "tst_jsqerfcsend.moc"
