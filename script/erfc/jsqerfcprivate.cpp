#include "jsqerfc_p.h"
#include "jsqerfcbridge_p.h"
#include "jsqerfceventconnect_p.h"
#include "jsqerfcreaper_p.h"
#include "qerfcevent.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcguiwait.h"
#include "qerfcstack.h"
#include "jsrte.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>
#include <QScriptContext>

#include <cmath>

namespace {

// Slices of a blocking wait; between two the wait can do other work.
constexpr int WaitSliceMs = 10;

// Text that a double-quoted script string literal reproduces exactly.
QString quotedForScript(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '"': out += QLatin1String("\\\""); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case 0x2028: out += QLatin1String("\\u2028"); break;
        case 0x2029: out += QLatin1String("\\u2029"); break;
        default: out += c; break;
        }
    }
    return out;
}

} // namespace

JsQErfcPrivate::JsQErfcPrivate(QErfcStack* stack, JsQErfc* q)
    : QObject(q)
    , q(q)
    , m_stack(stack)
    , m_bridge(std::make_shared<JsQErfcFunctionBridge>(this))
{
    QErfc::registerMetaTypes();
    // Node changes come from the stack thread.
    if (m_stack) {
        connect(m_stack, &QErfcStack::drcUpdate, this, &JsQErfcPrivate::onDrcUpdate,
                Qt::QueuedConnection);
    }
}

JsQErfcPrivate::~JsQErfcPrivate()
{
    // Marked as a wait: a node's call handed to this thread meanwhile is
    // given up at once, and unsubscribing may wait for a node's window.
    QErfcGuiWait guiWait;
    QMutexLocker functionLock(&m_functionMutex);
    QMutexLocker eventLock(&m_eventMutex);
    QMutexLocker eventConnectsLock(&m_eventConnectsMutex);
    for (const JsQErfcFunctionEntry& entry : qAsConst(m_functionRegistry)) {
        // Deleted by the stack once a call of it in progress is over.
        if (m_stack)
            m_stack->releaseFunction(entry.functionObject);
        else
            delete entry.functionObject;
    }
    m_functionRegistry.clear();
    for (const JsQErfcEventEntry& entry : qAsConst(m_eventRegistry)) {
        if (m_stack)
            m_stack->unregisterEvent(entry.eventObject);
        delete entry.eventObject;
    }
    m_eventRegistry.clear();
    // Connected subscriptions are unsubscribed; each is freed once the
    // stack is done with it.
    for (const auto& byEvent : qAsConst(m_eventConnects)) {
        for (const JsQErfcEventConnectEntry& entry : byEvent)
            JsQErfcReaper::instance()->take(m_stack, entry.eventConnect);
    }
    m_eventConnects.clear();
}

uchar JsQErfcPrivate::scriptNodeAddress(const QScriptValue& node)
{
    double number = 0;
    if (node.isNumber()) {
        number = node.toNumber();
    } else {
        const QScriptValue address = node.property(QStringLiteral("address"));
        if (!address.isNumber())
            throw QStringLiteral("No node address available");
        number = address.toNumber();
    }
    // Only a number that truncates into 0..255 names a node; nothing is
    // wrapped onto another node.
    const double truncated = std::trunc(number);
    if (!std::isfinite(number) || truncated < 0 || truncated > 255)
        throw QStringLiteral("No node address available");
    return uchar(truncated);
}

QScriptValue JsQErfcPrivate::scriptCallbackFunction(const QScriptValue& value)
{
    const QScriptValue function = value.property(QStringLiteral("function"));
    if (function.isFunction())
        return function;
    const QScriptValue callback = value.property(QStringLiteral("callback"));
    if (callback.isFunction())
        return callback;
    if (value.isFunction())
        return value;
    throw QStringLiteral("No function available");
}

void JsQErfcPrivate::forceFunctionException(quint8 fid, const QString& message)
{
    // No script call is in progress: the error is thrown once the event loop
    // gets back to the script's thread.
    QMetaObject::invokeMethod(this, "onForceFunctionExceptionCtxSwitch", Qt::QueuedConnection,
                              Q_ARG(uchar, fid), Q_ARG(QString, message));
}

void JsQErfcPrivate::onForceFunctionExceptionCtxSwitch(uchar fid, QString message)
{
    const auto it = m_functionRegistry.constFind(fid);
    if (it == m_functionRegistry.cend())
        return;
    QScriptEngine* engine = it->function.engine();
    if (!engine)
        engine = it->thisObject.engine();
    if (!engine)
        return;
    // The message is thrown as a string, quoted so that every character of
    // it arrives as it was.
    engine->evaluate(QStringLiteral("throw(\"%1\");").arg(quotedForScript(message)), QString(), 1);
}

QScriptEngine* JsQErfcPrivate::engineOf(std::initializer_list<QScriptValue> values) const
{
    for (const QScriptValue& value : values) {
        if (QScriptEngine* engine = value.engine())
            return engine;
    }
    return m_engine.data();
}

QScriptValue JsQErfcPrivate::callerThis(QScriptEngine* engine)
{
    if (!engine)
        return QScriptValue(QScriptValue::NullValue);
    QScriptContext* context = engine->currentContext();
    if (context && context->parentContext())
        return context->parentContext()->thisObject();
    return engine->globalObject();
}

void JsQErfcPrivate::raise(QScriptEngine* engine, const QString& text)
{
    if (!engine)
        return;
    if (QScriptContext* context = engine->currentContext())
        context->throwError(text);
}

bool JsQErfcPrivate::blockingWait(int msecs, const std::function<bool(int)>& waitSome, QScriptEngine* engine)
{
    QErfcGuiWait guiWait;
    const QDeadlineTimer deadline(msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                            : QDeadlineTimer(msecs));
    // Only a JsRte can be stopped; the scripts run on the GUI thread.
    QPointer<JsRte> script = qobject_cast<JsRte*>(engine);
    const bool responsive = msecs < 0 && script && QThread::currentThread() == QCoreApplication::instance()->thread();
    for (;;) {
        const qint64 left = deadline.remainingTime();
        const int slice = left < 0 ? WaitSliceMs : int(qMin<qint64>(left, WaitSliceMs));
        if (waitSome(slice))
            return true;
        if (deadline.hasExpired())
            return false;
        if (responsive) {
            QCoreApplication::processEvents();
            if (!script || script->isStopped())
                return false;
        }
    }
}
