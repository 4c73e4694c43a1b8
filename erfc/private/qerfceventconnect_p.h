#ifndef QERFCEVENTCONNECT_P_H
#define QERFCEVENTCONNECT_P_H

#include "qerfceventconnect.h"
#include "qerfcguard.h"

#include <QMutex>
#include <QWaitCondition>

// What the stack keeps of a subscription: it delivers events and state
// changes through the handle, so a subscription destroyed while subscribed
// (or while its subscribe request is on its way) receives nothing more.
using QErfcEventConnectHandle = QErfcHandle<QErfcEventConnect>;

class QErfcEventConnectPrivate
{
public:
    static QErfcEventConnectPrivate* get(QErfcEventConnect* q) { return q->d.get(); }
    static QErfcEventConnectHandle handle(QErfcEventConnect* q)
    {
        return QErfcEventConnectHandle(q, q->d->m_guard);
    }

    // Waits while the state is `leave`; false when the deadline passed first.
    bool waitWhile(QErfc::EventState leave, int msecs);

    quint8 m_address = 0;
    quint8 m_eventId = 0;
    quint8 m_retries = 3;
    quint8 m_timeout = 250;
    quint32 m_deliveryType = 0;
    QVariant m_userData;

    mutable QMutex m_stateLock;
    QWaitCondition m_stateChanged;
    QErfc::EventState m_state = QErfc::EventDisconnected;

    mutable QMutex m_eventLock;
    QWaitCondition m_eventArrived;
    QErfcIncomingEvent m_lastEvent;
    quint64 m_eventCount = 0; // lets a waiter tell events that came during its wait

    const QErfcGuardPtr m_guard = std::make_shared<QErfcGuard>();
};

#endif // QERFCEVENTCONNECT_P_H
