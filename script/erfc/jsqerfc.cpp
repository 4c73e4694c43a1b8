#include "jsqerfc.h"
#include "jsqerfc_p.h"
#include "qerfcstack.h"

JsQErfc::JsQErfc(QErfcStack* stack, QObject* parent)
    : JsRteExtension(parent)
    , d(new JsQErfcPrivate(stack, this))
{
    setName(QStringLiteral("erfc"));
}

// The private part goes first: it withdraws what the script registered with
// the stack while this object is still whole.
JsQErfc::~JsQErfc()
{
    delete d;
}

void JsQErfc::install(QScriptEngine* engine, QScriptValue& object)
{
    d->m_engine = engine;
    d->installConstants(engine, object);
}

void JsQErfc::resume()
{
    d->m_suspended = false;
}

void JsQErfc::suspend()
{
    d->m_suspended = true;
}

void JsQErfc::registerFunction(QScriptValue signature, QScriptValue function)
{
    d->registerFunction(signature, function);
}

void JsQErfc::unregisterFunction(QScriptValue signature)
{
    d->unregisterFunction(signature);
}

void JsQErfc::registerEvent(QScriptValue signature)
{
    d->registerEvent(signature);
}

void JsQErfc::unregisterEvent(QScriptValue signature)
{
    d->unregisterEvent(signature);
}

bool JsQErfc::send(QScriptValue node, QScriptValue signature, QScriptValue payload,
                   QScriptValue functions)
{
    uchar address = 0;
    try {
        address = JsQErfcPrivate::scriptNodeAddress(node);
    } catch (const QString& message) {
        JsQErfcPrivate::raise(d->engineOf({signature, node, payload, functions}), message + '!');
        return false;
    }
    return d->send(address, signature, payload, functions);
}

QScriptValue JsQErfc::sendBlocking(QScriptValue node, QScriptValue signature, QScriptValue payload)
{
    uchar address = 0;
    try {
        address = JsQErfcPrivate::scriptNodeAddress(node);
    } catch (const QString& message) {
        JsQErfcPrivate::raise(d->engineOf({signature, node, payload}), message + '!');
        return QScriptValue(false);
    }
    return d->sendBlocking(address, signature, payload);
}

bool JsQErfc::emitEvent(QScriptValue signature, QScriptValue payload)
{
    return d->emitEvent(signature, payload);
}

bool JsQErfc::connectToEvent(QScriptValue signature, QScriptValue functionCall,
                             QScriptValue functionStateChanged)
{
    return d->connectToEvent(signature, functionCall, functionStateChanged);
}

void JsQErfc::disconnectFromEvent(QScriptValue signature)
{
    d->disconnectFromEvent(signature);
}

bool JsQErfc::waitForEventConnected(QScriptValue signature)
{
    return d->waitForEventConnected(signature);
}

void JsQErfc::waitForEventDisconnected(QScriptValue signature)
{
    d->waitForEventDisconnected(signature);
}

QScriptValue JsQErfc::waitForEvent(QScriptValue signature, int timeout)
{
    return d->waitForEvent(signature, timeout);
}

QScriptValue JsQErfc::waitForEvent(QScriptValue signature)
{
    return waitForEvent(signature, 0);
}

namespace {

// A node watch for all nodes: the function as given, with the this of the
// script code that registered it.
void watchAll(JsQErfcPrivate* d, JsQErfcCallback& callback, const QScriptValue& function)
{
    callback.thisObject = JsQErfcPrivate::callerThis(d->engineOf({function}));
    callback.function = function;
}

// A node watch for one node; without a node nothing is stored.
void watchNode(JsQErfcPrivate* d, QHash<quint8, JsQErfcCallback>& table, const QScriptValue& node,
               const QScriptValue& function)
{
    uchar address = 0;
    try {
        address = JsQErfcPrivate::scriptNodeAddress(node);
    } catch (const QString& message) {
        JsQErfcPrivate::raise(d->engineOf({node, function}), message + '!');
        return;
    }
    JsQErfcCallback& callback = table[address];
    callback.thisObject = JsQErfcPrivate::callerThis(d->engineOf({function, node}));
    callback.function = function;
}

} // namespace

void JsQErfc::nodeUpdate(QScriptValue function)
{
    watchAll(d, d->m_updateCallback, function);
}

void JsQErfc::nodeUpdate(QScriptValue node, QScriptValue function)
{
    watchNode(d, d->m_updateCallbacks, node, function);
}

void JsQErfc::nodeNew(QScriptValue function)
{
    watchAll(d, d->m_newNodeCallback, function);
}

void JsQErfc::nodeNew(QScriptValue node, QScriptValue function)
{
    watchNode(d, d->m_newNodeCallbacks, node, function);
}

void JsQErfc::nodeRemoved(QScriptValue function)
{
    watchAll(d, d->m_removedNodeCallback, function);
}

void JsQErfc::nodeRemoved(QScriptValue node, QScriptValue function)
{
    watchNode(d, d->m_removedNodeCallbacks, node, function);
}

bool JsQErfc::isAvailable(QScriptValue node)
{
    uchar address = 0;
    try {
        address = JsQErfcPrivate::scriptNodeAddress(node);
    } catch (const QString& message) {
        JsQErfcPrivate::raise(d->engineOf({node}), message + '!');
        return false;
    }
    return d->m_stack && d->m_stack->knownNodes().contains(address);
}

bool JsQErfc::nodeWait(QScriptValue node, int timeout)
{
    return d->nodeWait(node, timeout);
}

bool JsQErfc::nodeWait(QScriptValue node, int mode, int timeout)
{
    return d->nodeWait(node, mode, timeout);
}

void JsQErfc::nodeInfo(QScriptValue node, QScriptValue function)
{
    d->nodeInfo(node, function);
}

QScriptValue JsQErfc::nodeInfo(QScriptValue node)
{
    return d->nodeInfo(node);
}

void JsQErfc::nodeStatistics(QScriptValue node, QScriptValue function)
{
    d->nodeStatistics(node, function);
}

QScriptValue JsQErfc::nodeStatistics(QScriptValue node)
{
    return d->nodeStatistics(node);
}

void JsQErfc::ping(QScriptValue node, QScriptValue function)
{
    d->ping(node, function, 32);
}

QScriptValue JsQErfc::ping(QScriptValue node)
{
    return d->ping(node, uchar(32));
}

QVariantList JsQErfc::knownNodes()
{
    return d->knownNodes();
}

QVariantList JsQErfc::functionIds()
{
    return d->functionIds();
}

QVariantList JsQErfc::eventIds()
{
    return d->eventIds();
}
