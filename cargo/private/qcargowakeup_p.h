#ifndef QCARGOWAKEUP_P_H
#define QCARGOWAKEUP_P_H

#include <QDeadlineTimer>
#include <QMutex>
#include <QWaitCondition>

// A wake-up for blocking waits: a waiter returns when its condition holds,
// when any wake-up comes after it began to wait, or at its deadline. Wakers
// count under the mutex, so a wake-up between a waiter's test and its wait is
// never lost.
class QCargoWakeUp
{
public:
    void wakeAll();

    // Negative msecs: no limit. Returns done() as it is at the end.
    template <typename Done>
    bool wait(Done done, int msecs)
    {
        const QDeadlineTimer deadline(msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                : QDeadlineTimer(msecs));
        QMutexLocker lock(&m_mutex);
        const quint64 start = m_wakeUps;
        while (!done() && m_wakeUps == start) {
            if (!m_condition.wait(&m_mutex, deadline))
                break;
        }
        return done();
    }

private:
    QMutex m_mutex;
    QWaitCondition m_condition;
    quint64 m_wakeUps = 0;
};

#endif // QCARGOWAKEUP_P_H
