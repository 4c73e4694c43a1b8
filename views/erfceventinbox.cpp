#include "erfceventinbox_p.h"

#include <QMetaObject>

ErfcEventInbox::ErfcEventInbox(int capacity)
    : m_capacity(capacity)
{
}

void ErfcEventInbox::setReceiver(QObject* receiver, std::function<void()> wake)
{
    QMutexLocker lock(&m_lock);
    m_receiver = receiver;
    m_wake = std::move(wake);
    m_wakePending = false;
    if (!receiver) {
        m_items.clear();
        m_first = 0;
    }
}

void ErfcEventInbox::put(const QByteArray& payload)
{
    QMutexLocker lock(&m_lock);
    if (!m_receiver)
        return;
    if (m_items.size() - m_first >= m_capacity) {
        ++m_droppedSinceKept;
        ++m_dropped;
        return;
    }
    m_items.append(Item{payload, m_droppedSinceKept});
    m_droppedSinceKept = 0;
    if (!m_wakePending)
        wakeLocked();
}

QVector<ErfcEventInbox::Item> ErfcEventInbox::take(int max, bool* more)
{
    QMutexLocker lock(&m_lock);
    QVector<Item> out;
    const int n = qMin(max, m_items.size() - m_first);
    if (m_first == 0 && n == m_items.size()) {
        out.swap(m_items);
    } else {
        out.reserve(n);
        for (int i = 0; i < n; ++i)
            out.append(std::move(m_items[m_first + i]));
        m_first += n;
        // The taken front is given back once it is half the vector.
        if (m_first == m_items.size()) {
            m_items.clear();
            m_first = 0;
        } else if (m_first > m_items.size() / 2) {
            m_items.erase(m_items.begin(), m_items.begin() + m_first);
            m_first = 0;
        }
    }
    *more = m_items.size() > m_first;
    m_wakePending = *more;
    return out;
}

quint64 ErfcEventInbox::dropped() const
{
    QMutexLocker lock(&m_lock);
    return m_dropped;
}

void ErfcEventInbox::wakeLocked()
{
    // Posting is no signal: it takes only the receiving thread's queue lock,
    // which no one holds while waiting for this one.
    m_wakePending = true;
    std::function<void()> wake = m_wake;
    QMetaObject::invokeMethod(m_receiver, std::move(wake), Qt::QueuedConnection);
}
