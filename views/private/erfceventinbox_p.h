#ifndef ERFCEVENTINBOX_P_H
#define ERFCEVENTINBOX_P_H

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QVector>

#include <functional>

// The payloads of a subscription's events on their way from the stack's
// thread to the GUI thread. The stack's thread puts each payload in; the
// first one after the box was emptied wakes the receiver, which takes the
// payloads in bounded batches until the box is empty, so that a chatty node
// costs one wake-up per batch rather than one queued call per event.
//
// The box is bounded: while it is full, payloads are dropped and counted,
// and the next payload kept carries the number dropped before it, so that
// the receiver can throw away the record the gap has cut. Memory stays
// bounded when a node sends faster than the view can show.
class ErfcEventInbox
{
public:
    static constexpr int DefaultCapacity = 65536; // payloads

    struct Item
    {
        QByteArray payload;
        quint64 droppedBefore = 0;
    };

    explicit ErfcEventInbox(int capacity = DefaultCapacity);

    // Where the wake-up goes (a queued call of `wake` on `receiver`'s
    // thread); null stops taking payloads in. Set and cleared on the
    // receiver's thread; the receiver must clear it before it goes.
    void setReceiver(QObject* receiver, std::function<void()> wake);

    // Any thread.
    void put(const QByteArray& payload);
    // Up to `max` payloads, oldest first. `more` tells whether payloads were
    // left behind: the receiver then comes back for them by itself (no
    // wake-up comes until it has emptied the box).
    QVector<Item> take(int max, bool* more);

    quint64 dropped() const;

private:
    Q_DISABLE_COPY(ErfcEventInbox)
    mutable QMutex m_lock;
    QVector<Item> m_items;
    int m_first = 0; // items before it were taken
    const int m_capacity;
    quint64 m_droppedSinceKept = 0;
    quint64 m_dropped = 0;
    bool m_wakePending = false;
    QObject* m_receiver = nullptr;
    std::function<void()> m_wake;

    void wakeLocked();
};

#endif // ERFCEVENTINBOX_P_H
