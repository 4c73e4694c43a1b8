#include "qerfcguiwait.h"

#include <QCoreApplication>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

namespace {

struct Marker
{
    QMutex lock;
    QWaitCondition changed;
    int depth = 0; // under lock
    std::atomic<bool> waiting{false};
};

Marker& marker()
{
    static Marker instance;
    return instance;
}

} // namespace

bool QErfcGuiWait::isGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

QErfcGuiWait::QErfcGuiWait()
    : m_marked(isGuiThread())
{
    if (!m_marked)
        return;
    Marker& m = marker();
    QMutexLocker lock(&m.lock);
    if (m.depth++ == 0) {
        m.waiting = true;
        m.changed.wakeAll();
    }
}

QErfcGuiWait::~QErfcGuiWait()
{
    if (!m_marked)
        return;
    Marker& m = marker();
    QMutexLocker lock(&m.lock);
    if (--m.depth == 0)
        m.waiting = false;
}

bool QErfcGuiWait::isGuiThreadWaiting()
{
    return marker().waiting.load();
}

bool QErfcGuiWait::waitForGuiThread(QDeadlineTimer deadline, const std::function<bool()>& done)
{
    Marker& m = marker();
    QMutexLocker lock(&m.lock);
    while (!done()) {
        if (m.depth > 0)
            return false;
        if (!m.changed.wait(&m.lock, deadline))
            return done();
    }
    return true;
}

void QErfcGuiWait::wakeWaiters()
{
    Marker& m = marker();
    QMutexLocker lock(&m.lock);
    m.changed.wakeAll();
}
