#include "qerfceventconnect_p.h"
#include "qerfcthread.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QWaitCondition>

bool QErfcEventConnectPrivate::waitWhile(QErfc::EventState leave, int msecs)
{
    QDeadlineTimer deadline(msecs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(msecs));
    QMutexLocker lock(&m_stateLock);
    if (m_state == leave && QErfcThread::isCurrentStackThread()) {
        qWarning("QErfcEventConnect: a wait on the stack thread would wait for itself");
        return false;
    }
    while (m_state == leave) {
        if (!m_stateChanged.wait(&m_stateLock, deadline))
            return m_state != leave;
    }
    return true;
}

QErfcEventConnect::QErfcEventConnect(QObject* parent)
    : QObject(parent)
    , d(new QErfcEventConnectPrivate)
{
}

QErfcEventConnect::QErfcEventConnect(quint8 address, quint8 eventId, QObject* parent)
    : QErfcEventConnect(parent)
{
    d->m_address = address;
    d->m_eventId = eventId;
}

QErfcEventConnect::QErfcEventConnect(quint8 address, quint8 eventId, quint32 deliveryType,
                                     QObject* parent)
    : QErfcEventConnect(address, eventId, parent)
{
    d->m_deliveryType = deliveryType;
}

QErfcEventConnect::QErfcEventConnect(quint8 address, quint8 eventId, quint32 deliveryType,
                                     quint8 retries, QObject* parent)
    : QErfcEventConnect(address, eventId, deliveryType, parent)
{
    d->m_retries = retries;
}

QErfcEventConnect::~QErfcEventConnect()
{
    // Waits for an event or a state change being delivered on another
    // thread; later ones find the guard closed. Deleted from one of its own
    // signals, it returns at once and the delivery touches nothing more.
    d->m_guard->close();
}

void QErfcEventConnect::setAddress(quint8 address) { d->m_address = address; }
quint8 QErfcEventConnect::address() const { return d->m_address; }
void QErfcEventConnect::setEventId(quint8 eventId) { d->m_eventId = eventId; }
quint8 QErfcEventConnect::eventId() const { return d->m_eventId; }
void QErfcEventConnect::setRetries(quint8 retries) { d->m_retries = retries; }
quint8 QErfcEventConnect::retries() const { return d->m_retries; }
void QErfcEventConnect::setTimeout(quint8 timeout) { d->m_timeout = timeout; }
quint8 QErfcEventConnect::timeout() const { return d->m_timeout; }
void QErfcEventConnect::setDeliveryType(quint32 deliveryType) { d->m_deliveryType = deliveryType; }
quint32 QErfcEventConnect::deliveryType() const { return d->m_deliveryType; }
void QErfcEventConnect::setUserData(const QVariant& data) { d->m_userData = data; }
QVariant QErfcEventConnect::userData() const { return d->m_userData; }

QErfc::EventState QErfcEventConnect::state() const
{
    QMutexLocker lock(&d->m_stateLock);
    return d->m_state;
}

QErfcIncomingEvent QErfcEventConnect::lastEvent() const
{
    QMutexLocker lock(&d->m_eventLock);
    return d->m_lastEvent;
}

void QErfcEventConnect::waitForConnected()
{
    d->waitWhile(QErfc::EventDisconnected, -1);
}

bool QErfcEventConnect::waitForConnected(int msecs)
{
    return d->waitWhile(QErfc::EventDisconnected, msecs);
}

void QErfcEventConnect::waitForDisconnected()
{
    d->waitWhile(QErfc::EventConnected, -1);
}

bool QErfcEventConnect::waitForDisconnected(int msecs)
{
    return d->waitWhile(QErfc::EventConnected, msecs);
}

bool QErfcEventConnect::waitForEvent(int timeout)
{
    QDeadlineTimer deadline(timeout < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeout));
    QMutexLocker lock(&d->m_eventLock);
    const quint64 seen = d->m_eventCount;
    if (QErfcThread::isCurrentStackThread()) {
        qWarning("QErfcEventConnect::waitForEvent on the stack thread would wait for itself");
        return false;
    }
    while (d->m_eventCount == seen) {
        if (!d->m_eventArrived.wait(&d->m_eventLock, deadline) && d->m_eventCount == seen) {
            d->m_lastEvent = QErfcIncomingEvent();
            return false;
        }
    }
    return true;
}

void QErfcEventConnect::onEvent(const QErfcIncomingEvent& event)
{
    // A slot may delete this object: the guard (held here, not in d) tells.
    const QErfcGuardPtr guard = d->m_guard;
    {
        QMutexLocker lock(&d->m_eventLock);
        d->m_lastEvent = event;
    }
    // Emitted without any lock, so a direct slot may call lastEvent() or
    // delete the subscription.
    emit callSignal(event);
    if (!guard->isOpen())
        return;
    QMutexLocker lock(&d->m_eventLock);
    ++d->m_eventCount;
    d->m_eventArrived.wakeAll();
}

void QErfcEventConnect::setState(QErfc::EventState state)
{
    const QErfcGuardPtr guard = d->m_guard;
    {
        QMutexLocker lock(&d->m_stateLock);
        if (d->m_state == state)
            return;
        d->m_state = state;
    }
    emit stateChangedSignal(state);
    if (!guard->isOpen())
        return;
    switch (state) {
    case QErfc::EventConnected:
        emit connected();
        break;
    case QErfc::EventError:
        emit error();
        break;
    case QErfc::EventDisconnected:
        emit disconnected();
        break;
    }
    if (!guard->isOpen())
        return;
    QMutexLocker lock(&d->m_stateLock);
    d->m_stateChanged.wakeAll();
}
