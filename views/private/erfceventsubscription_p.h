#ifndef ERFCEVENTSUBSCRIPTION_P_H
#define ERFCEVENTSUBSCRIPTION_P_H

#include "qerfc.h"
#include "qerfcincomingevent.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class ErfcEventInbox;

class QErfcEventConnect;
class QErfcStack;

// A view's subscription to one event of one node, and the owner of the
// QErfcEventConnect behind it. The stack keeps using that object while a
// subscribe or unsubscribe request for it is out and while it is subscribed,
// so the object may go only once the stack is done with it; this class
// decides when. GUI thread only.
//
// The view hands it over with release() instead of deleting it: it then
// unsubscribes if the subscription is up and deletes itself and the object
// when the last request is answered, at once when none is out, or when the
// stack is destroyed. A later subscription to the same node's event waits
// until such a released one is gone, so that its unsubscribe cannot end the
// new subscription.
//
// Every subscribe attempt uses a fresh QErfcEventConnect, so each one goes
// from disconnected to connected or error and its answer is always seen as
// a state change.
//
// The events' payloads reach the GUI thread through a bounded inbox, in
// batches (see ErfcEventInbox); what a node sends beyond it is dropped and
// reported before the next payload.
class ErfcEventSubscription : public QObject
{
    Q_OBJECT
public:
    ErfcEventSubscription(QErfcStack* stack, quint8 address, quint8 eventId, quint32 deliveryType);

    // Sends a subscribe request unless one is out or the subscription is up.
    // A QErfcException from the stack is swallowed: nothing went out.
    void subscribe();
    // The view is done with the subscription (see above). Do not use the
    // object afterwards.
    void release();

    // Released subscriptions not yet gone, all nodes and events.
    static int lingering();
    // Payloads dropped so far because the inbox was full.
    quint64 dropped() const;
    // While paused no payloads are handed on; the inbox fills and then
    // drops. The view pauses while it has more waiting than it can show.
    void setPaused(bool paused);

signals:
    // On the GUI thread, nothing after release(): the payload of every
    // event of the subscription, in order; before a payload, the number of
    // payloads dropped just before it; every state change.
    void eventPayload(const QByteArray& payload);
    void eventsDropped(quint64 count);
    void stateChanged(QErfc::EventState state);

private:
    enum Phase {
        Idle,          // no request out and not subscribed
        Subscribing,   // a subscribe request is out
        Subscribed,    // in the stack's table of subscriptions
        Unsubscribing, // an unsubscribe request is out
        Lingering      // an unsubscribe may still be out, unobservably
    };

    ~ErfcEventSubscription() override;
    Q_DISABLE_COPY(ErfcEventSubscription)

    void newConnect();
    void takeFromInbox();
    void onStateNotified(quint64 serial, QErfc::EventState state);
    void onStackDrcUpdate(uchar addr, QErfc::DrcUpdate state);
    void unsubscribe();
    // The stack is done with the current object: it goes. Returns true when
    // this subscription went with it (released), after which nothing of it
    // may be touched.
    bool finishConnect();
    ErfcEventSubscription* predecessor() const;
    void onStackDestroyed();

    QPointer<QErfcStack> m_stack;
    const quint8 m_address;
    const quint8 m_eventId;
    const quint32 m_deliveryType;
    QErfcEventConnect* m_connect = nullptr;
    quint64 m_serial = 0; // tells the current object's signals from older ones
    quint64 m_refusedSerial = 0; // the object the stack refused at once, whose notice is still due
    Phase m_phase = Idle;
    bool m_released = false;
    bool m_wantSubscribe = false;
    bool m_nodeDroppedWhileUnsubscribing = false;
    bool m_paused = false;
    QPointer<ErfcEventSubscription> m_waitingFor;
    QTimer m_linger;
    QTimer m_more; // takes the rest of a full inbox
    // Shared with the stack thread's side of the subscription objects.
    std::shared_ptr<ErfcEventInbox> m_inbox;
};

#endif // ERFCEVENTSUBSCRIPTION_P_H
