// The erfc script object: constants, methods and their forms, node resolution,
// the texts of signature errors as a script sees them, and the binding core.

#include "erfcfixture.h"
#include "jserfcrequest_p.h"
#include "jsqerfc_p.h"
#include "qerfcstack.h"

#include <QtTest>

class tst_JsQErfc : public ErfcScriptTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void constants();
    void formsByArgumentCount();
    void nodeResolution_data();
    void nodeResolution();
    void signatureTexts_data();
    void signatureTexts();
    void withoutScriptContext();
    void deferredError();

private:
    JsQErfcPrivate* d() const { return JsQErfcPrivate::get(m_erfc); }

    QErfcStack* m_stack = nullptr;
};

void tst_JsQErfc::initTestCase()
{
    // A stack that is never enabled: every send that passes the checks is
    // refused with StackDisabled.
    m_stack = new QErfcStack(1, this);
}

void tst_JsQErfc::init()
{
    startScript(m_stack);
}

void tst_JsQErfc::cleanup()
{
    stopScript();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(JSErfcRequest::instances(), 0);
}

void tst_JsQErfc::constants()
{
    // Read-only; no constant for 11, by name or by value.
    QCOMPARE(eval("erfc.RSP_OK = 5; var n = 0; for (var k in erfc) if (erfc[k] === 11) ++n;"
                  " [erfc.RSP_OK, erfc.RSP_CONNECTION_ERROR, n, 'RESERVED' in erfc].join()"),
             QStringLiteral("0,16,0,false"));
}

void tst_JsQErfc::formsByArgumentCount()
{
    // Watches: one argument is for all nodes, two for one node; null switches
    // one off, the others stay.
    eval("erfc.nodeNew(f); erfc.nodeNew(7, g); erfc.nodeUpdate(3, f); erfc.nodeNew(7, null)");
    QVERIFY(d()->m_newNodeCallback.function.strictlyEquals(m_engine->globalObject().property("f")));
    QVERIFY(d()->m_newNodeCallbacks.value(7).function.isNull());
    QVERIFY(d()->m_updateCallback.function.isNull());
    QCOMPARE(d()->m_updateCallbacks.keys(), QList<quint8>{3});

    // send with two and three arguments fills null, not undefined: a
    // datagram refuses any callbacks but null.
    QCOMPARE(attempt("erfc.send(5, {fid: 1, type: 1}, {})"), QStringLiteral("error: Can't send datagram, StackDisabled"));
    QCOMPARE(attempt("erfc.send(5, {fid: 1, type: 1}, {}, undefined)"),
             QStringLiteral("error: For signature property type: REQUEST_TYPE_DATAGRAM are no functions allowed"));
    // Two arguments: the payload is null, so a described one is missing.
    QCOMPARE(attempt("erfc.sendBlocking(5, {fid: 1, request: [{a: dtype.INT8}]})"),
             QStringLiteral("error: property: a is missing!"));
}

void tst_JsQErfc::nodeResolution_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("result"); // the address stored, or the error

    const QString none = "error: No node address available!";
    QTest::newRow("-0.5") << "-0.5" << "0";
    QTest::newRow("inherited address") << "Object.create({address: 5})" << "5";
    QTest::newRow("'5'") << "'5'" << none;
    QTest::newRow("256") << "256" << none;
    QTest::newRow("NaN") << "NaN" << none;
}

void tst_JsQErfc::nodeResolution()
{
    QFETCH(QString, node);
    QFETCH(QString, result);
    const bool named = !result.startsWith("error");
    // The per-node watch stores under the address, or raises and stores nothing.
    QCOMPARE(attempt("erfc.nodeRemoved(" + node + ", f)"), named ? QStringLiteral("undefined") : result);
    QCOMPARE(d()->m_removedNodeCallbacks.keys(),
             named ? QList<quint8>{quint8(result.toInt())} : QList<quint8>());
    // send and isAvailable resolve alike: past the node, a datagram meets the disabled stack.
    QCOMPARE(attempt("erfc.send(" + node + ", {fid: 1, type: 1})"),
             named ? QStringLiteral("error: Can't send datagram, StackDisabled") : result);
    QCOMPARE(attempt("erfc.isAvailable(" + node + ")"), named ? QStringLiteral("false") : result);
    QCOMPARE(attempt("erfc.sendBlocking(" + node + ", {fid: 1})"),
             named ? QStringLiteral("error: Can't send request, StackDisabled") : result);
}

void tst_JsQErfc::signatureTexts_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("error");

    QTest::newRow("fid missing") << "send(5, {})" << "property fid is missing!";
    QTest::newRow("fid 129") << "send(5, {fid: 129})" << "property fid must be between 0 and 128!";
    QTest::newRow("fid text") << "send(5, {fid: 'x'})" << "property fid must be a unsigned integer!";
    QTest::newRow("type 2") << "send(5, {fid: 1, type: 2})" << "property type, value:2, is not known/allowed!";
    QTest::newRow("empty request")
        << "send(5, {fid: 1, request: []})"
        << "Request payload doesn't contain any possible data! If it should be empty remove the description!!";
    QTest::newRow("two-key field")
        << "send(5, {fid: 1, request: [{a: dtype.INT8, b: dtype.INT8}]})" << "Request payload Number of entrys is not one!!";
    QTest::newRow("too big")
        << "send(5, {fid: 1, response: [{a: dtype.DOUBLE}, {b: dtype.DOUBLE}, {c: dtype.DOUBLE}, {d: dtype.DOUBLE}, {e: dtype.INT8}]})"
        << "Response payload size: 33 is to big!!";
    QTest::newRow("function error described")
        << "send(5, {fid: 1, response: {RSP_FUNCTION_ERROR: [{a: dtype.INT8}]}})"
        << "Response payload, response code \"RSP_FUNCTION_ERROR\" is not allowed!!";
    QTest::newRow("bad type under a code")
        << "send(5, {fid: 1, response: {RSP_OK: [{a: 0}]}})"
        << "Response payload(code:RSP_OK) key:a \"0\" is not defined as type (size: 0)!!";
    QTest::newRow("char too long") << "send(5, {fid: 1, request: [{c: dtype.CHAR8}]}, {c: 'AB'})"
                                   << "property: c, type:char, is not one element!!";
    QTest::newRow("payload too big")
        << "send(5, {fid: 1, request: [{s: dtype.STRING()}]}, {s: '123456789012345678901234567890123'})"
        << "is to big, does not fit erfc payload!";
    QTest::newRow("timeout 9") << "send(5, {fid: 1, timeout: 9})" << "property timeout must be between 10 and 255!";
    QTest::newRow("timeout text") << "send(5, {fid: 1, timeout: 'x'})" << "property timeout must be a number!";
    // Callback objects.
    QTest::newRow("datagram with callbacks") << "send(5, {fid: 1, type: erfc.REQUEST_TYPE_DATAGRAM}, null, f)"
        << "For signature property type: REQUEST_TYPE_DATAGRAM are no functions allowed";
    QTest::newRow("unknown code name") << "send(5, {fid: 1}, null, {RSP_UNKNOWN_FID: f})"
                                       << "Function for response code RSP_UNKNOWN_FID is not known!";
    QTest::newRow("keys in order") << "send(5, {fid: 1}, null, {rsp_ok: 5, RSP_BUSY: 'x'})"
                                   << "Function RSP_BUSY is not a function";
    QTest::newRow("number as callbacks") << "send(5, {fid: 1}, null, 5)" << "Can't send request, StackDisabled";
}

void tst_JsQErfc::signatureTexts()
{
    QFETCH(QString, call);
    QFETCH(QString, error);
    QCOMPARE(eval("var r = 'no error'; try { erfc." + call + " } catch (e) { r = e.message } r"), error);
    // Nothing stays behind, also for a request refused after it was made.
    QCOMPARE(JSErfcRequest::instances(), 0);
}

void tst_JsQErfc::withoutScriptContext()
{
    // Slots called from C++: arguments without an engine take the engine the
    // object was installed in, and this is the global object.
    QVERIFY(!m_erfc->send(QScriptValue(5), QScriptValue(), QScriptValue(), QScriptValue()));
    QCOMPARE(m_engine->uncaughtException().property("message").toString(),
             QStringLiteral("property fid is missing!"));
    m_engine->clearExceptions();
    const QScriptValue result = m_erfc->sendBlocking(QScriptValue(256), m_engine->newObject());
    QVERIFY(result.isBool() && !result.toBool());
    m_engine->clearExceptions();
    m_erfc->nodeUpdate(m_engine->globalObject().property("f"));
    QVERIFY(d()->m_updateCallback.thisObject.strictlyEquals(m_engine->globalObject()));
    // In a script call this is the caller's this.
    eval("var watcher = {register: function () { erfc.nodeUpdate(f) }}; watcher.register()");
    QVERIFY(d()->m_updateCallback.thisObject.strictlyEquals(m_engine->globalObject().property("watcher")));
    // The remaining forms take no-value arguments without harm.
    m_erfc->nodeNew(QScriptValue(4), QScriptValue());
    m_erfc->emitEvent(QScriptValue());
    m_erfc->waitForEvent(QScriptValue());
    m_erfc->ping(QScriptValue());
}

void tst_JsQErfc::deferredError()
{
    JsQErfcFunctionEntry entry;
    entry.function = m_engine->globalObject().property("f");
    d()->m_functionRegistry.insert(20, entry);
    // Quotes, backslashes and line breaks arrive as they were.
    const QString message = QStringLiteral("field \"a\\b\"\nlast");
    d()->forceFunctionException(21, QStringLiteral("nobody"));
    d()->forceFunctionException(20, message);
    QVERIFY(!m_engine->hasUncaughtException()); // only from the event loop
    QTRY_VERIFY(m_engine->hasUncaughtException());
    QVERIFY(m_engine->uncaughtException().isString());
    QCOMPARE(m_engine->uncaughtException().toString(), message);
    m_engine->clearExceptions();
    // An id unregistered before the event loop gets to it: nothing happens.
    d()->forceFunctionException(20, QStringLiteral("late"));
    d()->m_functionRegistry.clear();
    QCoreApplication::sendPostedEvents();
    QVERIFY(!m_engine->hasUncaughtException());
}

QTEST_GUILESS_MAIN(tst_JsQErfc)
#include "tst_jsqerfc.moc"
