#include "erfceventsubscription_p.h"

#include "erfceventinbox_p.h"

#include "qerfceventconnect.h"
#include "qerfcexception.h"
#include "qerfcstack.h"

#include <QList>

namespace {

// How long an unsubscribe request whose node restarted meanwhile is given
// to end. Its retries (3 of 250 ms) are long over by then; its end shows
// nowhere, since the restart has already taken the subscription from the
// stack's table.
constexpr int LingerMs = 5000;

// Payloads handed on per turn of the event loop: about a millisecond's work
// when records fill two payloads each.
constexpr int InboxBatch = 256;

// Released subscriptions that are not gone yet; GUI thread only.
QList<ErfcEventSubscription*>& releasedSubscriptions()
{
    static QList<ErfcEventSubscription*> list;
    return list;
}

} // namespace

ErfcEventSubscription::ErfcEventSubscription(QErfcStack* stack, quint8 address, quint8 eventId,
                                             quint32 deliveryType)
    : m_stack(stack)
    , m_address(address)
    , m_eventId(eventId)
    , m_deliveryType(deliveryType)
    , m_inbox(std::make_shared<ErfcEventInbox>())
{
    m_inbox->setReceiver(this, [this] { takeFromInbox(); });
    m_more.setSingleShot(true);
    m_more.setInterval(0);
    connect(&m_more, &QTimer::timeout, this, &ErfcEventSubscription::takeFromInbox);
    m_linger.setSingleShot(true);
    m_linger.setInterval(LingerMs);
    connect(&m_linger, &QTimer::timeout, this, [this] { finishConnect(); });
    if (stack) {
        // Emitted on the stack thread, and on the caller's when the stack is
        // disabled: queued either way, in the order they were emitted.
        connect(stack, &QErfcStack::drcUpdate, this,
                [this](uchar addr, QErfc::DrcUpdate state, QErfc::Mode) { onStackDrcUpdate(addr, state); },
                Qt::QueuedConnection);
        // Emitted once the stack is gone entirely (thread stopped, requests
        // deleted): nothing uses the object any more.
        connect(stack, &QObject::destroyed, this, &ErfcEventSubscription::onStackDestroyed);
    }
}

ErfcEventSubscription::~ErfcEventSubscription()
{
    releasedSubscriptions().removeOne(this);
    m_inbox->setReceiver(nullptr, {});
    delete m_connect;
}

quint64 ErfcEventSubscription::dropped() const
{
    return m_inbox->dropped();
}

void ErfcEventSubscription::setPaused(bool paused)
{
    if (m_paused == paused)
        return;
    m_paused = paused;
    // Whatever came meanwhile; no wake-up comes for a box not emptied.
    if (!paused)
        m_more.start();
}

void ErfcEventSubscription::takeFromInbox()
{
    if (m_paused)
        return; // setPaused(false) comes back
    bool more = false;
    const QVector<ErfcEventInbox::Item> items = m_inbox->take(InboxBatch, &more);
    // The rest after the timers, input and painting that are due: a posted
    // call would be taken in the same pass over the queue as this one and
    // keep the flush of the view waiting.
    if (more)
        m_more.start();
    for (const ErfcEventInbox::Item& item : items) {
        if (item.droppedBefore)
            emit eventsDropped(item.droppedBefore);
        emit eventPayload(item.payload);
    }
}

int ErfcEventSubscription::lingering()
{
    return releasedSubscriptions().size();
}

void ErfcEventSubscription::newConnect()
{
    m_connect = new QErfcEventConnect(m_address, m_eventId, m_deliveryType);
    const quint64 serial = ++m_serial;
    // Right on the stack thread, into the inbox: a queued call per event
    // would let a chatty node fill the GUI thread's queue without bound.
    std::shared_ptr<ErfcEventInbox> inbox = m_inbox;
    connect(m_connect, &QErfcEventConnect::callSignal, m_connect,
            [inbox](const QErfcIncomingEvent& event) { inbox->put(event.payload()); },
            Qt::DirectConnection);
    // Emitted on the stack thread, or on the caller's when the stack
    // completes a request at once; queued always, so that the object is
    // never deleted inside its own emission.
    connect(m_connect, &QErfcEventConnect::stateChangedSignal, this,
            [this, serial](QErfc::EventState state) { onStateNotified(serial, state); },
            Qt::QueuedConnection);
}

ErfcEventSubscription* ErfcEventSubscription::predecessor() const
{
    for (ErfcEventSubscription* s : qAsConst(releasedSubscriptions())) {
        if (s != this && s->m_stack == m_stack && s->m_address == m_address && s->m_eventId == m_eventId)
            return s;
    }
    return nullptr;
}

void ErfcEventSubscription::subscribe()
{
    if (m_released || !m_stack)
        return;
    if (ErfcEventSubscription* earlier = predecessor()) {
        m_wantSubscribe = true;
        if (m_waitingFor != earlier) {
            m_waitingFor = earlier;
            connect(earlier, &QObject::destroyed, this, [this] {
                if (m_wantSubscribe) {
                    m_wantSubscribe = false;
                    subscribe();
                }
            });
        }
        return;
    }

    switch (m_phase) {
    case Subscribing:
        // Decided by its answer: up, or sent again.
        m_wantSubscribe = true;
        return;
    case Subscribed:
        if (m_connect->state() == QErfc::EventConnected)
            return;
        // Taken from the stack's table meanwhile; its state change is still
        // on its way and will be ignored.
        finishConnect();
        break;
    case Idle:
    case Unsubscribing:
    case Lingering:
        break;
    }

    if (!m_connect)
        newConnect();
    m_phase = Subscribing;
    bool sent = false;
    try {
        sent = m_stack->connectToEvent(m_connect);
    } catch (const QErfcException&) {
    }
    if (!sent) {
        // Nothing is out for the object. When the stack completed it at once
        // (an unknown node), it reads error and its notice is queued: that
        // notice still reports the end of this attempt. The next attempt
        // starts with a fresh object.
        if (m_connect->state() != QErfc::EventDisconnected)
            m_refusedSerial = m_serial;
        m_phase = Idle;
        delete m_connect;
        m_connect = nullptr;
    }
}

void ErfcEventSubscription::release()
{
    m_released = true;
    m_wantSubscribe = false;
    m_inbox->setReceiver(nullptr, {});
    releasedSubscriptions().append(this);
    switch (m_phase) {
    case Idle:
        delete this;
        return;
    case Subscribing:
        return; // its answer decides
    case Subscribed:
        unsubscribe();
        return;
    case Unsubscribing:
    case Lingering:
        return;
    }
}

void ErfcEventSubscription::unsubscribe()
{
    if (m_connect->state() != QErfc::EventConnected) {
        // Dropped by the stack already; its state change is on its way.
        finishConnect();
        return;
    }
    bool sent = false;
    try {
        sent = m_stack->disconnectFromEvent(m_connect);
    } catch (const QErfcException&) {
    }
    if (sent) {
        m_phase = Unsubscribing;
        m_nodeDroppedWhileUnsubscribing = false;
        return;
    }
    // No request went out. Either the subscription has left the stack's
    // table, or it is still there (a disable on another thread about to
    // drop it): then its state change to disconnected is awaited.
    if (m_connect->state() != QErfc::EventConnected)
        finishConnect();
}

void ErfcEventSubscription::onStateNotified(quint64 serial, QErfc::EventState state)
{
    if (serial == m_refusedSerial) {
        // A refused attempt's object is gone; its end shows all the same.
        m_refusedSerial = 0;
        if (!m_released)
            emit stateChanged(state);
        return;
    }
    if (serial != m_serial || !m_connect)
        return; // an earlier object's, already gone
    if (!m_released)
        emit stateChanged(state);

    // The object's state now, not the one reported: later changes may have
    // overtaken this notice.
    const bool up = m_connect->state() == QErfc::EventConnected;
    switch (m_phase) {
    case Subscribing:
        // From disconnected, the first change is the answer to the request.
        if (up) {
            m_phase = Subscribed;
            m_wantSubscribe = false;
            if (m_released)
                unsubscribe();
            return;
        }
        if (finishConnect())
            return;
        if (m_wantSubscribe) {
            m_wantSubscribe = false;
            subscribe();
        }
        return;
    case Subscribed:
        if (!up)
            finishConnect();
        return;
    case Unsubscribing:
        if (up)
            return;
        if (m_nodeDroppedWhileUnsubscribing) {
            // The node restarted before it answered: the restart took the
            // subscription from the table, the request is still out.
            m_phase = Lingering;
            m_linger.start();
            return;
        }
        finishConnect();
        return;
    case Idle:
    case Lingering:
        return;
    }
}

void ErfcEventSubscription::onStackDrcUpdate(uchar addr, QErfc::DrcUpdate state)
{
    // A node removal completes the outstanding requests before it is
    // reported; a restart reports first and leaves them out.
    if (addr == m_address && state == QErfc::RemovedNode && m_phase == Unsubscribing)
        m_nodeDroppedWhileUnsubscribing = true;
}

bool ErfcEventSubscription::finishConnect()
{
    m_linger.stop();
    delete m_connect;
    m_connect = nullptr;
    m_phase = Idle;
    if (m_released) {
        delete this;
        return true;
    }
    return false;
}

void ErfcEventSubscription::onStackDestroyed()
{
    if (m_released) {
        delete this;
        return;
    }
    m_linger.stop();
    delete m_connect;
    m_connect = nullptr;
    m_phase = Idle;
    m_wantSubscribe = false;
}
