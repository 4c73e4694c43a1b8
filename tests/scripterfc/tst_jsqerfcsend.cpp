// erfc.send and erfc.sendBlocking against real stacks over loopback TCP: a
// second stack with a recording test function, and a raw frame peer.

#include "erfcfixture.h"
#include "jserfcrequest_p.h"
#include "rawpeer.h"
#include "stackpair.h"

#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

constexpr uchar Own = 1;  // the stack the script uses
constexpr uchar Raw = 4;  // the raw frame peer, on Own's second link

RawPeer::Match anyFrame(uchar fid)
{
    return [fid](const QErfcMsg& m) { return !m.isResponse() && m.functionId() == fid; };
}

} // namespace

class tst_JsQErfcSend : public ErfcScriptTest
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
    void sendBlockingStackHeldUp();
    void datagrams();
    void stackRefusals_data();
    void stackRefusals();
    void suspended();
    void teardownWithPending();

private:
    // The first request the raw peer got for fid from index from.
    QErfcMsg rawRequest(uchar fid, int from);

    std::unique_ptr<StackPair> m_pair;
    std::unique_ptr<RawPeer> m_raw;
    std::unique_ptr<TestFunction> m_responder;
};

void tst_JsQErfcSend::init()
{
    m_pair.reset(new StackPair(Own, 2));
    m_raw.reset(new RawPeer(Raw));
    QVERIFY(m_raw->attach(m_pair->a.get()));
    QVERIFY(m_pair->connectAndDiscover());
    QVERIFY(m_raw->join());
    m_responder.reset(new TestFunction(m_pair->b.get(), 20));
    startScript(m_pair->a.get(),
                "function mark(n) { return function () { log.push(n) } }"
                "function record(a) { var p = {}; for (var k in a) if (k != 'relatedSignature' && k != 'signature') p[k] = a[k];"
                "  log.push(Object.keys(a).join() + ' ' + JSON.stringify(p)) }");
}

void tst_JsQErfcSend::cleanup()
{
    stopScript();
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
    QTest::newRow("keys in any case") << "{rsp_ok: mark('a'), OTHER: mark('b'), Always: mark('c')}" << 3 << "b,c";
    QTest::newRow("later key replaces") << "{RSP_OK: mark('a'), rsp_ok: mark('d')}" << 0 << "d";
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
    QCOMPARE(eval("var r = erfc.sendBlocking(30, {fid: 21}); [r.code, r.codeText, r.length].join()"),
             QStringLiteral("16,ConnectionError,0"));
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

void tst_JsQErfcSend::sendBlockingStackHeldUp()
{
    // A node's call holds the stack thread: the answer cannot come and the
    // stack cannot give up; the wait ends at its bound.
    std::atomic<bool> entered{false};
    QSemaphore release;
    TestFunction blocker(m_pair->a.get(), 40);
    blocker.hold = [&] {
        entered = true;
        release.tryAcquire(1, 60000);
    };
    m_raw->send(m_raw->request(Own, 40, QByteArray()));
    QTRY_VERIFY(entered);
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(eval("var r = erfc.sendBlocking(4, {fid: 24, timeout: 10, retries: 0, response: [{n: dtype.INT8}]});"
                  "record(r); log[0]"),
             QStringLiteral("code,fid,address,codeText,payload,length,signature "
                            R"({"code":16,"fid":24,"address":4,"codeText":"ConnectionError","payload":{},"length":0})"));
    QVERIFY(waited.elapsed() >= 1010);
    // The stack still holds the request; it goes once the stack completes it.
    QCOMPARE(JSErfcRequest::instances(), 1);
    release.release();
    QTRY_COMPARE(JSErfcRequest::instances(), 0);
}

void tst_JsQErfcSend::datagrams()
{
    const int from = m_raw->frames().size();
    QCOMPARE(eval("[erfc.send(4, {fid: 25, type: 1}), erfc.send(30, {fid: 26, type: 1}),"
                  " erfc.send(63, {fid: 27, type: 1, request: [{s: dtype.STRING()}]}, {s: 'all'})].join()"),
             QStringLiteral("true,false,true"));
    QVERIFY(m_raw->sync());
    QCOMPARE(m_raw->count(anyFrame(25), from), 1);
    QCOMPARE(m_raw->count(anyFrame(26), from), 0);
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
    QTest::newRow("datagram to 255") << "send(255, {fid: 21, type: 1})" << "Can't send datagram, AddressError";
    QTest::newRow("datagram fid 128") << "send(4, {fid: 128, type: 1})" << "Can't send datagram, FunctionIdError";
    QTest::newRow("blocking to 63") << "sendBlocking(63, {fid: 21})" << "Can't send request, BroadcastNotAllowed";
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
    stopScript();
    QCOMPARE(JSErfcRequest::instances(), pending);
    QTRY_COMPARE(JSErfcRequest::instances(), 0);
}

QTEST_GUILESS_MAIN(tst_JsQErfcSend)
#include "tst_jsqerfcsend.moc"
