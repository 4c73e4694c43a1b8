#include "jsqerfcreaper_p.h"
#include "jsqerfceventconnect_p.h"
#include "qerfcexception.h"
#include "qerfcstack.h"

JsQErfcReaper* JsQErfcReaper::instance()
{
    // Never freed: it outlives every binding, on the thread of the first.
    static JsQErfcReaper* reaper = new JsQErfcReaper;
    return reaper;
}

void JsQErfcReaper::take(QErfcStack* stack, JsQErfcEventConnect* subscription)
{
    if (!subscription || m_held.contains(subscription))
        return;
    m_held.insert(subscription, stack);
    // Queued with the subscription as the receiver: nothing queued for it
    // outlives it, and it is only ever deleted on this thread.
    for (auto signal : {&QErfcEventConnect::connected, &QErfcEventConnect::error,
                        &QErfcEventConnect::disconnected}) {
        connect(subscription, signal, subscription, [this, subscription] { review(subscription); },
                Qt::QueuedConnection);
    }
    connect(subscription, &QObject::destroyed, this,
            [this, subscription] { m_held.remove(subscription); });
    if (stack && !m_watched.contains(stack)) {
        m_watched.insert(stack);
        // A stack that goes answers nothing more: free what waits for it.
        connect(stack, &QObject::destroyed, this, [this, stack] {
            m_watched.remove(stack);
            const QList<JsQErfcEventConnect*> held = m_held.keys();
            for (JsQErfcEventConnect* s : held) {
                if (!m_held.value(s))
                    release(s);
            }
        });
    }
    review(subscription);
}

void JsQErfcReaper::supersede(JsQErfcEventConnect* subscription)
{
    if (m_held.contains(subscription))
        release(subscription);
}

void JsQErfcReaper::review(JsQErfcEventConnect* subscription)
{
    const auto it = m_held.constFind(subscription);
    if (it == m_held.cend())
        return;
    QErfcStack* stack = it->data();
    if (stack) {
        if (subscription->isSubscribing() || subscription->isUnsubscribing())
            return;
        if (subscription->state() == QErfc::EventConnected) {
            bool sent = false;
            try {
                sent = stack->disconnectFromEvent(subscription);
            } catch (const QErfcException&) {
                // Disabled: the stack has dropped its subscriptions.
            }
            if (sent) {
                subscription->setUnsubscribeSent();
                return;
            }
        }
    }
    release(subscription);
}

void JsQErfcReaper::release(JsQErfcEventConnect* subscription)
{
    m_held.remove(subscription);
    subscription->deleteLater();
}
