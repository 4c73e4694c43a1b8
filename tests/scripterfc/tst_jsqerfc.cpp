// The erfc script object: constants, methods and their forms, node resolution,
// the texts of signature errors as a script sees them, and the binding core.

#include "jserfcrequest_p.h"
#include "jsqerfc.h"
#include "jsqerfc_p.h"
#include "jsrte.h"
#include "jsrtetype.h"
#include "qerfcstack.h"

#include <QMetaMethod>
#include <QtTest>

class tst_JsQErfc : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void constants();
    void methods();
    void formsByArgumentCount();
    void nodeResolution_data();
    void nodeResolution();
    void sendBlockingWithoutNode();
    void isAvailable();
    void signatureTexts_data();
    void signatureTexts();
    void callbackReader_data();
    void callbackReader();
    void withoutScriptContext();
    void deferredError();

private:
    QString eval(const QString& code) { return m_engine->QScriptEngine::evaluate(code).toString(); }
    // The code's value as text, or "error: " and the message of what it threw.
    QString attempt(const QString& code)
    {
        return eval("try { String(" + code + ") } catch (e) { 'error: ' + (e.message === undefined ? e : e.message) }");
    }
    JsQErfcPrivate* d() const { return JsQErfcPrivate::get(m_erfc); }

    QErfcStack* m_stack = nullptr;
    JsRte* m_engine = nullptr;
    JsQErfc* m_erfc = nullptr;
};

void tst_JsQErfc::initTestCase()
{
    // A stack that is never enabled: every send that passes the checks is
    // refused with StackDisabled.
    m_stack = new QErfcStack(1, this);
}

void tst_JsQErfc::init()
{
    m_engine = new JsRte;
    m_erfc = new JsQErfc(m_stack);
    m_engine->registerExtension(new JsRteType, JsRte::DeleteOnDestroy);
    m_engine->registerExtension(m_erfc, JsRte::DeleteOnDestroy);
    m_engine->init();
    eval("var log = []; function f() {} function g() {}");
}

void tst_JsQErfc::cleanup()
{
    delete m_engine;
    m_engine = nullptr;
    m_erfc = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(JSErfcRequest::instances(), 0);
}

void tst_JsQErfc::constants()
{
    QCOMPARE(eval("[erfc.RSP_OK, erfc.RSP_BUSY, erfc.RSP_FUNCTION_ERROR, erfc.RSP_PAYLOAD_ERROR,"
                  " erfc.RSP_CONNECTION_ERROR, erfc.PRIV_USER, erfc.PRIV_DEVELOPER,"
                  " erfc.CONNECT_BROADCAST, erfc.REQUEST_TYPE_DATAGRAM, erfc.MODE_MAINTENANCE,"
                  " erfc.EVENT_CONNECT_STATE_ERROR, erfc.STATE_NODE_REMOVED].join()"),
             QStringLiteral("0,7,10,12,16,0,3,2,1,1,2,1"));
    // No constant for 11, by name or by value.
    QCOMPARE(eval("'RESERVED' in erfc"), QStringLiteral("false"));
    QCOMPARE(eval("var n = 0; for (var k in erfc) if (erfc[k] === 11) ++n; n"), QStringLiteral("0"));
    // Read-only, but enumerable and deletable; the groups in order.
    QCOMPARE(eval("erfc.RSP_OK = 5; erfc.RSP_OK"), QStringLiteral("0"));
    QCOMPARE(eval("var keys = []; for (var k in erfc) if (/^[A-Z_0-9]+$/.test(k)) keys.push(k);"
                  " keys.length + ' ' + keys[0] + ' ' + keys[15] + ' ' + keys[16] + ' ' + keys[31]"),
             QStringLiteral("32 RSP_OK RSP_CONNECTION_ERROR PRIV_USER STATE_NODE_REMOVED"));
    QCOMPARE(eval("delete erfc.PRIV_ADMIN; 'PRIV_ADMIN' in erfc"), QStringLiteral("false"));
}

void tst_JsQErfc::methods()
{
    const QStringList expected{
        "registerFunction/2", "unregisterFunction/1", "registerEvent/1", "unregisterEvent/1",
        "send/4", "send/3", "send/2", "sendBlocking/3", "sendBlocking/2", "emitEvent/2",
        "emitEvent/1", "connectToEvent/3", "connectToEvent/2", "connectToEvent/1",
        "disconnectFromEvent/1", "waitForEventConnected/1", "waitForEventDisconnected/1",
        "waitForEvent/2", "waitForEvent/1", "nodeUpdate/1", "nodeUpdate/2", "nodeNew/1",
        "nodeNew/2", "nodeRemoved/1", "nodeRemoved/2", "isAvailable/1", "nodeWait/2",
        "nodeWait/3", "nodeInfo/2", "nodeInfo/1", "nodeStatistics/2", "nodeStatistics/1",
        "ping/2", "ping/1", "knownNodes/0", "functionIds/0", "eventIds/0"};
    const QMetaObject& meta = JsQErfc::staticMetaObject;
    QStringList methods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Public);
        methods << QString::fromLatin1(method.name()) + '/' + QString::number(method.parameterCount());
    }
    QCOMPARE(methods, expected);
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    for (const char* name : {"send", "sendBlocking", "nodeNew", "ping", "eventIds"})
        QCOMPARE(eval(QStringLiteral("typeof erfc.") + name), QStringLiteral("function"));
}

void tst_JsQErfc::formsByArgumentCount()
{
    // Watches: one argument is for all nodes, two for one node.
    eval("erfc.nodeNew(f); erfc.nodeNew(7, g); erfc.nodeUpdate(3, f); erfc.nodeRemoved(g)");
    QVERIFY(d()->m_newNodeCallback.function.strictlyEquals(m_engine->globalObject().property("f")));
    QVERIFY(d()->m_newNodeCallbacks.value(7).function.strictlyEquals(m_engine->globalObject().property("g")));
    QVERIFY(d()->m_updateCallback.function.isNull());
    QCOMPARE(d()->m_updateCallbacks.keys(), QList<quint8>{3});
    QVERIFY(d()->m_removedNodeCallback.function.strictlyEquals(m_engine->globalObject().property("g")));
    QVERIFY(d()->m_removedNodeCallbacks.isEmpty());
    // A per-node entry starts with three nulls; the node value is not kept.
    QVERIFY(d()->m_updateCallbacks.value(3).node.isNull());
    // Any value is stored; null switches a watch off, the others stay.
    eval("erfc.nodeNew(7, null)");
    QVERIFY(d()->m_newNodeCallbacks.value(7).function.isNull());
    QVERIFY(d()->m_newNodeCallback.function.isFunction());

    // send with two and three arguments fills null, not undefined: a
    // datagram refuses any callbacks but null.
    QCOMPARE(attempt("erfc.send(5, {fid: 1, type: 1})"), QStringLiteral("error: Can't send datagram, StackDisabled"));
    QCOMPARE(attempt("erfc.send(5, {fid: 1, type: 1}, {})"), QStringLiteral("error: Can't send datagram, StackDisabled"));
    QCOMPARE(attempt("erfc.send(5, {fid: 1, type: 1}, {}, undefined)"),
             QStringLiteral("error: For signature property type: REQUEST_TYPE_DATAGRAM are no functions allowed"));
    // Two arguments: the payload is null, so a described one is missing.
    QCOMPARE(attempt("erfc.sendBlocking(5, {fid: 1, request: [{a: dtype.INT8}]})"),
             QStringLiteral("error: property: a is missing!"));
    QVERIFY(attempt("erfc.send(5)").startsWith("error: "));
}

void tst_JsQErfc::nodeResolution_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("result"); // the address stored, or the error

    const QString none = "error: No node address available!";
    QTest::newRow("5") << "5" << "5";
    QTest::newRow("5.9") << "5.9" << "5";
    QTest::newRow("-0.5") << "-0.5" << "0";
    QTest::newRow("255.7") << "255.7" << "255";
    QTest::newRow("{address: 5}") << "{address: 5}" << "5";
    QTest::newRow("inherited address") << "Object.create({address: 5})" << "5";
    QTest::newRow("'5'") << "'5'" << none;
    QTest::newRow("{address: '5'}") << "{address: '5'}" << none;
    QTest::newRow("{}") << "{}" << none;
    QTest::newRow("null") << "null" << none;
    QTest::newRow("256") << "256" << none;
    QTest::newRow("-1") << "-1" << none;
    QTest::newRow("1e10") << "1e10" << none;
    QTest::newRow("NaN") << "NaN" << none;
    QTest::newRow("Infinity") << "Infinity" << none;
    QTest::newRow("-Infinity") << "{address: -Infinity}" << none;
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
}

void tst_JsQErfc::sendBlockingWithoutNode()
{
    QCOMPARE(eval("var r; try { erfc.sendBlocking({}, {fid: 1}) } catch (e) { r = e.message } r"),
             QStringLiteral("No node address available!"));
    // Called from C++ no error is pending in a script; the result is a boolean.
    const QScriptValue result = m_erfc->sendBlocking(QScriptValue(256), m_engine->newObject());
    QVERIFY(result.isBool());
    QCOMPARE(result.toBool(), false);
}

void tst_JsQErfc::isAvailable()
{
    QCOMPARE(attempt("erfc.isAvailable(9)"), QStringLiteral("false"));
    QCOMPARE(attempt("erfc.isAvailable({address: 9})"), QStringLiteral("false"));
}

void tst_JsQErfc::signatureTexts_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("error");

    QTest::newRow("fid missing") << "send(5, {})" << "property fid is missing!";
    QTest::newRow("fid 129") << "send(5, {fid: 129})" << "property fid must be between 0 and 128!";
    QTest::newRow("fid text") << "send(5, {fid: 'x'})" << "property fid must be a unsigned integer!";
    QTest::newRow("type 2") << "send(5, {fid: 1, type: 2})" << "property type, value:2, is not known/allowed!";
    QTest::newRow("type -1") << "send(5, {fid: 1, type: -1})" << "property type, value:-1, is not known/allowed!";
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
    QTest::newRow("payload missing") << "send(5, {fid: 1, request: [{a: dtype.INT8}]}, {})"
                                     << "property: a is missing!";
    QTest::newRow("char too long") << "send(5, {fid: 1, request: [{c: dtype.CHAR8}]}, {c: 'AB'})"
                                   << "property: c, type:char, is not one element!!";
    QTest::newRow("payload too big")
        << "send(5, {fid: 1, request: [{s: dtype.STRING()}]}, {s: '123456789012345678901234567890123'})"
        << "is to big, does not fit erfc payload!";
    QTest::newRow("timeout 9") << "send(5, {fid: 1, timeout: 9})" << "property timeout must be between 10 and 255!";
    QTest::newRow("timeout 256") << "send(5, {fid: 1, timeout: 256})" << "property timeout must be between 10 and 255!";
    QTest::newRow("timeout text") << "send(5, {fid: 1, timeout: 'x'})" << "property timeout must be a number!";
    QTest::newRow("retries 256") << "send(5, {fid: 1, retries: 256})" << "property retries must be between 0 and 255!";
    QTest::newRow("blocking fid") << "sendBlocking(5, {fid: 200})" << "property fid must be between 0 and 128!";
    QTest::newRow("blocking retries") << "sendBlocking(5, {fid: 1, retries: 300})"
                                      << "property retries must be between 0 and 255!";
    QTest::newRow("blocking ignores type") << "sendBlocking(5, {fid: 1, type: 7})" << "Can't send request, StackDisabled";
    // Callback objects.
    QTest::newRow("datagram with callbacks") << "send(5, {fid: 1, type: erfc.REQUEST_TYPE_DATAGRAM}, null, f)"
        << "For signature property type: REQUEST_TYPE_DATAGRAM are no functions allowed";
    QTest::newRow("datagram with empty object") << "send(5, {fid: 1, type: 1}, null, {})"
        << "For signature property type: REQUEST_TYPE_DATAGRAM are no functions allowed";
    QTest::newRow("unknown code name") << "send(5, {fid: 1}, null, {RSP_UNKNOWN_FID: f})"
                                       << "Function for response code RSP_UNKNOWN_FID is not known!";
    QTest::newRow("not a function") << "send(5, {fid: 1}, null, {RSP_OK: 5})" << "Function RSP_OK is not a function";
    QTest::newRow("always not a function") << "send(5, {fid: 1}, null, {Always: 'x'})"
                                           << "Function Always is not a function";
    QTest::newRow("unknown before not a function") << "send(5, {fid: 1}, null, {bogus: 5})"
                                                   << "Function for response code bogus is not known!";
    QTest::newRow("keys in order") << "send(5, {fid: 1}, null, {rsp_ok: 5, RSP_BUSY: 'x'})"
                                   << "Function RSP_BUSY is not a function";
    QTest::newRow("callbacks accepted") << "send(5, {fid: 1}, null, {rsp_ok: f, OTHER: g, always: f})"
                                        << "Can't send request, StackDisabled";
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

void tst_JsQErfc::callbackReader_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("result");
    QTest::newRow("both") << "({'function': function () { return 1 }, callback: function () { return 2 }})" << "1";
    QTest::newRow("function not a function")
        << "({'function': 5, callback: function () { return 2 }})" << "2";
    QTest::newRow("plain") << "(function () { return 3 })" << "3";
    QTest::newRow("function with function property")
        << "(function () { var h = function () { return 3 }; h['function'] = function () { return 4 }; return h })()"
        << "4";
    QTest::newRow("empty object") << "({})" << "No function available";
    QTest::newRow("null") << "null" << "No function available";
}

void tst_JsQErfc::callbackReader()
{
    QFETCH(QString, value);
    QString result;
    try {
        result = JsQErfcPrivate::scriptCallbackFunction(m_engine->QScriptEngine::evaluate(value)).call().toString();
    } catch (const QString& message) {
        result = message;
    }
    QTEST(result, "result");
}

void tst_JsQErfc::withoutScriptContext()
{
    // Slots called from C++: arguments without an engine take the engine the
    // object was installed in, and this is the global object.
    QVERIFY(!m_erfc->send(QScriptValue(), QScriptValue()));
    QVERIFY(m_engine->hasUncaughtException());
    QCOMPARE(m_engine->uncaughtException().property("message").toString(),
             QStringLiteral("No node address available!"));
    m_engine->clearExceptions();
    QVERIFY(!m_erfc->send(QScriptValue(5), QScriptValue(), QScriptValue(), QScriptValue()));
    QCOMPARE(m_engine->uncaughtException().property("message").toString(),
             QStringLiteral("property fid is missing!"));
    m_engine->clearExceptions();
    QVERIFY(!m_erfc->sendBlocking(QScriptValue(5), QScriptValue()).property("fid").isValid());
    QVERIFY(!m_erfc->isAvailable(QScriptValue()));
    m_erfc->nodeUpdate(QScriptValue(QScriptValue::NullValue), QScriptValue());
    m_engine->clearExceptions();
    m_erfc->nodeUpdate(m_engine->globalObject().property("f"));
    QVERIFY(d()->m_updateCallback.thisObject.strictlyEquals(m_engine->globalObject()));
    m_erfc->nodeNew(QScriptValue(4), QScriptValue());
    QVERIFY(d()->m_newNodeCallbacks.value(4).thisObject.strictlyEquals(m_engine->globalObject()));
    // In a script call this is the caller's this.
    eval("var watcher = {register: function () { erfc.nodeUpdate(f) }}; watcher.register()");
    QVERIFY(d()->m_updateCallback.thisObject.strictlyEquals(m_engine->globalObject().property("watcher")));
    // The remaining forms take no-value arguments without harm.
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
    const QScriptValue thrown = m_engine->uncaughtException();
    QVERIFY(thrown.isString());
    QCOMPARE(thrown.toString(), message);
    m_engine->clearExceptions();
    // An id unregistered before the event loop gets to it: nothing happens.
    d()->forceFunctionException(20, QStringLiteral("late"));
    d()->m_functionRegistry.clear();
    QCoreApplication::sendPostedEvents();
    QVERIFY(!m_engine->hasUncaughtException());
}

QTEST_GUILESS_MAIN(tst_JsQErfc)
#include "tst_jsqerfc.moc"
