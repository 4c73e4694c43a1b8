// The stack engine: emitting events, subscribers, and subscriptions to other nodes' events.

#include "qerfcdatagram.h"
#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfceventconnect.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcinterface.h"
#include "qerfcintfnct_p.h"
#include "qerfcrequest_p.h"
#include "qerfcstack_p.h"
#include "qerfcstackhelpers_p.h"
#include "qerfcthread.h"
#include "qerfcwire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>

using namespace QErfcStackHelpers;
using namespace QErfcWire;

bool QErfcStackPrivate::emitEvent(QErfcEmitEvent* event)
{
    if (!isEnabled())
        fail(QErfcException::StackDisabled);
    if (event->payload().size() > QErfcMsg::MaxPayload)
        fail(QErfcException::PayloadError);
    if (event->eventId() > 127)
        fail(QErfcException::EventIdError);
    {
        QMutexLocker lock(&m_eventsLock);
        if (!m_events.value(event->eventId()).isAlive())
            fail(QErfcException::EventNotRegistered);
    }
    QList<QErfcSubscriber> subscribers;
    {
        QMutexLocker lock(&m_subscribersLock);
        subscribers = m_subscribers.value(event->eventId()).values();
    }

    const uchar own = ownAddress();
    bool broadcastSent = false;
    for (const QErfcSubscriber& subscriber : qAsConst(subscribers)) {
        QErfcNodePtr node = findNode(subscriber.address);
        if (!node)
            continue;
        QErfcMsg frame(event, own, subscriber);
        frame.setPrivilege(privilege());
        switch (subscriber.deliveryType) {
        case QErfcSubscriber::Normal:
            if (reserveSlot(node, frame)) {
                transmitFrame(frame);
                node->unlock();
            }
            break;
        case QErfcSubscriber::Datagram:
            frame.setInterface(node->interface());
            transmitFrame(frame);
            break;
        case QErfcSubscriber::Broadcast:
            if (!broadcastSent) {
                frame.setDestination(Broadcast);
                transmitFrame(frame);
                broadcastSent = true;
            }
            break;
        default:
            break;
        }
    }
    return true;
}

void QErfcStackPrivate::checkSubscriptionArguments(uchar address, uchar eventId) const
{
    if (!isEnabled())
        fail(QErfcException::StackDisabled);
    if (address > Broadcast)
        fail(QErfcException::AddressError);
    if (eventId > 127)
        fail(QErfcException::EventIdError);
}

bool QErfcStackPrivate::sendInternalRequest(QErfcRequest* request)
{
    trackInternalRequest(request);
    try {
        return sendRequest(request);
    } catch (...) {
        delete request;
        throw;
    }
}

bool QErfcStackPrivate::connectToEvent(QErfcEventConnect* connection)
{
    const uchar address = connection->address();
    const uchar eventId = connection->eventId();
    checkSubscriptionArguments(address, eventId);
    if (eventConnection(address, eventId).object())
        return false;
    auto* request = new QErfcIntReqEventConnect(address, FnNetwork, eventId,
                                                QErfcEventConnectPrivate::handle(connection), this);
    request->payload() = bytes({NetSubscribe, eventId, int(connection->deliveryType()),
                                connection->retries(), connection->timeout()});
    return sendInternalRequest(request);
}

bool QErfcStackPrivate::disconnectFromEvent(QErfcEventConnect* connection)
{
    checkSubscriptionArguments(connection->address(), connection->eventId());
    if (connection->state() != QErfc::EventConnected)
        return false;
    return sendUnsubscribe(QErfcEventConnectPrivate::handle(connection), connection->address(),
                           connection->eventId());
}

bool QErfcStackPrivate::disconnectFromEvent(uchar remoteAddr, uchar eventId)
{
    checkSubscriptionArguments(remoteAddr, eventId);
    const QErfcEventConnectHandle connection = eventConnection(remoteAddr, eventId);
    // The subscription may be deleted by its owner meanwhile: its state is
    // read inside its guard.
    bool connected = false;
    connection.call([&connected](QErfcEventConnect* c) {
        connected = c->state() == QErfc::EventConnected;
    });
    return connected && sendUnsubscribe(connection, remoteAddr, eventId);
}

bool QErfcStackPrivate::sendUnsubscribe(const QErfcEventConnectHandle& connection, uchar address,
                                        uchar eventId)
{
    auto* request = new QErfcIntReqEventDisconnect(address, FnNetwork, eventId, connection, this);
    request->payload() = bytes({NetUnsubscribe, eventId});
    return sendInternalRequest(request);
}

bool QErfcStackPrivate::lookupEvent(uchar eventId, QErfc::Privilege privilege) const
{
    QMutexLocker lock(&m_eventsLock);
    bool offered = false;
    m_events.value(eventId).call([&](QErfcEvent* e) { offered = e->privilege() <= privilege; });
    return offered;
}

bool QErfcStackPrivate::addSubscriber(uchar eventId, uchar address, quint32 deliveryType,
                                      uchar retries, uchar timeout)
{
    if (eventId > 127)
        return false;
    QErfcSubscriber s;
    s.address = address;
    s.eventId = eventId;
    s.deliveryType = deliveryType;
    s.retries = retries;
    s.timeout = timeout;
    QMutexLocker lock(&m_subscribersLock);
    m_subscribers[eventId].insert(address, s);
    return true;
}

void QErfcStackPrivate::removeSubscriber(uchar eventId, uchar address)
{
    QMutexLocker lock(&m_subscribersLock);
    auto it = m_subscribers.find(eventId);
    if (it == m_subscribers.end())
        return;
    it->remove(address);
    if (it->isEmpty())
        m_subscribers.erase(it);
}

void QErfcStackPrivate::dropSubscriber(uchar address)
{
    QMutexLocker lock(&m_subscribersLock);
    for (auto it = m_subscribers.begin(); it != m_subscribers.end();) {
        it->remove(address);
        it = it->isEmpty() ? m_subscribers.erase(it) : std::next(it);
    }
}

void QErfcStackPrivate::addEventConnection(uchar address, uchar eventId,
                                           const QErfcEventConnectHandle& connection)
{
    // A subscription deleted before the answer came is not entered: the
    // node's events then count as unknown.
    if (!connection.isAlive())
        return;
    {
        QMutexLocker lock(&m_eventConnectionsLock);
        m_eventConnections.insert(qMakePair(address, eventId), connection);
    }
    connection.call([](QErfcEventConnect* c) { c->setState(QErfc::EventConnected); });
}

void QErfcStackPrivate::removeEventConnection(uchar address, uchar eventId,
                                              const QErfcEventConnectHandle& connection)
{
    {
        QMutexLocker lock(&m_eventConnectionsLock);
        const auto it = m_eventConnections.find(qMakePair(address, eventId));
        if (it != m_eventConnections.end()
            && (it->guard() == connection.guard() || !it->isAlive()))
            m_eventConnections.erase(it);
    }
    connection.call([](QErfcEventConnect* c) { c->setState(QErfc::EventDisconnected); });
}

void QErfcStackPrivate::dropEventConnections(uchar address)
{
    QList<QErfcEventConnectHandle> dropped;
    {
        QMutexLocker lock(&m_eventConnectionsLock);
        for (auto it = m_eventConnections.begin(); it != m_eventConnections.end();) {
            if (it.key().first == address) {
                dropped.append(it.value());
                it = m_eventConnections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const QErfcEventConnectHandle& connection : qAsConst(dropped))
        connection.call([](QErfcEventConnect* c) { c->setState(QErfc::EventDisconnected); });
}

QErfcEventConnectHandle QErfcStackPrivate::eventConnection(uchar address, uchar eventId)
{
    QMutexLocker lock(&m_eventConnectionsLock);
    const auto it = m_eventConnections.find(qMakePair(address, eventId));
    if (it == m_eventConnections.end())
        return QErfcEventConnectHandle();
    if (!it->isAlive()) {
        m_eventConnections.erase(it);
        return QErfcEventConnectHandle();
    }
    return *it;
}

void QErfcStackPrivate::trackInternalRequest(QErfcRequest* request)
{
    // Deleted later on the engine's thread once answered, or with the engine.
    request->moveToThread(thread());
    QMutexLocker lock(&m_internalRequestsLock);
    m_internalRequests.insert(request);
}

void QErfcStackPrivate::untrackInternalRequest(QErfcRequest* request)
{
    QMutexLocker lock(&m_internalRequestsLock);
    m_internalRequests.remove(request);
}
