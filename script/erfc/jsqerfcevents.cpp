// Events the script offers (registerEvent, unregisterEvent, emitEvent) and
// its subscriptions to other nodes' events.

#include "jsqerfc_p.h"
#include "jsrte.h"

#include <QPointer>
#include "jsqerfccodec_p.h"
#include "jsqerfceventconnect_p.h"
#include "jsqerfcreaper_p.h"
#include "jsqerfcsignature_p.h"
#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfcexception.h"
#include "qerfcstack.h"

#include <memory>

namespace {

QString stackError(const QErfcException& e)
{
    return QString::fromLatin1(e.what());
}

QString stackMissing()
{
    return stackError(QErfcException(QErfcException::StackDisabled));
}

// An event as a subscription's script sees it.
QScriptValue eventToScriptValue(QScriptEngine* engine, const JsQErfcEventConnectEntry& entry,
                                const QErfcIncomingEvent& event)
{
    QScriptValue object = engine->newObject();
    QScriptValue payloadObject = engine->newObject();
    decodePayload(entry.payloadDescription, event.payload(), payloadObject);
    object.setProperty(QStringLiteral("eid"), int(event.eventId()));
    object.setProperty(QStringLiteral("address"), int(event.address()));
    object.setProperty(QStringLiteral("privilege"), event.privilege());
    object.setProperty(QStringLiteral("payload"), payloadObject);
    object.setProperty(QStringLiteral("length"), event.payload().size());
    object.setProperty(QStringLiteral("relatedSignature"), entry.signature);
    return object;
}

// The pair a subscription signature names.
void readPair(const QVariantMap& map, quint8* address, quint8* eid)
{
    readUIntProperty(*address, 0, 63, map, QStringLiteral("address"));
    readUIntProperty(*eid, 0, 128, map, QStringLiteral("eid"));
}

QString notRegistered(quint8 address, quint8 eid)
{
    return QStringLiteral("Event for address: %1 and id: %2 does not Exist!").arg(address).arg(eid);
}

// Bound of a wait for a subscription's request: the stack gives up after its
// retries; the second more covers its checks. The request itself waits at
// least the stack's default time-out per try.
int requestBound(const QErfcEventConnect* subscription)
{
    const int timeout = qMax(int(subscription->timeout()), 250);
    return (int(subscription->retries()) + 1) * timeout + 1000;
}

} // namespace

// ---------------------------------------------------------------- events offered

void JsQErfcPrivate::registerEvent(QScriptValue signature)
{
    QScriptEngine* engine = engineOf({signature});
    QMutexLocker lock(&m_eventMutex);
    const QVariantMap map = signature.toVariant().toMap();
    quint8 eid = 0;
    int privilege = 0;
    try {
        readUIntProperty(eid, 16, 128, map, QStringLiteral("eid"));
        readPrivilegeProperty(privilege, map, QStringLiteral("privilege"));
    } catch (const QString& message) {
        raise(engine, message + '!');
        return;
    }
    const QString description = map.value(QStringLiteral("description")).toString();
    JsQErfcEventEntry entry;
    const auto payload = map.constFind(QStringLiteral("payload"));
    if (payload != map.cend()) {
        try {
            parsePayloadDescription(entry.payloadDescription, payload->toList());
        } catch (const QString& message) {
            raise(engine, message);
            return;
        }
    }
    if (!m_stack) {
        raise(engine, QStringLiteral("Can't register event, %1").arg(stackMissing()));
        return;
    }
    std::unique_ptr<QErfcEvent> event(new QErfcEvent(eid, description, QErfc::Privilege(privilege)));
    try {
        m_stack->registerEvent(event.get());
    } catch (const QErfcException& e) {
        raise(engine, QStringLiteral("Can't register event, %1").arg(stackError(e)));
        return;
    }
    entry.eventObject = event.release();
    m_eventRegistry.insert(eid, entry);
}

void JsQErfcPrivate::unregisterEvent(QScriptValue signature)
{
    QScriptEngine* engine = engineOf({signature});
    QMutexLocker lock(&m_eventMutex);
    quint8 eid = 0;
    try {
        readUIntProperty(eid, 16, 128, signature.toVariant().toMap(), QStringLiteral("eid"));
    } catch (const QString& message) {
        raise(engine, message);
        return;
    }
    const auto it = m_eventRegistry.find(eid);
    if (it == m_eventRegistry.end())
        return;
    QErfcEvent* event = it->eventObject;
    m_eventRegistry.erase(it);
    if (m_stack)
        m_stack->unregisterEvent(event);
    delete event;
}

bool JsQErfcPrivate::emitEvent(QScriptValue signature, QScriptValue payload)
{
    QScriptEngine* engine = engineOf({signature, payload});
    QMutexLocker lock(&m_eventMutex);
    quint8 eid = 0;
    try {
        readUIntProperty(eid, 16, 128, signature.toVariant().toMap(), QStringLiteral("eid"));
    } catch (const QString& message) {
        raise(engine, message + '!');
        return false;
    }
    const auto it = m_eventRegistry.constFind(eid);
    if (it == m_eventRegistry.cend()) {
        raise(engine, QStringLiteral("Event id %1 is not registered!").arg(eid));
        return false;
    }
    QByteArray bytes;
    if (!it->payloadDescription.isEmpty()) {
        try {
            encodePayload(it->payloadDescription, bytes, payload);
        } catch (const QString& message) {
            raise(engine, message + '!');
            return false;
        }
    }
    if (!m_stack) {
        raise(engine, QStringLiteral("Can't send event, %1!").arg(stackMissing()));
        return false;
    }
    QErfcEmitEvent event(eid, bytes);
    try {
        return m_stack->send(&event);
    } catch (const QErfcException& e) {
        raise(engine, QStringLiteral("Can't send event, %1!").arg(stackError(e)));
        return false;
    }
}

// ---------------------------------------------------------------- subscriptions

JsQErfcEventConnectEntry* JsQErfcPrivate::findSubscription(QScriptEngine* engine, const QScriptValue& signature,
                                                           bool raiseMissing)
{
    quint8 address = 0;
    quint8 eid = 0;
    try {
        readPair(signature.toVariant().toMap(), &address, &eid);
    } catch (const QString& message) {
        raise(engine, message + '!');
        return nullptr;
    }
    JsQErfcEventConnectEntry* entry = subscriptionEntry(address, eid);
    if (!entry && raiseMissing)
        raise(engine, notRegistered(address, eid));
    return entry && entry->eventConnect ? entry : nullptr;
}

JsQErfcEventConnectEntry* JsQErfcPrivate::subscriptionEntry(quint8 address, quint8 eid)
{
    const auto byAddress = m_eventConnects.find(address);
    if (byAddress == m_eventConnects.end())
        return nullptr;
    const auto it = byAddress->find(eid);
    return it == byAddress->end() ? nullptr : &*it;
}

QScriptEngine* JsQErfcPrivate::callbackEngine(const QScriptValue& thisObject, const QScriptValue& function)
{
    QScriptEngine* engine = thisObject.engine();
    return engine ? engine : function.engine();
}

bool JsQErfcPrivate::connectToEvent(QScriptValue signature, QScriptValue functionCall,
                                    QScriptValue functionStateChanged)
{
    QScriptEngine* engine = engineOf({signature, functionCall, functionStateChanged});
    const QVariantMap map = signature.toVariant().toMap();
    QMutexLocker lock(&m_eventConnectsMutex);
    quint8 address = 0;
    quint8 eid = 0;
    int type = 0;
    try {
        readPair(map, &address, &eid);
        readConnectTypeProperty(type, map, QStringLiteral("type"));
    } catch (const QString& message) {
        raise(engine, message + '!');
        return false;
    }
    JsQErfcPayloadFields payloadFields;
    const auto payload = map.constFind(QStringLiteral("payload"));
    if (payload != map.cend()) {
        try {
            parsePayloadDescription(payloadFields, payload->toList());
        } catch (const QString& message) {
            raise(engine, message);
            return false;
        }
    }
    if (!m_stack) {
        raise(engine, QStringLiteral("Can't connect to event, %1").arg(stackMissing()));
        return false;
    }

    // The subscription it replaces is let go: unsubscribed while the stack
    // still holds it (so the stack refuses the new one until the node has
    // answered), freed once the stack is done with it.
    JsQErfcEventConnect* replaced = nullptr;
    if (JsQErfcEventConnectEntry* old = subscriptionEntry(address, eid)) {
        if (old->eventConnect) {
            replaced = old->eventConnect;
            old->eventConnect = nullptr;
            JsQErfcReaper::instance()->take(m_stack, replaced);
        }
    }

    std::unique_ptr<JsQErfcEventConnect> subscription(new JsQErfcEventConnect(address, eid, quint32(type)));
    int timeout = 0;
    try {
        if (readIntProperty(timeout, 10, 255, map, QStringLiteral("timeout")))
            subscription->setTimeout(quint8(timeout));
    } catch (const QString& message) {
        raise(engine, message + '!');
        return false;
    }

    // Queued with the subscription as the receiver: deliveries end with it,
    // and the binding is checked, since a subscription may outlive it.
    JsQErfcEventConnect* s = subscription.get();
    const QPointer<JsQErfcPrivate> self(this);
    connect(s, &QErfcEventConnect::callSignal, s,
            [self, s](QErfcIncomingEvent event) {
                if (self)
                    self->onEventCallSignal(s, event);
            },
            Qt::QueuedConnection);
    connect(s, &QErfcEventConnect::stateChangedSignal, s,
            [self, s](QErfc::EventState state) {
                if (self)
                    self->onEventstateChangedSignal(s, state);
            },
            Qt::QueuedConnection);
    connect(s, &QErfcEventConnect::disconnected, s,
            [self, s] {
                if (self)
                    self->onEventDisconnectedSignal(s);
            },
            Qt::QueuedConnection);
    // After the binding's: the removal runs before the deletion.
    connect(s, &QErfcEventConnect::disconnected, s, &QObject::deleteLater, Qt::QueuedConnection);

    bool sent = false;
    try {
        sent = m_stack->connectToEvent(s);
    } catch (const QErfcException& e) {
        raise(engine, QStringLiteral("Can't connect to event, %1").arg(stackError(e)));
        return false;
    }
    if (sent) {
        s->setSubscribeSent();
        // The node keeps one subscription per pair: the new one's.
        if (replaced)
            JsQErfcReaper::instance()->supersede(replaced);
    }

    JsQErfcEventConnectEntry entry;
    entry.payloadDescription = payloadFields;
    entry.signature = signature;
    entry.thisObject = callerThis(engine);
    entry.functionCall = functionCall;
    entry.functionStateChanged = functionStateChanged;
    entry.eventConnect = subscription.release();
    m_eventConnects[address].insert(eid, entry);
    return sent;
}

void JsQErfcPrivate::disconnectFromEvent(QScriptValue signature)
{
    QScriptEngine* engine = engineOf({signature});
    QMutexLocker lock(&m_eventConnectsMutex);
    JsQErfcEventConnectEntry* entry = findSubscription(engine, signature, false);
    if (!entry || !m_stack)
        return;
    try {
        if (m_stack->disconnectFromEvent(entry->eventConnect))
            entry->eventConnect->setUnsubscribeSent();
    } catch (const QErfcException&) {
    }
}

bool JsQErfcPrivate::waitForEventConnected(QScriptValue signature)
{
    QScriptEngine* engine = engineOf({signature});
    QMutexLocker lock(&m_eventConnectsMutex);
    const JsQErfcEventConnectEntry* entry = findSubscription(engine, signature, true);
    if (!entry)
        return false;
    JsQErfcEventConnect* s = entry->eventConnect;
    // Only a subscribe request on its way can still change the state.
    if (s->isSubscribing())
        blockingWait(requestBound(s), [s](int msecs) { return s->waitForConnected(msecs); });
    return s->state() == QErfc::EventConnected;
}

void JsQErfcPrivate::waitForEventDisconnected(QScriptValue signature)
{
    QScriptEngine* engine = engineOf({signature});
    QMutexLocker lock(&m_eventConnectsMutex);
    const JsQErfcEventConnectEntry* entry = findSubscription(engine, signature, false);
    if (!entry)
        return;
    JsQErfcEventConnect* s = entry->eventConnect;
    // Only an unsubscribe request on its way ends a connected subscription.
    if (s->isUnsubscribing())
        blockingWait(requestBound(s), [s](int msecs) { return s->waitForDisconnected(msecs); });
}

QScriptValue JsQErfcPrivate::waitForEvent(QScriptValue signature, int timeout)
{
    QScriptEngine* engine = engineOf({signature});
    QMutexLocker lock(&m_eventConnectsMutex);
    const JsQErfcEventConnectEntry* found = findSubscription(engine, signature, true);
    if (!found)
        return QScriptValue(QScriptValue::NullValue);
    // Copies, and no lock while waiting: a wait without a bound handles
    // events meanwhile, which may end the entry and the subscription.
    const JsQErfcEventConnectEntry entry = *found;
    const QPointer<JsQErfcEventConnect> s = entry.eventConnect;
    lock.unlock();
    if (!s)
        return QScriptValue(QScriptValue::NullValue);
    // Only an event that comes after the call counts. A subscription in
    // error, or one that ends meanwhile, ends the wait at once: no event
    // can come to it any more.
    const quint64 seen = s->eventCount();
    blockingWait(timeout, [s, seen](int msecs) { return !s || s->waitForEventAfter(seen, msecs); }, engine);
    if (!s || s->eventCount() == seen)
        return QScriptValue(QScriptValue::NullValue);
    QScriptEngine* target = entry.thisObject.engine();
    if (!target)
        target = engine;
    if (!target)
        return QScriptValue(QScriptValue::NullValue);
    return eventToScriptValue(target, entry, s->latestEvent());
}

void JsQErfcPrivate::onEventCallSignal(JsQErfcEventConnect* subscription, QErfcIncomingEvent event)
{
    Q_UNUSED(subscription)
    QMutexLocker lock(&m_eventConnectsMutex);
    const JsQErfcEventConnectEntry* it = subscriptionEntry(event.address(), event.eventId());
    if (!it || m_suspended || !it->functionCall.isFunction())
        return;
    JsQErfcEventConnectEntry entry = *it;
    QScriptEngine* engine = callbackEngine(entry.thisObject, entry.functionCall);
    if (!engine)
        return;
    const QScriptValue object = eventToScriptValue(engine, entry, event);
    // Unlocked: the callback may call the subscription operations.
    lock.unlock();
    JsRte::callWhenIdle(entry.functionCall, entry.thisObject, QScriptValueList{object});
}

void JsQErfcPrivate::onEventstateChangedSignal(JsQErfcEventConnect* subscription,
                                               QErfc::EventState state)
{
    QMutexLocker lock(&m_eventConnectsMutex);
    // By the pair: the entry may hold a newer subscription by now.
    const quint8 address = subscription->address();
    const quint8 eid = subscription->eventId();
    const JsQErfcEventConnectEntry* it = subscriptionEntry(address, eid);
    if (!it || m_suspended || !it->functionStateChanged.isFunction())
        return;
    JsQErfcEventConnectEntry entry = *it;
    QScriptEngine* engine = callbackEngine(entry.thisObject, entry.functionStateChanged);
    if (!engine)
        return;
    QScriptValue object = engine->newObject();
    object.setProperty(QStringLiteral("eid"), int(eid));
    object.setProperty(QStringLiteral("address"), int(address));
    object.setProperty(QStringLiteral("state"), int(state));
    object.setProperty(QStringLiteral("relatedSignature"), entry.signature);
    lock.unlock();
    JsRte::callWhenIdle(entry.functionStateChanged, entry.thisObject, QScriptValueList{object});
}

void JsQErfcPrivate::onEventDisconnectedSignal(JsQErfcEventConnect* subscription)
{
    QMutexLocker lock(&m_eventConnectsMutex);
    const auto byAddress = m_eventConnects.find(subscription->address());
    if (byAddress == m_eventConnects.end())
        return;
    const auto it = byAddress->find(subscription->eventId());
    // An entry that holds another subscription by now stays.
    if (it != byAddress->end() && it->eventConnect == subscription)
        byAddress->erase(it);
}
