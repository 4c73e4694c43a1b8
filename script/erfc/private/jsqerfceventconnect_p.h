#ifndef JSQERFCEVENTCONNECT_P_H
#define JSQERFCEVENTCONNECT_P_H

#include "qerfceventconnect.h"

#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <memory>

// A subscription the binding makes. Besides its state it knows whether a
// request of its own is still on its way, which tells a subscription that
// will change state by itself from one that never will: the waits return at
// once on the latter, and the reaper frees it at once.
class JsQErfcEventConnect : public QErfcEventConnect
{
    Q_OBJECT
public:
    JsQErfcEventConnect(quint8 address, quint8 eventId, quint32 deliveryType);
    ~JsQErfcEventConnect() override;

    // Subscriptions alive in the process.
    static int instances();

    // On the GUI thread, when the stack has sent the request.
    void setSubscribeSent();
    void setUnsubscribeSent();
    // The subscribe request has not been answered yet.
    bool isSubscribing() const;
    // The unsubscribe request has not been answered yet.
    bool isUnsubscribing() const;

    // Events received so far, and the latest of them.
    quint64 eventCount() const;
    QErfcIncomingEvent latestEvent() const;
    // Waits at most msecs (negative: no bound) for the count to pass seen,
    // or for the subscription to be past delivering: in error, or
    // disconnected with no subscribe request on its way. True when either
    // happened, false when the time ran out first. GUI thread.
    bool waitForEventAfter(quint64 seen, int msecs);

private:
    Q_DISABLE_COPY(JsQErfcEventConnect)
    // What the stack thread records while it delivers: shared with the
    // deliveries, so that none touches the object itself.
    struct Record
    {
        std::atomic<int> changes{0};
        mutable QMutex lock;
        QWaitCondition arrived; // an event, or a change of state
        quint64 events = 0;
        QErfcIncomingEvent latest;
        QErfc::EventState state = QErfc::EventDisconnected;
    };
    // Events can still come: connected, or a subscribe request on its way.
    // m_record->lock held.
    bool canDeliver() const;
    const std::shared_ptr<Record> m_record = std::make_shared<Record>();
    bool m_subscribeSent = false;
    bool m_unsubscribeSent = false;
};

#endif // JSQERFCEVENTCONNECT_P_H
