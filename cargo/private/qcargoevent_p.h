#ifndef QCARGOEVENT_P_H
#define QCARGOEVENT_P_H

#include <QDeadlineTimer>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>
#include <functional>

// Where the send window stands, shared by the send thread (which sends and
// waits), the stack thread (which reports the receiver's next and missing
// frames) and the thread that unregisters. A value under a mutex with a wait
// condition: setting never blocks, so the stack thread never waits here, and
// an answer that arrives before the sender starts waiting is kept.
class QCargoEvent : public QObject
{
    Q_OBJECT
public:
    enum Event {
        Idle = 0,
        Sending = 1,
        MissingReceived = 2,
        NextReceived = 3,
        AwaitingAck = 4
    };

    explicit QCargoEvent(QObject* parent = nullptr);

    void set(Event event);
    // Sets `to` only while the event is `from`; false (nothing changed) otherwise.
    bool testAndSet(Event from, Event to);
    Event value() const;
    bool is(Event event) const { return value() == event; }

    // The receiver's next: counts only for a window awaiting its acknowledgement.
    bool setNext();
    // The receiver's missing frame: counts only while a window is in flight.
    bool setMissing(quint16 offset);
    quint16 missingOffset() const;

    // Wakes waiters so that they test their stop condition again.
    void poke();
    // Waits while the event is `event`, until the deadline or until stop()
    // holds; returns the event at the end.
    Event waitWhile(Event event, QDeadlineTimer deadline, const std::function<bool()>& stop);

private:
    mutable QMutex m_lock;
    QWaitCondition m_changed;
    Event m_event = Idle;
    quint16 m_missingOffset = 0;
};

#endif // QCARGOEVENT_P_H
