#include "jsqerfceventconnect_p.h"

#include <QDeadlineTimer>

namespace {
std::atomic<int> liveSubscriptions{0};
}

JsQErfcEventConnect::JsQErfcEventConnect(quint8 address, quint8 eventId, quint32 deliveryType)
    : QErfcEventConnect(address, eventId, deliveryType)
{
    ++liveSubscriptions;
    // Direct: recorded on the stack thread, before the subscription's own
    // waiters wake.
    const std::shared_ptr<Record> record = m_record;
    connect(this, &QErfcEventConnect::stateChangedSignal, this,
            [record](QErfc::EventState state) {
                QMutexLocker lock(&record->lock);
                record->state = state;
                ++record->changes;
                record->arrived.wakeAll();
            },
            Qt::DirectConnection);
    connect(this, &QErfcEventConnect::callSignal, this,
            [record](const QErfcIncomingEvent& event) {
                QMutexLocker lock(&record->lock);
                record->latest = event;
                ++record->events;
                record->arrived.wakeAll();
            },
            Qt::DirectConnection);
}

JsQErfcEventConnect::~JsQErfcEventConnect()
{
    --liveSubscriptions;
}

int JsQErfcEventConnect::instances()
{
    return liveSubscriptions.load();
}

void JsQErfcEventConnect::setSubscribeSent()
{
    m_subscribeSent = true;
}

void JsQErfcEventConnect::setUnsubscribeSent()
{
    m_unsubscribeSent = true;
}

bool JsQErfcEventConnect::isSubscribing() const
{
    // The answer, or the stack giving up, is the first change of state.
    return m_subscribeSent && m_record->changes.load() == 0;
}

bool JsQErfcEventConnect::isUnsubscribing() const
{
    return m_unsubscribeSent && state() == QErfc::EventConnected;
}

quint64 JsQErfcEventConnect::eventCount() const
{
    QMutexLocker lock(&m_record->lock);
    return m_record->events;
}

QErfcIncomingEvent JsQErfcEventConnect::latestEvent() const
{
    QMutexLocker lock(&m_record->lock);
    return m_record->latest;
}

bool JsQErfcEventConnect::canDeliver() const
{
    switch (m_record->state) {
    case QErfc::EventConnected:
        return true;
    case QErfc::EventDisconnected:
        // Before the first change only: a subscription that was connected
        // once is never connected again.
        return m_subscribeSent && m_record->changes.load() == 0;
    case QErfc::EventError:
        break;
    }
    return false;
}

bool JsQErfcEventConnect::waitForEventAfter(quint64 seen, int msecs)
{
    const QDeadlineTimer deadline(msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                            : QDeadlineTimer(msecs));
    QMutexLocker lock(&m_record->lock);
    while (m_record->events == seen && canDeliver()) {
        if (!m_record->arrived.wait(&m_record->lock, deadline))
            return m_record->events != seen || !canDeliver();
    }
    return true;
}
