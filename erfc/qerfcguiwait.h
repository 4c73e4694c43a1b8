#ifndef QERFCGUIWAIT_H
#define QERFCGUIWAIT_H

#include <QDeadlineTimer>

#include <functional>

// Marks the GUI thread as waiting for another thread, normally the stack
// thread, for as long as the object lives. Work that the stack thread hands
// to the GUI thread and waits for (a node's call of a script function) is
// given up at once while the mark is set, so the two threads never wait on
// each other: hold one around every GUI-thread call that may wait for the
// stack thread. Marks nest; on any other thread the object does nothing.
class QErfcGuiWait
{
public:
    QErfcGuiWait();
    ~QErfcGuiWait();

    // Whether the GUI thread is inside such a wait now.
    static bool isGuiThreadWaiting();
    // True on the thread of the application object.
    static bool isGuiThread();

    // For a thread that waits for the GUI thread to do something: blocks
    // until done() is true, the GUI thread starts waiting itself, or the
    // deadline passes, and returns done(). done() is called under the
    // marker's lock; whoever makes it true calls wakeWaiters() afterwards.
    static bool waitForGuiThread(QDeadlineTimer deadline, const std::function<bool()>& done);
    static void wakeWaiters();

private:
    Q_DISABLE_COPY(QErfcGuiWait)
    const bool m_marked;
};

#endif // QERFCGUIWAIT_H
