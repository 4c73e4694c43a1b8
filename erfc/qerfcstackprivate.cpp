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
#include "qerfcthread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    out.reserve(int(values.size()));
    for (int v : values)
        out.append(char(v));
    return out;
}

enum : uchar {
    NetworkFunction = 5,
    NetHello = 0,
    NetGoodbye = 1,
    NetSubscribe = 2,
    NetUnsubscribe = 3,
    Broadcast = QErfcMsg::BroadcastAddress
};

[[noreturn]] void fail(int code)
{
    throw QErfcException(code);
}

// Completes a request that could not be sent, before the send call returns.
void completeWithConnectionError(QErfcRequest* request, uchar ownAddress)
{
    QErfcRequestPrivate::get(request)->m_handle->complete(
        ownAddress, request->functionId(), QErfc::ConnectionError, request->payload());
}

} // namespace

QErfcStackPrivate::QErfcStackPrivate(QErfcStack* q, uchar address, QErfc::Mode mode)
    : QObject(q)
    , q(q)
    , m_mode(mode)
    , m_protocolVersion(QStringLiteral("02"))
{
    m_address = address;
    m_nodeDescription = QString::fromLatin1(QCoreApplication::applicationName().toLatin1().left(MaxDescription));
    m_softwareVersion = QString::fromLatin1(QCoreApplication::applicationVersion().toLatin1().left(MaxDescription));
    m_runId = QRandomGenerator::system()->generate();

    QErfc::registerMetaTypes();
    qRegisterMetaType<bool*>("bool*");

    m_thread = new QErfcThread;
    m_thread->start(QThread::InheritPriority);

    // The caller blocks while the stack thread opens or closes the link there.
    connect(this, &QErfcStackPrivate::newInterface, m_thread, &QErfcThread::onNewInterface,
            Qt::BlockingQueuedConnection);
    connect(this, &QErfcStackPrivate::removeInterface, m_thread, &QErfcThread::onRemoveInterface,
            Qt::BlockingQueuedConnection);
    // Received frames and the timers are handled right on the stack thread.
    connect(m_thread, &QErfcThread::frameReceived, this, &QErfcStackPrivate::onFrameReceived,
            Qt::DirectConnection);
    connect(m_thread, &QErfcThread::drcRefresh, this, &QErfcStackPrivate::drcHello,
            Qt::DirectConnection);
    connect(m_thread, &QErfcThread::drcRefresh, this, &QErfcStackPrivate::drcCheckNodes,
            Qt::DirectConnection);
    connect(m_thread, &QErfcThread::retransmitRefresh, this, &QErfcStackPrivate::doRetransmits,
            Qt::DirectConnection);
    // Frames are written by the stack thread, in the order they were queued.
    connect(this, &QErfcStackPrivate::frameTransmit, m_thread, &QErfcThread::onFrameTransmit,
            Qt::QueuedConnection);

    const QList<QErfcIntFnct*> internal = {
        new QErfcIntFnctEcho(this),     new QErfcIntFnctNodeInfo(this),
        new QErfcIntFnctFnctInfo(this), new QErfcIntFnctEventInfo(this),
        new QErfcIntFnctManagement(this), new QErfcIntFnctNetwork(this),
        new QErfcIntFnctStatistic(this),
    };
    for (QErfcIntFnct* f : internal)
        registerFunction(f, true);
    m_internalFunctions = internal;
}

QErfcStackPrivate::~QErfcStackPrivate()
{
    disable();

    // Links still bound are closed on the thread that owns their streams;
    // the goodbye queued above is written before each close.
    QList<QErfcInterface*> links;
    {
        QMutexLocker lock(&m_interfacesLock);
        links = m_interfaces;
        m_interfaces.clear();
    }
    for (QErfcInterface* link : qAsConst(links))
        emit removeInterface(link);

    // Queued behind every frame already handed to the thread.
    QMetaObject::invokeMethod(m_thread, &QThread::quit, Qt::QueuedConnection);
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;

    QList<QErfcRequest*> internalRequests;
    {
        QMutexLocker lock(&m_internalRequestsLock);
        internalRequests = m_internalRequests.values();
    }
    qDeleteAll(internalRequests);
}

qint64 QErfcStackPrivate::now()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadline();
}

bool QErfcStackPrivate::onStackThread() const
{
    return QThread::currentThread() == m_thread;
}

int QErfcStackPrivate::sendLockWaitMs() const
{
    // Another sender may hold a node's send lock while it waits for the
    // window, which only the stack thread can drain: the stack thread gives
    // up after a short while instead of waiting for itself.
    return onStackThread() ? StackThreadSendLockMs : -1;
}

QString QErfcStackPrivate::text(const QString& field) const
{
    QMutexLocker lock(&m_configLock);
    return field;
}

void QErfcStackPrivate::setText(QString& field, const QString& text, int errorCode)
{
    if (text.toLatin1().size() > MaxDescription)
        fail(errorCode);
    QMutexLocker lock(&m_configLock);
    field = text;
}

void QErfcStackPrivate::setBytes(QByteArray& field, const QByteArray& bytes)
{
    if (bytes.size() > QErfcMsg::MaxPayload)
        fail(QErfcException::PayloadError);
    QMutexLocker lock(&m_configLock);
    field = bytes;
}

void QErfcStackPrivate::enable()
{
    m_enabled = true;
    drcHello();
}

void QErfcStackPrivate::disable()
{
    drcGoodbye();
    m_enabled = false;
    removeNodes(knownNodes());
}

// ---------------------------------------------------------------- links

void QErfcStackPrivate::bindInterface(QErfcInterface* link)
{
    // The stack thread would wait for itself.
    if (onStackThread())
        fail(QErfcException::InterfaceBindError);
    {
        QMutexLocker lock(&m_interfacesLock);
        if (m_interfaces.contains(link))
            fail(QErfcException::InterfaceBindError);
        m_interfaces.append(link);
    }
    // Not under the list lock: the stack thread needs it for hellos meanwhile.
    bool ok = false;
    emit newInterface(link, &ok);
    if (!ok)
        fail(QErfcException::InterfaceBindError); // stays listed; a release removes it
    drcHello();
}

void QErfcStackPrivate::releaseInterface(QErfcInterface* link)
{
    if (onStackThread())
        fail(QErfcException::InterfaceReleaseError);
    {
        QMutexLocker lock(&m_interfacesLock);
        if (!m_interfaces.removeOne(link))
            fail(QErfcException::InterfaceReleaseError);
    }
    QList<uchar> behind;
    {
        QMutexLocker lock(&m_nodesLock);
        for (auto it = m_nodes.cbegin(); it != m_nodes.cend(); ++it) {
            if (it.value()->interface() == link)
                behind.append(it.key());
        }
    }
    removeNodes(behind);
    emit removeInterface(link);
}

// ---------------------------------------------------------------- registration

namespace {

// Enters an offered function or event in its table under the table's lock.
template <typename T>
void registerIn(QMap<uchar, QPointer<T>>& table, QMutex& lock, T* item, bool checkId,
                int takenCode)
{
    QMutexLocker locker(&lock);
    const uchar id = item->id();
    if (checkId && (id < 16 || id > 127))
        fail(QErfcException::RegisterIdError);
    if (item->description().toLatin1().size() > QErfcStackPrivate::MaxDescription)
        fail(QErfcException::DescriptionError);
    if (table.value(id))
        fail(takenCode);
    table.insert(id, item);
}

} // namespace

void QErfcStackPrivate::registerFunction(QErfcFunction* function, bool internal)
{
    registerIn(m_functions, m_functionsLock, function, !internal,
               QErfcException::FunctionRegisterError);
}

void QErfcStackPrivate::registerEvent(QErfcEvent* event)
{
    registerIn(m_events, m_eventsLock, event, true, QErfcException::EventRegisterError);
}

void QErfcStackPrivate::unregisterFunction(QErfcFunction* function)
{
    QMutexLocker lock(&m_functionsLock);
    // The internal functions stay for the engine's life.
    if (function->id() >= 16)
        m_functions.remove(function->id());
}

void QErfcStackPrivate::unregisterEvent(QErfcEvent* event)
{
    QMutexLocker lock(&m_eventsLock);
    m_events.remove(event->id());
}

QPointer<QErfcFunction> QErfcStackPrivate::lookupFunction(uchar id, QErfc::Privilege privilege) const
{
    // The guard is taken under the lock: the caller calls the function after
    // releasing it, and a function destroyed meanwhile then reads as null.
    QMutexLocker lock(&m_functionsLock);
    QPointer<QErfcFunction> f = m_functions.value(id);
    return f && f->privilege() <= privilege ? f : nullptr;
}

bool QErfcStackPrivate::functionDescription(uchar id, QString* description) const
{
    QMutexLocker lock(&m_functionsLock);
    QErfcFunction* f = m_functions.value(id);
    if (!f)
        return false;
    *description = f->description();
    return true;
}

bool QErfcStackPrivate::eventDescription(uchar id, QString* description) const
{
    QMutexLocker lock(&m_eventsLock);
    QErfcEvent* e = m_events.value(id);
    if (!e)
        return false;
    *description = e->description();
    return true;
}

// ---------------------------------------------------------------- node table

QErfcNodePtr QErfcStackPrivate::findNode(uchar address) const
{
    QMutexLocker lock(&m_nodesLock);
    return m_nodes.value(address);
}

void QErfcStackPrivate::addNode(QErfcInterface* link, uchar address, quint32 runId, uchar window,
                                QErfc::Mode mode)
{
    if (address == Broadcast) {
        drcHello();
        return;
    }
    if (address == ownAddress())
        return;

    QErfcNodePtr existing;
    {
        QMutexLocker lock(&m_nodesLock);
        // Checked under the table lock: a disable that has cleared the flag
        // meanwhile finds no node left behind, one that clears it later drops
        // this one too.
        if (!isEnabled())
            return;
        existing = m_nodes.value(address);
        if (!existing) {
            m_nodes.insert(address, std::make_shared<QErfcNode>(link, address, runId, window,
                                                                &m_memory[address], mode));
        }
    }
    if (!existing) {
        drcHello();
        emit q->drcUpdate(address, QErfc::NewNode, mode);
        return;
    }

    const QErfc::Mode oldMode = existing->mode();
    if (!existing->refresh(link, runId, window, mode, now()))
        return; // the regular periodic hello

    // The node restarted: answers stored for its previous life mean nothing now.
    existing->clearDuplicateFilter();
    emit q->drcUpdate(address, QErfc::RemovedNode, oldMode);
    dropSubscriber(address);
    dropEventConnections(address);
    drcHello();
    emit q->drcUpdate(address, QErfc::NewNode, mode);
}

void QErfcStackPrivate::removeNode(uchar address)
{
    QErfcNodePtr node;
    {
        QMutexLocker lock(&m_nodesLock);
        node = m_nodes.take(address);
    }
    if (!node)
        return;
    const QErfc::Mode mode = node->mode();
    node->deleteNode();
    emit q->drcUpdate(address, QErfc::RemovedNode, mode);
    dropSubscriber(address);
    dropEventConnections(address);
}

void QErfcStackPrivate::removeNodes(const QList<uchar>& addresses)
{
    for (uchar address : addresses)
        removeNode(address);
}

QList<uchar> QErfcStackPrivate::knownNodes() const
{
    QMutexLocker lock(&m_nodesLock);
    return m_nodes.keys();
}

// ---------------------------------------------------------------- sending

void QErfcStackPrivate::checkSendArguments(int payloadSize, uchar address, uchar functionId) const
{
    if (!isEnabled())
        fail(QErfcException::StackDisabled);
    if (payloadSize > QErfcMsg::MaxPayload)
        fail(QErfcException::PayloadError);
    if (address > Broadcast)
        fail(QErfcException::AddressError);
    if (functionId > 127)
        fail(QErfcException::FunctionIdError);
}

bool QErfcStackPrivate::sendRequest(QErfcRequest* request)
{
    checkSendArguments(request->payload().size(), request->address(), request->functionId());
    if (request->timeout() < 10)
        fail(QErfcException::TimeoutError);
    if (request->address() == Broadcast)
        fail(QErfcException::BroadcastNotAllowed);

    const uchar own = ownAddress();
    QErfcMsg frame(request, own);
    QErfcNodePtr node = findNode(request->address());
    if (!node || !node->tryLock(sendLockWaitMs())) {
        completeWithConnectionError(request, own);
        return false;
    }
    frame.setPrivilege(privilege());
    frame.setInterface(node->interface());
    // The stack thread completes outstanding requests: it must never wait for a window.
    const QErfcNode::ReserveResult reserved =
        node->reserve(frame, !onStackThread(), WindowWaitMs);
    if (reserved != QErfcNode::Reserved) {
        node->unlock();
        completeWithConnectionError(request, own);
        return false;
    }
    transmitFrame(frame);
    node->unlock();
    return true;
}

bool QErfcStackPrivate::sendDatagram(QErfcDatagram* datagram)
{
    checkSendArguments(datagram->payload().size(), datagram->address(), datagram->functionId());
    QErfcMsg frame(datagram, ownAddress());
    frame.setPrivilege(privilege());
    if (datagram->address() != Broadcast) {
        QErfcNodePtr node = findNode(datagram->address());
        if (!node)
            return false;
        frame.setInterface(node->interface());
    }
    transmitFrame(frame);
    return true;
}

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
        if (!m_events.value(event->eventId()))
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
            if (!node->tryLock(sendLockWaitMs()))
                break;
            frame.setInterface(node->interface());
            if (node->reserve(frame, !onStackThread(), WindowWaitMs) == QErfcNode::Reserved)
                transmitFrame(frame);
            node->unlock();
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
    checkSubscriptionArguments(connection->address(), connection->eventId());
    {
        QMutexLocker lock(&m_eventConnectionsLock);
        if (m_eventConnections.contains(qMakePair(connection->address(), connection->eventId())))
            return false;
    }
    auto* request = new QErfcIntReqEventConnect(connection->address(), NetworkFunction, connection, this);
    request->payload() = bytes({NetSubscribe, connection->eventId(), int(connection->deliveryType()),
                                connection->retries(), connection->timeout()});
    return sendInternalRequest(request);
}

bool QErfcStackPrivate::disconnectFromEvent(QErfcEventConnect* connection)
{
    checkSubscriptionArguments(connection->address(), connection->eventId());
    if (connection->state() != QErfc::EventConnected)
        return false;
    auto* request = new QErfcIntReqEventDisconnect(connection->address(), NetworkFunction,
                                                   connection, this);
    request->payload() = bytes({NetUnsubscribe, connection->eventId()});
    return sendInternalRequest(request);
}

bool QErfcStackPrivate::disconnectFromEvent(uchar remoteAddr, uchar eventId)
{
    checkSubscriptionArguments(remoteAddr, eventId);
    QErfcEventConnect* connection;
    {
        QMutexLocker lock(&m_eventConnectionsLock);
        connection = m_eventConnections.value(qMakePair(remoteAddr, eventId));
    }
    return connection ? disconnectFromEvent(connection) : false;
}

void QErfcStackPrivate::transmitFrame(QErfcMsg& frame)
{
    if (frame.destination() < Broadcast && frame.source() < Broadcast) {
        queueFrame(frame);
        return;
    }
    QMutexLocker lock(&m_interfacesLock);
    for (QErfcInterface* link : qAsConst(m_interfaces)) {
        frame.setInterface(link);
        queueFrame(frame, link);
    }
}

void QErfcStackPrivate::queueFrame(const QErfcMsg& frame, QErfcInterface* link)
{
    if (!link)
        link = frame.interface();
    if (!link)
        return;
    QByteArray bytes;
    {
        QMutexLocker lock(&m_cipherLock);
        bytes = frame.encode(m_cipher);
    }
    emit q->trafficTx(bytes.size());
    count(&QErfcStatistics::frameTx);
    emit frameTransmit(link, bytes);
}

void QErfcStackPrivate::sendNetworkDatagram(const QByteArray& payload)
{
    QErfcDatagram datagram(Broadcast, NetworkFunction, payload);
    try {
        sendDatagram(&datagram);
    } catch (const QErfcException&) {
        // Disabled meanwhile: nothing to announce.
    }
}

void QErfcStackPrivate::drcHello()
{
    if (!isEnabled())
        return;
    const quint32 id = m_runId;
    sendNetworkDatagram(bytes({NetHello, int(id >> 24), int(id >> 16), int(id >> 8), int(id),
                               AdvertisedWindow, m_mode}));
}

void QErfcStackPrivate::drcGoodbye()
{
    if (!isEnabled())
        return;
    sendNetworkDatagram(QByteArray(1, char(NetGoodbye)));
}

// ---------------------------------------------------------------- subscriptions

QErfcEvent* QErfcStackPrivate::lookupEvent(uchar eventId, QErfc::Privilege privilege) const
{
    QMutexLocker lock(&m_eventsLock);
    QErfcEvent* e = m_events.value(eventId);
    return e && e->privilege() <= privilege ? e : nullptr;
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

void QErfcStackPrivate::addEventConnection(uchar address, uchar eventId, QErfcEventConnect* connection)
{
    QMutexLocker lock(&m_eventConnectionsLock);
    m_eventConnections.insert(qMakePair(address, eventId), connection);
    connection->setState(QErfc::EventConnected);
}

void QErfcStackPrivate::removeEventConnection(uchar address, uchar eventId)
{
    QMutexLocker lock(&m_eventConnectionsLock);
    QErfcEventConnect* connection = m_eventConnections.take(qMakePair(address, eventId));
    if (connection)
        connection->setState(QErfc::EventDisconnected);
}

void QErfcStackPrivate::dropEventConnections(uchar address)
{
    QMutexLocker lock(&m_eventConnectionsLock);
    for (auto it = m_eventConnections.begin(); it != m_eventConnections.end();) {
        if (it.key().first == address) {
            it.value()->setState(QErfc::EventDisconnected);
            it = m_eventConnections.erase(it);
        } else {
            ++it;
        }
    }
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

// ---------------------------------------------------------------- statistics

QErfcStatistics QErfcStackPrivate::statistics() const
{
    QMutexLocker lock(&m_statisticsLock);
    return m_statistics;
}

void QErfcStackPrivate::resetStatistics()
{
    QMutexLocker lock(&m_statisticsLock);
    m_statistics.reset();
}

// ---------------------------------------------------------------- timers

void QErfcStackPrivate::drcCheckNodes()
{
    QList<uchar> expired;
    const qint64 t = now();
    {
        QMutexLocker lock(&m_nodesLock);
        for (auto it = m_nodes.cbegin(); it != m_nodes.cend(); ++it) {
            if (it.value()->isExpired(t))
                expired.append(it.key());
        }
    }
    removeNodes(expired);
}

void QErfcStackPrivate::doRetransmits()
{
    QMutexLocker dispatchLock(&m_dispatchLock);
    QList<QErfcNodePtr> nodes;
    {
        QMutexLocker lock(&m_nodesLock);
        nodes = m_nodes.values();
    }
    const qint64 t = now();
    for (const QErfcNodePtr& node : qAsConst(nodes)) {
        const QErfcNode::DueFrames due = node->takeDueFrames(t);
        for (const QErfcMsg& frame : due.resend) {
            count(&QErfcStatistics::retries);
            queueFrame(frame);
        }
        for (const QErfcMsg& frame : due.expired) {
            if (frame.retries() > 0)
                count(&QErfcStatistics::maxRetries);
            frame.completeRequest(frame.source(), frame.functionId(), QErfc::ConnectionError,
                                  QByteArray());
        }
    }
}

// ---------------------------------------------------------------- receiving

void QErfcStackPrivate::onFrameReceived(QErfcInterface* devInterface, QByteArray bytes)
{
    if (!isEnabled())
        return;
    emit q->trafficRx(bytes.size());
    count(&QErfcStatistics::frameRx);

    QErfcMsg frame;
    {
        QMutexLocker lock(&m_cipherLock);
        if (!frame.decode(bytes, m_cipher))
            return;
    }
    frame.setInterface(devInterface);
    frame.setSendTime(now());
    QMutexLocker dispatchLock(&m_dispatchLock);
    dispatch(frame);
}

bool QErfcStackPrivate::answer(const QErfcMsg& request, QErfc::ResponseCode code,
                               const QByteArray& payload, QErfcMsg* answerOut)
{
    QErfcMsg response;
    if (!request.makeResponse(&response))
        return false;
    response.setResponseCode(code);
    response.setPayload(payload);
    queueFrame(response);
    if (answerOut)
        *answerOut = response;
    return true;
}

void QErfcStackPrivate::dispatch(QErfcMsg& frame)
{
    const uchar own = ownAddress();

    if (frame.crcError()) {
        count(&QErfcStatistics::crcError);
        // A damaged header claiming our own address as source is not answered:
        // the answer would come back to us.
        if (frame.source() != own)
            answer(frame, QErfc::CrcError, QByteArray());
        return;
    }
    if (frame.source() == own) {
        count(&QErfcStatistics::routingError);
        emit q->errorDetected(QErfc::OwnAddressError);
        return;
    }
    if (frame.destination() == Broadcast || frame.source() == Broadcast) {
        if (frame.isResponse())
            return;
        {
            QMutexLocker lock(&m_interfacesLock);
            for (QErfcInterface* link : qAsConst(m_interfaces)) {
                if (link != frame.interface())
                    queueFrame(frame, link);
            }
        }
        dispatchLocal(frame, true);
        return;
    }
    if (frame.destination() != own) {
        // A frame for another node: pass it on, or answer on its behalf.
        QErfcNodePtr node = findNode(frame.destination());
        if (!node) {
            count(&QErfcStatistics::unknownNode);
            answer(frame, QErfc::UnknonwAddr, QByteArray());
            return;
        }
        QErfcInterface* link = node->interface();
        if (link == frame.interface()) {
            count(&QErfcStatistics::routingError);
            emit q->errorDetected(QErfc::RoutingLoopError);
            answer(frame, QErfc::RoutingError, QByteArray());
            return;
        }
        count(&QErfcStatistics::routing);
        queueFrame(frame, link);
        return;
    }
    if (frame.isResponse())
        dispatchResponse(frame);
    else
        dispatchLocal(frame, false);
}

void QErfcStackPrivate::dispatchLocal(QErfcMsg& frame, bool broadcast)
{
    QErfcNodePtr node = findNode(frame.source());
    if (node) {
        QErfcMsg stored;
        bool inProgress = false;
        if (node->checkDuplicate(frame, &stored, &inProgress)) {
            count(&QErfcStatistics::retransmit);
            queueFrame(stored);
            return;
        }
        if (inProgress)
            return;
    } else if (!broadcast) {
        // A node must say hello before it may call the PC.
        answer(frame, QErfc::ProtocolError, QByteArray());
        return;
    }

    QErfcMsg response;
    if (frame.isEvent()) {
        QMutexLocker lock(&m_eventConnectionsLock);
        QErfcEventConnect* connection =
            m_eventConnections.value(qMakePair(frame.source(), frame.functionId()));
        if (!connection) {
            lock.unlock();
            count(&QErfcStatistics::unknownEvent);
        } else {
            if (node)
                node->markInProgress(frame);
            connection->onEvent(frame.toIncomingEvent());
        }
        if (answer(frame, QErfc::OK, QByteArray(), &response) && node)
            node->storeAnswer(response);
        return;
    }

    QPointer<QErfcFunction> function = lookupFunction(frame.functionId(), frame.privilege());
    if (!function) {
        count(&QErfcStatistics::unknownFunction);
        if (answer(frame, QErfc::UnknownFid, QByteArray(), &response) && node)
            node->storeAnswer(response);
        return;
    }
    if (node)
        node->markInProgress(frame);

    // Called without the function-table lock, so that a handler that blocks
    // does not freeze registration on other threads.
    QErfcIncomingRequest request = frame.toIncomingRequest();
    QErfcResponse result;
    QErfc::ResponseCode code;
    if (frame.functionId() <= 15) {
        auto* internal = qobject_cast<QErfcIntFnct*>(function.data());
        code = internal ? internal->process(request, result, frame.interface()) : QErfc::UnknownFid;
    } else {
        code = function->call(request, result);
    }
    if (code > QErfc::CrcError)
        return; // the handler asked for no answer
    QByteArray payload = result.payload();
    if (payload.size() > QErfcMsg::MaxPayload) {
        qWarning("Function %d answered %d bytes; at most %d fit a frame", frame.functionId(),
                 int(payload.size()), int(QErfcMsg::MaxPayload));
        code = QErfc::FunctionError;
        payload.clear();
    }
    if (answer(frame, code, payload, &response) && node)
        node->storeAnswer(response);
}

void QErfcStackPrivate::dispatchResponse(const QErfcMsg& frame)
{
    QErfcNodePtr node = findNode(frame.source());
    if (!node)
        return;
    if (frame.responseCode() == QErfc::CrcError) {
        // The node got our frame damaged: send it again at the next tick.
        if (node->matchPending(frame, nullptr))
            node->forceResend(frame);
        else
            count(&QErfcStatistics::unexpResponse);
        return;
    }
    QErfcMsg sent;
    if (!node->takePending(frame, &sent)) {
        count(&QErfcStatistics::unexpResponse);
        return;
    }
    // The frames queued behind the answered one on its link, to any node,
    // waited for it there: their time-out starts with this answer (a received
    // frame's send time is its arrival) at the earliest.
    QList<QErfcNodePtr> nodes;
    {
        QMutexLocker lock(&m_nodesLock);
        nodes = m_nodes.values();
    }
    for (const QErfcNodePtr& n : qAsConst(nodes))
        n->startTimeoutsBehind(sent.interface(), sent.linkOrder(), frame.sendTime());
    sent.completeRequest(frame.source(), frame.functionId(), frame.responseCode(), frame.payload());
}
