#include "qcargoevent_p.h"

QCargoEvent::QCargoEvent(QObject* parent)
    : QObject(parent)
{
}

void QCargoEvent::set(Event event)
{
    QMutexLocker lock(&m_lock);
    m_event = event;
    m_changed.wakeAll();
}

bool QCargoEvent::testAndSet(Event from, Event to)
{
    QMutexLocker lock(&m_lock);
    if (m_event != from)
        return false;
    m_event = to;
    m_changed.wakeAll();
    return true;
}

QCargoEvent::Event QCargoEvent::value() const
{
    QMutexLocker lock(&m_lock);
    return m_event;
}

bool QCargoEvent::setNext()
{
    // A next outside the wait for it (a stray or late frame) must not pass
    // for the acknowledgement of a window the receiver has not seen end.
    return testAndSet(AwaitingAck, NextReceived);
}

bool QCargoEvent::setMissing(quint16 offset)
{
    QMutexLocker lock(&m_lock);
    if (m_event != Sending && m_event != AwaitingAck)
        return false;
    m_missingOffset = offset;
    m_event = MissingReceived;
    m_changed.wakeAll();
    return true;
}

quint16 QCargoEvent::missingOffset() const
{
    QMutexLocker lock(&m_lock);
    return m_missingOffset;
}

void QCargoEvent::poke()
{
    QMutexLocker lock(&m_lock);
    m_changed.wakeAll();
}

QCargoEvent::Event QCargoEvent::waitWhile(Event event, QDeadlineTimer deadline,
                                          const std::function<bool()>& stop)
{
    QMutexLocker lock(&m_lock);
    while (m_event == event && !(stop && stop())) {
        if (!m_changed.wait(&m_lock, deadline))
            break;
    }
    return m_event;
}
