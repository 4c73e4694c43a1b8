#include "jsrtetimer.h"
#include "jsrtetimer_p.h"

#include "jsrte.h"

#include <QScriptContext>
#include <QScriptEngine>

JsRteTimerPrivate::JsRteTimerPrivate(JsRteTimer* q)
    : QObject(q)
    , q(q)
{
}

JsRteTimerPrivate::~JsRteTimerPrivate()
{
    qDeleteAll(m_timers);
    m_timers.clear();
    for (const QPointer<JsRteTimerHelper>& timer : qAsConst(m_retired))
        delete timer.data();
    m_retired.clear();
}

int JsRteTimerPrivate::create(int timeout, const QScriptValue& function, bool singleShot)
{
    auto* timer = new JsRteTimerHelper;
    connect(timer, &QTimer::timeout, this, &JsRteTimerPrivate::onTimerTimeout);
    m_timers.append(timer);
    timer->m_id = ++m_lastId;
    timer->m_function = function;
    // The this of the script code that called; undefined from C++.
    const QScriptContext* context = q->context();
    if (context && context->parentContext())
        timer->m_thisObject = context->parentContext()->thisObject();
    else if (function.engine())
        timer->m_thisObject = function.engine()->undefinedValue();
    timer->setSingleShot(singleShot);
    timer->start(timeout);
    return timer->m_id;
}

bool JsRteTimerPrivate::stop(int id)
{
    for (int i = 0; i < m_timers.size(); ++i) {
        JsRteTimerHelper* timer = m_timers.at(i);
        if (timer->m_id != id)
            continue;
        timer->stop();
        m_timers.removeAt(i);
        // Not deleted at once: the timer may be the one whose expiry is running.
        timer->deleteLater();
        m_retired.removeAll(nullptr);
        m_retired.append(timer);
        return true;
    }
    return false;
}

int JsRteTimerPrivate::setInterval(int id, int interval)
{
    for (JsRteTimerHelper* timer : qAsConst(m_timers)) {
        if (timer->m_id == id) {
            timer->setInterval(interval);
            return id;
        }
    }
    return 0;
}

void JsRteTimerPrivate::onTimerTimeout()
{
    QPointer<JsRteTimerHelper> timer = qobject_cast<JsRteTimerHelper*>(sender());
    if (!timer)
        return;
    const int id = timer->m_id;
    const bool singleShot = timer->isSingleShot();
    if (!m_suspended && !timer->m_waiting) {
        // Copies: the call may stop the timer, or a nested event loop may delete it.
        const QScriptValue function = timer->m_function;
        const QScriptValue thisObject = timer->m_thisObject;
        // While the script is busy a repeating timer's expiries fold into
        // the one call that waits.
        timer->m_waiting = true;
        JsRte::runWhenIdle(function.engine(), [timer, singleShot, function, thisObject] {
            // A repeating timer stopped meanwhile calls no more.
            if (!singleShot && (!timer || !timer->isActive()))
                return;
            if (timer)
                timer->m_waiting = false;
            JsRte::call(function, thisObject);
        });
    }
    if (singleShot)
        stop(id);
}

JsRteTimer::JsRteTimer(QObject* parent)
    : JsRteExtension(parent)
    , d(new JsRteTimerPrivate(this))
{
    setName(QStringLiteral("timer"));
}

// The private part, a child as well, goes with the unique pointer first.
JsRteTimer::~JsRteTimer() = default;

void JsRteTimer::resume()
{
    d->m_suspended = false;
}

void JsRteTimer::suspend()
{
    d->m_suspended = true;
}

int JsRteTimer::start(int timeout, const QScriptValue& function)
{
    return d->create(timeout, function, false);
}

int JsRteTimer::singleShot(int timeout, const QScriptValue& function)
{
    return d->create(timeout, function, true);
}

bool JsRteTimer::stop(int index)
{
    return d->stop(index);
}

int JsRteTimer::setInterval(int index, int interval)
{
    return d->setInterval(index, interval);
}
