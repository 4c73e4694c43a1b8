// Functions and events a script offers, called and subscribed to by real
// stacks over loopback TCP, and the hand-over of a node's call to the GUI
// thread: whatever the GUI thread is doing, the two threads never wait on
// each other. Nodes call from worker threads; this thread runs the script.

#include "erfcfixture.h"
#include "jsqerfc_p.h"
#include "jsqerfcbridge_p.h"
#include "qerfceventconnect.h"
#include "stackpair.h"

#include <QtTest>

#include <atomic>
#include <memory>

namespace {

constexpr uchar Own = 1;    // the script's stack
constexpr uchar Caller = 2; // the node that calls the script's functions
constexpr uchar Third = 5;  // another node, on a link of its own
const QByteArray answer42 = QByteArray::fromHex("2a00"); // what node 2's function 20 answers
// Retries for a call that must not fail on a loaded machine, where a first
// try of 250 ms may go unanswered; the test's own waits bound it.
constexpr int Patient = 255;

} // namespace

class tst_JsQErfcFunctions : public ErfcScriptTest
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void texts_data();
    void texts();
    void handlerResults_data();
    void handlerResults();
    void callObject();
    void unregisteredOrSuspended();
    void eventsReachSubscriber();

    // No deadlock, whatever the GUI thread does when a node calls.
    void callWhileScriptWaitsInSendBlocking();
    void handlerCallsItsCaller();
    void handlerUnregistersItself();
    void callWhileScriptSleeps();
    void runtimeDestroyedWithCallPending();
    void handlerEmitsToCallingSubscriber();

private:
    CallResult call(uchar fid, const QByteArray& payload = QByteArray(), int retries = Patient,
                    int timeoutMs = 250);

    std::unique_ptr<StackPair> m_pair;
};

void tst_JsQErfcFunctions::init()
{
    m_pair.reset(new StackPair(Own, Caller));
    QVERIFY(m_pair->connectAndDiscover());
    startScript(m_pair->a.get());
}

void tst_JsQErfcFunctions::cleanup()
{
    stopScript();
    // The stack offers nothing of the script's any more.
    if (m_pair) {
        QCOMPARE(m_pair->a->functionIds(), QList<uchar>({0, 1, 2, 3, 4, 5, 15}));
        QCOMPARE(m_pair->a->eventIds(), QList<uchar>());
    }
    m_pair.reset();
}

CallResult tst_JsQErfcFunctions::call(uchar fid, const QByteArray& payload, int retries, int timeoutMs)
{
    std::future<CallResult> pending = callFromWorker(m_pair->b.get(), Own, fid, payload, retries, timeoutMs);
    // The script's handler runs here, from the event loop.
    if (!QTest::qWaitFor([&] { return isReady(pending); }, 30000))
        return CallResult();
    return pending.get();
}

void tst_JsQErfcFunctions::texts_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("error");

    const QString none = "undefined";
    QTest::newRow("fid 15") << "" << "registerFunction({fid: 15}, f)" << "error: property fid must be between 16 and 128!";
    QTest::newRow("privilege 4") << "" << "registerFunction({fid: 20, privilege: 4}, f)"
                                 << "error: property privilege, value:4, is not known/allowed!";
    QTest::newRow("not a function") << "" << "registerFunction({fid: 20}, 5)" << "error: Second parameter is not a function";
    QTest::newRow("twice") << "erfc.registerFunction({fid: 20}, f)" << "registerFunction({fid: 20}, g)"
                           << "error: Function id 20 is already defined";
    QTest::newRow("fid 128") << "" << "registerFunction({fid: 128}, f)" << "error: Can't register function, RegisterIdError";
    QTest::newRow("id of another part") << "" << "registerFunction({fid: 60}, f)"
                                        << "error: Can't register function, FunctionRegisterError";
    QTest::newRow("registered") << "" << "registerFunction({fid: 20, privilege: erfc.PRIV_ADMIN, description: 'x'}, f)" << none;
    QTest::newRow("unregister bad fid") << "" << "unregisterFunction({fid: 'x'})"
                                        << "error: Request property fid must be a unsigned integer";
    QTest::newRow("event twice") << "erfc.registerEvent({eid: 20})" << "registerEvent({eid: 20, payload: [{a: dtype.INT8}]})"
                                 << "error: Can't register event, EventRegisterError";
    QTest::newRow("emit unregistered") << "" << "emitEvent({eid: 30})" << "error: Event id 30 is not registered!";
    QTest::newRow("emit without subscribers") << "erfc.registerEvent({eid: 20})" << "emitEvent({eid: 20}, {ignored: 1})" << "true";
    QTest::newRow("emit disabled") << "erfc.registerEvent({eid: 20})" << "emitEvent({eid: 20})"
                                   << "error: Can't send event, StackDisabled!";
}

void tst_JsQErfcFunctions::texts()
{
    QFETCH(QString, setup);
    QFETCH(QString, call);
    // Function 60 belongs to another part of the system.
    TestFunction other(m_pair->a.get(), 60);
    eval(setup);
    const QString row = QTest::currentDataTag();
    if (row == "emit disabled")
        m_pair->a->disable();
    QTEST(attempt("erfc." + call), "error");
    // What failed left nothing on the stack.
    const bool registered = row == "registered" || row == "twice";
    QCOMPARE(m_pair->a->functionIds().contains(20), registered);
}

void tst_JsQErfcFunctions::handlerResults_data()
{
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload"); // hex
    QTest::addColumn<QString>("error");      // what the script gets thrown later

    const QString p = "Calling function(fid:40), ";
    QTest::newRow("OK with payload") << "{code: erfc.RSP_OK, payload: {x: c.payload.a * 2}}" << 0 << QByteArray("0a00") << "";
    QTest::newRow("undescribed code drops payload") << "{code: 3, payload: {x: 1}}" << 3 << QByteArray() << "";
    // Passed on; on the wire 11 stands for a connection error.
    QTest::newRow("11 passes") << "11" << 16 << QByteArray() << "";
    QTest::newRow("undefined") << "undefined" << 10 << QByteArray() << p + "It's not allowed to return null!";
    QTest::newRow("described code as a number") << "erfc.RSP_OK" << 10 << QByteArray()
        << p + "response code:RSP_OK, It's not allowed to return without a payload, see definition!";
    QTest::newRow("no code") << "{payload: {x: 1}}" << 10 << QByteArray() << p + "response property code is necessary!";
    QTest::newRow("code not a number") << "{code: 'abc'}" << 10 << QByteArray()
                                       << p + "response code is not valid, must be a number!";
    QTest::newRow("second field missing: nothing partial") << "{code: 2, payload: {n: 1}}" << 10 << QByteArray()
        << p + "parsing response payload failed, property: m is missing!";
    QTest::newRow("too long: nothing over 32 bytes")
        << "{code: 1, payload: {t: '12345678901234567890123456789012345678901234567890'}}" << 10 << QByteArray()
        << p + "parsing response payload failed, is to big, does not fit erfc payload!";
    QTest::newRow("17") << "17" << 10 << QByteArray() << p + "response code:17 is not allowed, see definition!";
    QTest::newRow("16: no answer") << "erfc.RSP_CONNECTION_ERROR" << 16 << QByteArray() << "";
}

void tst_JsQErfcFunctions::handlerResults()
{
    QFETCH(QString, result);
    QFETCH(QString, error);
    eval("erfc.registerFunction({fid: 40, request: [{a: dtype.INT8U}],"
         " response: {RSP_OK: [{x: dtype.INT16U}], RSP_SPECIFIC_1: [{t: dtype.STRING()}],"
         "            RSP_SPECIFIC_2: [{n: dtype.INT8U}, {m: dtype.INT8U}]}},"
         " function (c) { log.push(c.payload.a); return " + result + " })");
    // Without an answer the caller gives up after one short try.
    const bool silent = QTest::currentDataTag() == QByteArray("16: no answer");
    const CallResult answer = call(40, QByteArray::fromHex("05"), silent ? 0 : Patient, silent ? 50 : 250);
    QTEST(answer.code, "code");
    QTEST(answer.payload.toHex(), "payload");
    // The error is looked at before anything else is evaluated: an
    // evaluation clears an exception thrown before it, and the error may be
    // thrown before the node's answer reaches this thread.
    if (error.isEmpty()) {
        QCoreApplication::processEvents();
        QVERIFY(!m_engine->hasUncaughtException());
    } else {
        // Thrown in the script once the node has its answer, as a string.
        QTRY_VERIFY(m_engine->hasUncaughtException());
        QVERIFY(m_engine->uncaughtException().isString());
        QCOMPARE(m_engine->uncaughtException().toString(), error);
    }
    // Also for a caller that gave up before the call reached this thread.
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("5"));
}

void tst_JsQErfcFunctions::callObject()
{
    eval("var sig = {fid: 41, description: 'Call', response: [{n: dtype.INT8U}]};"
         "var owner = {name: 'owner', offer: function () {"
         "  erfc.registerFunction(sig, function (c) {"
         "    log.push(this.name, Object.keys(c).join(), c.fid, c.address, c.privilege,"
         "             JSON.stringify(c.payload), c.length, c.relatedSignature === sig);"
         "    return {code: 0, payload: {n: 7}} }) } };"
         "owner.offer()");
    const CallResult answer = call(41, QByteArray("abc"));
    QCOMPARE(answer.code, 0);
    QCOMPARE(answer.payload, QByteArray("\x07"));
    // Without a request description the payload object is empty; length counts the bytes.
    QCOMPARE(eval("log.join(' ')"),
             QStringLiteral("owner fid,address,privilege,payload,length,relatedSignature 41 2 0 {} 3 true"));
}

void tst_JsQErfcFunctions::unregisteredOrSuspended()
{
    eval("erfc.registerFunction({fid: 43}, function () { log.push('x'); return 0 })");
    // Suspended: answered as failed, never run later.
    m_erfc->suspend();
    QCOMPARE(call(43).code, 10);
    m_erfc->resume();
    QCoreApplication::processEvents();
    QCOMPARE(eval("log.length"), QStringLiteral("0"));
    QCOMPARE(call(43).code, 0);
    eval("erfc.unregisterFunction({fid: 43})");
    QVERIFY(!m_pair->a->functionIds().contains(43));
    QCOMPARE(call(43).code, int(QErfc::UnknownFid));
    QCOMPARE(eval("log.join()"), QStringLiteral("x"));
}

void tst_JsQErfcFunctions::eventsReachSubscriber()
{
    eval("erfc.registerEvent({eid: 30, description: 'Level', payload: [{level: dtype.INT16}, {ok: dtype.BOOL}]});"
         "erfc.registerEvent({eid: 31})");
    QErfcEventConnect level(Own, 30);
    QErfcEventConnect bare(Own, 31);
    QList<QByteArray> received;
    QObject recorder;
    for (QErfcEventConnect* c : {&level, &bare}) {
        connect(c, &QErfcEventConnect::callSignal, &recorder,
                [&](QErfcIncomingEvent e) { received << QByteArray::number(e.eventId()) + ':' + e.payload().toHex(); },
                Qt::QueuedConnection);
        QVERIFY(m_pair->b->connectToEvent(c));
    }
    QTRY_COMPARE(level.state(), QErfc::EventConnected);
    QTRY_COMPARE(bare.state(), QErfc::EventConnected);
    QCOMPARE(eval("[erfc.emitEvent({eid: 30}, {level: -2, ok: true}), erfc.emitEvent({eid: 31}, {level: 1})].join()"),
             QStringLiteral("true,true"));
    // An event without a description goes out empty, whatever the script passes.
    QTRY_COMPARE(received, QList<QByteArray>({"30:feff01", "31:"}));
    // Suspended, the script still emits.
    m_erfc->suspend();
    QCOMPARE(eval("erfc.emitEvent({eid: 31})"), QStringLiteral("true"));
    QTRY_COMPARE(received.size(), 3);
    m_erfc->resume();
    eval("erfc.unregisterEvent({eid: 30})");
    QCOMPARE(m_pair->a->eventIds(), QList<uchar>{31});
}

void tst_JsQErfcFunctions::callWhileScriptWaitsInSendBlocking()
{
    // Node 5 leaves the script's request unanswered, and the script's stack
    // sends it again, until node 2's call of the script's function has been
    // answered: that has to happen while this thread waits in sendBlocking.
    // Node 2 calls once the request has reached node 5 and this thread waits.
    // Node 5's stack thread stays free meanwhile, so that it keeps saying
    // hello however long the call takes.
    Spoke third(m_pair->a.get(), Third);
    QVERIFY(third.join());
    const int posted = JsQErfcFunctionBridge::postedCalls();
    const int abandoned = JsQErfcFunctionBridge::abandonedCalls();
    TestFunction answerer(third.stack.get(), 20);
    answerer.answer(QErfc::ConnectionError, QByteArray()); // no answer
    eval("erfc.registerFunction({fid: 45}, function () { log.push('handler'); return 0 })");
    std::future<CallResult> caller = std::async(std::launch::async, [&] {
        const QDeadlineTimer deadline(20000);
        while (answerer.requests().isEmpty() && !deadline.hasExpired())
            QThread::msleep(1);
        waitUntilGuiWaits();
        const CallResult result = callFromWorker(m_pair->b.get(), Own, 45, QByteArray(), Patient).get();
        answerer.answer(QErfc::OK, answer42);
        return result;
    });
    QCOMPARE(eval(QStringLiteral("var r = erfc.sendBlocking(5, {fid: 20, retries: %1, response: [{n: dtype.INT16U}]});"
                                 " r.code + ' ' + r.payload.n").arg(Patient)),
             QStringLiteral("0 42"));
    QVERIFY(caller.wait_for(std::chrono::seconds(30)) == std::future_status::ready);
    QCOMPARE(caller.get().code, 10);
    // Given up at once on the stack thread: never handed to this thread, so
    // the stack thread did not wait for it either.
    QCOMPARE(JsQErfcFunctionBridge::postedCalls(), posted);
    QCOMPARE(JsQErfcFunctionBridge::abandonedCalls(), abandoned + 1);
    // The call was given up, not kept for later.
    QCoreApplication::processEvents();
    QCOMPARE(eval("log.length"), QStringLiteral("0"));
}

void tst_JsQErfcFunctions::handlerCallsItsCaller()
{
    TestFunction answerer(m_pair->b.get(), 20, answer42);
    eval("erfc.registerFunction({fid: 46}, function (c) {"
         "  var r = erfc.sendBlocking(c.address, {fid: 20, response: [{n: dtype.INT16U}]});"
         "  log.push(r.code + ' ' + r.payload.n); return 0 })");
    // The handler waits for its caller's stack: the call is answered at once.
    QCOMPARE(call(46).code, 10);
    QTRY_COMPARE(eval("log.join()"), QStringLiteral("0 42"));
}

void tst_JsQErfcFunctions::handlerUnregistersItself()
{
    eval("erfc.registerFunction({fid: 47}, function () {"
         "  erfc.registerFunction({fid: 48, response: [{n: dtype.INT8U}]}, function () { return {code: 0, payload: {n: 9}} });"
         "  erfc.unregisterFunction({fid: 47}); log.push('after'); return 0 })");
    // The call in progress still gets the handler's answer.
    QCOMPARE(call(47).code, 0);
    QCOMPARE(eval("log.join()"), QStringLiteral("after"));
    const QList<uchar> ids = m_pair->a->functionIds();
    QVERIFY(ids.contains(48) && !ids.contains(47));
    const CallResult answer = call(48);
    QCOMPARE(answer.code, 0);
    QCOMPARE(answer.payload, QByteArray("\x09"));
    QCOMPARE(call(47).code, int(QErfc::UnknownFid));
}

void tst_JsQErfcFunctions::callWhileScriptSleeps()
{
    eval("erfc.registerFunction({fid: 49}, function () { log.push('handler'); return 0 })");
    const int abandoned = JsQErfcFunctionBridge::abandonedCalls();
    // The bridge gives up before a caller with the default 3 retries of
    // 250 ms does; a loaded machine may eat that margin, so this one waits.
    const QErfcRequest defaults(Own, 49);
    QVERIFY(JsQErfcFunctionBridge::WaitMs < (defaults.retries() + 1) * defaults.timeout());
    std::future<CallResult> caller = callFromWorker(m_pair->b.get(), Own, 49, QByteArray(), Patient);
    eval("sleep(3000)");
    // This thread runs no events until the caller has its answer, however
    // long that takes: the call can only be given up.
    QVERIFY(caller.wait_for(std::chrono::seconds(30)) == std::future_status::ready);
    QCOMPARE(caller.get().code, 10);
    QCOMPARE(JsQErfcFunctionBridge::abandonedCalls(), abandoned + 1);
    // The call given up never reaches the handler.
    QCoreApplication::processEvents();
    QCOMPARE(eval("log.length"), QStringLiteral("0"));
}

void tst_JsQErfcFunctions::runtimeDestroyedWithCallPending()
{
    eval("erfc.registerFunction({fid: 50}, function () { log.push('handler'); return 0 })");
    const int posted = JsQErfcFunctionBridge::postedCalls();
    std::future<CallResult> caller = callFromWorker(m_pair->b.get(), Own, 50, QByteArray(), Patient);
    // Without this thread's event loop: the call waits in its queue.
    QDeadlineTimer deadline(20000);
    while (JsQErfcFunctionBridge::postedCalls() == posted && !deadline.hasExpired())
        QThread::yieldCurrentThread();
    QCOMPARE(JsQErfcFunctionBridge::postedCalls(), posted + 1);
    stopScript();
    QCOMPARE(caller.get().code, 10);
    // The queued call finds nothing to run.
    QCoreApplication::processEvents();
}

void tst_JsQErfcFunctions::handlerEmitsToCallingSubscriber()
{
    // Node 2 subscribes with normal delivery (each event answered) and calls
    // a handler that emits more events than the node's window holds: the
    // window drains only once the stack thread is free again.
    eval("erfc.registerEvent({eid: 32, payload: [{n: dtype.INT8U}]});"
         "erfc.registerFunction({fid: 52}, function () {"
         "  for (var i = 0; i < 40; ++i) log.push(erfc.emitEvent({eid: 32}, {n: i}));"
         "  return 0 })");
    QErfcEventConnect subscription(Own, 32, quint32(0)); // normal delivery
    std::atomic<int> events{0};
    connect(&subscription, &QErfcEventConnect::callSignal, &subscription,
            [&events](QErfcIncomingEvent) { ++events; }, Qt::DirectConnection);
    QVERIFY(m_pair->b->connectToEvent(&subscription));
    QTRY_COMPARE(subscription.state(), QErfc::EventConnected);
    QCOMPARE(call(52).code, 10);
    QCOMPARE(eval("log.length + ' ' + log.indexOf(false)"), QStringLiteral("40 -1"));
    QTRY_COMPARE(events.load(), 40);
}

QTEST_GUILESS_MAIN(tst_JsQErfcFunctions)
#include "tst_jsqerfcfunctions.moc"
