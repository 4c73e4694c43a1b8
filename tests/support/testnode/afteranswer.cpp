#include "afteranswer.h"

#include "qerfcfunction.h"

#include <QAbstractEventDispatcher>

void AfterAnswer::run(QErfcFunction* function, std::function<void()> work)
{
    // The stack queues the answer's write to this thread's event queue as
    // soon as the handler returns, behind this first step. So when the step
    // runs, the write is queued already, and whatever `work` sends later is
    // queued behind it: the thread writes in that order.
    const QErfcHandle<QErfcFunction> handle(function, function->guard());
    QMetaObject::invokeMethod(QAbstractEventDispatcher::instance(), [handle, work] {
        handle.call([&work](QErfcFunction* f) { QMetaObject::invokeMethod(f, work, Qt::QueuedConnection); });
    }, Qt::QueuedConnection);
}
