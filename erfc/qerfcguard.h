#ifndef QERFCGUARD_H
#define QERFCGUARD_H

#include <QMutex>
#include <QThread>
#include <QVarLengthArray>
#include <QWaitCondition>

#include <memory>
#include <utility>

// The handle through which another thread (normally the stack thread) calls
// back into a caller's object: a request, a node client, an event
// subscription, a Cargo stream.
//
// The object owns a guard and closes it first thing in its destructor; the
// calling side keeps a shared pointer to the guard and enters it for each
// call. The rules:
// - A call enters only while the guard is open; once closed, nothing enters.
// - No lock is held while a call runs, so the object may be deleted from
//   inside any of its own signals, on any thread.
// - close() waits for calls running on other threads to leave, never for one
//   on its own thread: deleting the object from its own signal returns at
//   once, and the call, back from the signal, sees stillOpen() false and
//   touches nothing more.
// - A call never waits on the thread that may be destroying its object (for
//   example through a blocking queued connection); that would deadlock.
//
// A subclass that overrides a guarded virtual slot closes the guard in its
// own destructor, before its part of the object goes.
class QErfcGuard
{
public:
    QErfcGuard() = default;
    Q_DISABLE_COPY(QErfcGuard)

    // Marks the object gone and waits until no other thread is inside.
    void close()
    {
        const Qt::HANDLE self = QThread::currentThreadId();
        QMutexLocker lock(&m_lock);
        m_open = false;
        while (hasOtherThanLocked(self))
            m_left.wait(&m_lock);
    }

    bool isOpen() const
    {
        QMutexLocker lock(&m_lock);
        return m_open;
    }

    // One call into the object: open while the scope lives. Returns false
    // from operator bool when the object is already gone.
    class Scope
    {
    public:
        explicit Scope(std::shared_ptr<QErfcGuard> guard)
            : m_guard(std::move(guard))
            , m_entered(m_guard && m_guard->enter())
        {
        }
        ~Scope()
        {
            if (m_entered)
                m_guard->leave();
        }
        Q_DISABLE_COPY(Scope)

        explicit operator bool() const { return m_entered; }
        // After a signal: false when the object was deleted meanwhile (only
        // its own thread can have done that while this scope is open).
        bool stillOpen() const { return m_entered && m_guard->isOpen(); }

    private:
        std::shared_ptr<QErfcGuard> m_guard;
        bool m_entered;
    };

private:
    bool enter()
    {
        QMutexLocker lock(&m_lock);
        if (!m_open)
            return false;
        m_inside.append(QThread::currentThreadId());
        return true;
    }

    void leave()
    {
        const Qt::HANDLE self = QThread::currentThreadId();
        QMutexLocker lock(&m_lock);
        for (int i = m_inside.size() - 1; i >= 0; --i) {
            if (m_inside.at(i) == self) {
                m_inside.remove(i);
                break;
            }
        }
        m_left.wakeAll();
    }

    bool hasOtherThanLocked(Qt::HANDLE self) const
    {
        for (Qt::HANDLE thread : m_inside) {
            if (thread != self)
                return true;
        }
        return false;
    }

    mutable QMutex m_lock;
    QWaitCondition m_left;
    bool m_open = true;
    QVarLengthArray<Qt::HANDLE, 4> m_inside; // one entry per call in progress
};

using QErfcGuardPtr = std::shared_ptr<QErfcGuard>;

// A guarded pointer to an object of type T: what the calling side keeps.
template <class T>
class QErfcHandle
{
public:
    QErfcHandle() = default;
    QErfcHandle(T* object, QErfcGuardPtr guard)
        : m_object(object)
        , m_guard(std::move(guard))
    {
    }

    // Runs fn(object) inside the guard; false (and fn not run) when the
    // object is gone. fn may delete the object; nothing here touches it after.
    template <class Fn>
    bool call(Fn&& fn) const
    {
        QErfcGuard::Scope scope(m_guard);
        if (!scope)
            return false;
        std::forward<Fn>(fn)(m_object);
        return true;
    }

    bool isAlive() const { return m_guard && m_guard->isOpen(); }
    // For comparison only: the pointer may dangle once the guard is closed.
    T* object() const { return m_object; }
    const QErfcGuardPtr& guard() const { return m_guard; }

private:
    T* m_object = nullptr;
    QErfcGuardPtr m_guard;
};

#endif // QERFCGUARD_H
