#include "jsrte_p.h"
#include "jsrteextension.h"
#include "jsrtewidgetfactory.h"

#include <QLayout>
#include <QScriptContext>

#include <private/qobject_p.h>
#include <private/qthread_p.h>

JsRtePrivate::JsRtePrivate(JsRte* q)
    : QObject(q)
    , q(q)
{
    m_waitingTimer.setSingleShot(true);
    m_waitingTimer.setInterval(10);
    connect(&m_waitingTimer, &QTimer::timeout, this, &JsRtePrivate::runWaiting);
}

JsRtePrivate::~JsRtePrivate()
{
    // What still waits is dropped; what the teardown below calls runs now,
    // also inside another callback.
    m_tearingDown = true;
    m_waiting.clear();
    m_waitingTimer.stop();
    stopEvaluation();
    // Extensions go first, while the form, the globals and this object are
    // whole: their teardown may still call into scripts (an fs action that
    // fails with "deleted" runs the script's callbacks).
    deleteExtensionsOnReset();
    for (const QPointer<JsRteExtension>& extension : qAsConst(m_extensionsDeleteOnDestroy))
        delete extension.data();
    m_extensionsDeleteOnDestroy.clear();
    m_extensions.clear();
    reset();
    qDeleteAll(m_factoriesDeleteOnDestroy);
    m_factoriesDeleteOnDestroy.clear();
    m_factories.clear();
}

namespace {

// Where invoke() leaves what the evaluation calls; a name no script uses.
const QString CallSlot = QStringLiteral("__quorvelCall");

QScriptValue enterFunction(QScriptContext* context, QScriptEngine* engine)
{
    // From a signal handler's wrapper: the handler, its this, its arguments.
    return JsRtePrivate::get(engine)->enterHandler(context->argument(0), context->argument(1), context->argument(2));
}

QScriptValue isScriptObject(QScriptContext* context, QScriptEngine*)
{
    const QScriptValue value = context->argument(0);
    return value.isObject() && !value.isQObject() && !value.isQMetaObject() && !value.isVariant();
}

// How many events the thread of `object` is delivering at once, one inside
// another; asked on that thread.
int eventLevel(QObject* object)
{
    return QObjectPrivate::get(object)->threadData.loadRelaxed()->scopeLevel;
}

} // namespace

JsRtePrivate::Evaluation::Evaluation(JsRtePrivate* d)
    : m_d(d)
{
    if (d->m_evaluations++ == 0)
        d->m_eventLevel = eventLevel(d);
}

JsRtePrivate::Evaluation::~Evaluation()
{
    if (m_d)
        --m_d->m_evaluations;
}

bool JsRtePrivate::insideLaterEvent() const
{
    return m_evaluations > 0 && eventLevel(q) > m_eventLevel;
}

QScriptValue JsRtePrivate::enterHandler(const QScriptValue& function, const QScriptValue& thisObject,
                                        const QScriptValue& arguments)
{
    // A signal the running script emits itself (it clicks a button, sets a
    // value) runs its handler now, as the script expects. One that an event
    // brings while the script is busy (a timer of a widget, another window's
    // doing) would run it inside the busy one: it waits like any callback.
    if (!insideLaterEvent())
        return invoke(function, thisObject, arguments, false);
    // The wrapper's arguments object is copied: the wrapper returns before
    // the handler runs.
    QScriptValueList values;
    const quint32 count = arguments.property(QStringLiteral("length")).toUInt32();
    for (quint32 i = 0; i < count; ++i)
        values << arguments.property(i);
    q->runWhenIdle([this, function, thisObject, values] { invoke(function, thisObject, arrayOf(values), false); });
    return q->undefinedValue();
}

QScriptValue JsRtePrivate::invoke(const QScriptValue& function, const QScriptValue& thisObject,
                                  const QScriptValue& arguments, bool construct)
{
    // A call from C++ is no evaluation to QtScript: the engine would not
    // count as evaluating and could not be aborted inside it. An evaluation
    // that calls the function is both.
    static const QScriptProgram apply(CallSlot + QStringLiteral(".f.apply(") + CallSlot + QStringLiteral(".t, ")
                                          + CallSlot + QStringLiteral(".a)"),
                                      QStringLiteral("<call>"));
    static const QScriptProgram create(QStringLiteral("(function (c) { switch (c.a.length) {"
                                                      " case 0: return new c.f();"
                                                      " case 1: return new c.f(c.a[0]);"
                                                      " default: return new c.f(c.a[0], c.a[1]); } })(")
                                           + CallSlot + QStringLiteral(")"),
                                       QStringLiteral("<construct>"));
    if (m_stopped) {
        // Stopped inside an evaluation that is still unwinding: it ends too.
        if (q->isEvaluating())
            q->abortEvaluation();
        return q->undefinedValue();
    }
    QScriptValue global = q->globalObject();
    const QScriptValue saved = global.property(CallSlot);
    QScriptValue call = q->newObject();
    call.setProperty(QStringLiteral("f"), function);
    call.setProperty(QStringLiteral("t"), thisObject);
    call.setProperty(QStringLiteral("a"), arguments);
    global.setProperty(CallSlot, call, QScriptValue::SkipInEnumeration);
    QScriptValue result;
    {
        const Evaluation counted(this);
        result = q->QScriptEngine::evaluate(construct ? create : apply);
    }
    global.setProperty(CallSlot, saved, QScriptValue::SkipInEnumeration);
    // A nested evaluation may have begun after the stop and cleared the
    // abort: the one around it ends as well.
    if (m_stopped && q->isEvaluating())
        q->abortEvaluation();
    return result;
}

QScriptValue JsRtePrivate::arrayOf(const QScriptValueList& values)
{
    QScriptValue array = q->newArray(uint(values.size()));
    for (int i = 0; i < values.size(); ++i)
        array.setProperty(quint32(i), values.at(i));
    return array;
}

void JsRtePrivate::wrapSignalHandlers()
{
    // Each function connected to a signal is connected through a wrapper
    // that calls it by invoke(); disconnect finds the wrapper again. One
    // wrapper per function and receiver, kept on the function. A function
    // may also be named, as a member of a script object (a QObject's member
    // named so is its slot, connected as it is).
    const QScriptValue install = q->QScriptEngine::evaluate(QStringLiteral(R"((function (enter, isScriptObject) {
        var connect = Function.prototype.connect;
        var disconnect = Function.prototype.disconnect;
        function wrapperOf(fn, receiver, make) {
            var list = fn.hasOwnProperty('__quorvelWrappers') ? fn.__quorvelWrappers : null;
            for (var i = 0; list && i < list.length; ++i) {
                if (list[i].receiver === receiver)
                    return list[i].wrapper;
            }
            if (!make)
                return undefined;
            var wrapper = function () { return enter(fn, receiver === undefined ? this : receiver, arguments); };
            if (!list) {
                list = [];
                Object.defineProperty(fn, '__quorvelWrappers', {value: list, enumerable: false});
            }
            list.push({receiver: receiver, wrapper: wrapper});
            return wrapper;
        }
        function handlerOf(receiver, b) {
            if (typeof b == 'function')
                return b;
            if (typeof b == 'string' && isScriptObject(receiver) && typeof receiver[b] == 'function')
                return receiver[b];
            return undefined;
        }
        Function.prototype.connect = function (a, b) {
            var f;
            if (arguments.length == 1 && typeof a == 'function')
                return connect.call(this, wrapperOf(a, undefined, true));
            if (arguments.length == 2 && (f = handlerOf(a, b)))
                return connect.call(this, a, wrapperOf(f, a, true));
            return connect.apply(this, arguments);
        };
        Function.prototype.disconnect = function (a, b) {
            var f, w;
            if (arguments.length == 1 && typeof a == 'function' && (w = wrapperOf(a, undefined, false)))
                return disconnect.call(this, w);
            if (arguments.length == 2 && (f = handlerOf(a, b)) && (w = wrapperOf(f, a, false)))
                return disconnect.call(this, a, w);
            return disconnect.apply(this, arguments);
        };
    }))"), QStringLiteral("<signals>"));
    QScriptValue(install).call(q->globalObject(),
                               QScriptValueList{q->newFunction(enterFunction, 3), q->newFunction(isScriptObject, 1)});
}

void JsRtePrivate::runWaiting()
{
    QPointer<JsRtePrivate> self(this);
    while (self && !q->isEvaluating() && !m_waiting.isEmpty()) {
        const std::function<void()> next = m_waiting.takeFirst();
        next();
    }
    if (self && !m_waiting.isEmpty())
        m_waitingTimer.start();
}

void JsRtePrivate::stopEvaluation()
{
    q->clearExceptions();
    if (q->isEvaluating())
        q->abortEvaluation();
}

void JsRtePrivate::deleteExtensionsOnReset()
{
    while (!m_extensionsDeleteOnReset.isEmpty()) {
        JsRteExtension* extension = m_extensionsDeleteOnReset.takeFirst();
        for (auto it = m_extensions.begin(); it != m_extensions.end();) {
            if (it.value() == extension || it.value().isNull())
                it = m_extensions.erase(it);
            else
                ++it;
        }
        delete extension;
    }
}

void JsRtePrivate::reset()
{
    stopEvaluation();
    // Before the form goes, as in the destructor.
    deleteExtensionsOnReset();
    // What the extensions' teardown left behind.
    stopEvaluation();
    m_initialised = false;

    if (m_form) {
        QWidget* form = m_form;
        if (m_uiHost && m_uiHost->layout())
            m_uiHost->layout()->removeWidget(form);
        form->hide();
        form->setParent(nullptr);
        delete form;
    }
    m_form = nullptr;

    while (!m_factoriesDeleteOnReset.isEmpty()) {
        JsRteWidgetFactory* factory = m_factoriesDeleteOnReset.takeFirst();
        for (auto it = m_factories.begin(); it != m_factories.end();) {
            if (it.value() == factory)
                it = m_factories.erase(it);
            else
                ++it;
        }
        delete factory;
    }
}
