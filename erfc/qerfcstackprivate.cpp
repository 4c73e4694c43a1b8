// The stack engine: construction, configuration, links, registration and statistics.

#include "qerfcdatagram.h"
#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfceventconnect.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcguiwait.h"
#include "qerfcinterface.h"
#include "qerfcintfnct_p.h"
#include "qerfcrequest_p.h"
#include "qerfcstack_p.h"
#include "qerfcstackhelpers_p.h"
#include "qerfcthread.h"
#include "qerfcwire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QWaitCondition>

#include <memory>

using namespace QErfcStackHelpers;
using namespace QErfcWire;

QErfcStackPrivate::QErfcStackPrivate(QErfcStack* q, uchar address, QErfc::Mode mode)
    : QObject(q)
    , q(q)
    , m_mode(mode)
    , m_protocolVersion(QStringLiteral("02"))
{
    m_address = address;
    m_nodeDescription = QString::fromLatin1(QCoreApplication::applicationName().toLatin1().left(MaxDescription));
    m_softwareVersion = QString::fromLatin1(QCoreApplication::applicationVersion().toLatin1().left(MaxDescription));
    m_runId = QRandomGenerator::system()->generate();

    QErfc::registerMetaTypes();
    qRegisterMetaType<bool*>("bool*");

    m_thread = new QErfcThread;
    m_thread->start(QThread::InheritPriority);

    // Links are opened and closed on the stack thread through
    // runOnStackThread, which bounds the caller's wait.
    // Received frames and the timers are handled right on the stack thread.
    connect(m_thread, &QErfcThread::frameReceived, this, &QErfcStackPrivate::onFrameReceived,
            Qt::DirectConnection);
    connect(m_thread, &QErfcThread::drcRefresh, this, &QErfcStackPrivate::drcHello,
            Qt::DirectConnection);
    connect(m_thread, &QErfcThread::drcRefresh, this, &QErfcStackPrivate::drcCheckNodes,
            Qt::DirectConnection);
    connect(m_thread, &QErfcThread::retransmitRefresh, this, &QErfcStackPrivate::doRetransmits,
            Qt::DirectConnection);
    // Frames are written by the stack thread, in the order they were queued.
    connect(this, &QErfcStackPrivate::frameTransmit, m_thread, &QErfcThread::onFrameTransmit,
            Qt::QueuedConnection);

    const QList<QErfcIntFnct*> internal = {
        new QErfcIntFnctEcho(this),     new QErfcIntFnctNodeInfo(this),
        new QErfcIntFnctFnctInfo(this), new QErfcIntFnctEventInfo(this),
        new QErfcIntFnctManagement(this), new QErfcIntFnctNetwork(this),
        new QErfcIntFnctStatistic(this),
    };
    for (QErfcIntFnct* f : internal)
        registerFunction(f, true);
    m_internalFunctions = internal;
}

bool QErfcStackPrivate::shutDown()
{
    disable();

    // Links still bound are closed on the thread that owns their streams;
    // the goodbye queued above is written before each close.
    QList<QErfcInterface*> links;
    {
        QMutexLocker lock(&m_interfacesLock);
        links = m_interfaces;
        m_interfaces.clear();
    }
    for (QErfcInterface* link : qAsConst(links)) {
        QErfcThread* thread = m_thread;
        if (!runOnStackThread([thread, link] { thread->onRemoveInterface(link); }, "closing a link"))
            m_thread->forgetLink(link);
    }
    return stopThread();
}

bool QErfcStackPrivate::stopThread()
{
    // Queued behind every frame and node update already handed to the thread.
    QMetaObject::invokeMethod(m_thread, &QThread::quit, Qt::QueuedConnection);
    QErfcGuiWait guiWait;
    if (m_thread->wait(QDeadlineTimer(ThreadStopWaitMs)))
        return true;
    qCritical("QErfcStack: the stack thread did not stop within %d ms; it is left running",
              int(ThreadStopWaitMs));
    m_detached = true;
    return false;
}

QErfcStackPrivate::~QErfcStackPrivate()
{
    delete m_thread;
    m_thread = nullptr;

    QList<QErfcRequest*> internalRequests;
    {
        QMutexLocker lock(&m_internalRequestsLock);
        internalRequests = m_internalRequests.values();
    }
    qDeleteAll(internalRequests);
}

qint64 QErfcStackPrivate::now()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadline();
}

bool QErfcStackPrivate::onStackThread() const
{
    return QThread::currentThread() == m_thread;
}

QDeadlineTimer QErfcStackPrivate::sendDeadline() const
{
    // Another sender may hold a node's send lock while it waits for the
    // window, which only the stack thread can drain: the stack thread gives
    // up after a short while instead of waiting for itself. Other senders
    // wait for the lock and the window within one bound, so that senders
    // queued on a slow node do not add up their waits.
    return QDeadlineTimer(onStackThread() ? int(StackThreadSendLockMs) : int(WindowWaitMs));
}

namespace {

// What a caller and the stack thread share for one call: the caller may
// give up and return while the call is still queued.
struct StackCall
{
    enum State { Queued, Running, Finished, Dropped };
    QMutex lock;
    QWaitCondition changed;
    State state = Queued;
};

} // namespace

bool QErfcStackPrivate::runOnStackThread(const std::function<void()>& call, const char* what)
{
    auto shared = std::make_shared<StackCall>();
    QMetaObject::invokeMethod(m_thread, [shared, call] {
        {
            QMutexLocker lock(&shared->lock);
            if (shared->state == StackCall::Dropped)
                return;
            shared->state = StackCall::Running;
        }
        call();
        QMutexLocker lock(&shared->lock);
        shared->state = StackCall::Finished;
        shared->changed.wakeAll();
    }, Qt::QueuedConnection);

    // The GUI thread may bind or release a link: a node's call handed to it
    // meanwhile gives up instead of holding the stack thread.
    QErfcGuiWait guiWait;
    QMutexLocker lock(&shared->lock);
    QDeadlineTimer deadline(m_stackCallWaitMs);
    while (shared->state == StackCall::Queued) {
        if (!shared->changed.wait(&shared->lock, deadline) && shared->state == StackCall::Queued) {
            shared->state = StackCall::Dropped;
            qCritical("QErfcStack: the stack thread did not take up %s within %d ms", what,
                      m_stackCallWaitMs);
            return false;
        }
    }
    // Started: it is the link's own open or close, bounded by its device.
    // The caller may free the link once this returns, so it waits for the
    // end; a device that exceeds its own bound is reported meanwhile.
    deadline = QDeadlineTimer(m_stackCallWaitMs);
    while (shared->state != StackCall::Finished) {
        if (!shared->changed.wait(&shared->lock, deadline) && shared->state != StackCall::Finished) {
            qCritical("QErfcStack: %s has been running for over %d ms", what, m_stackCallWaitMs);
            deadline = QDeadlineTimer(QDeadlineTimer::Forever);
        }
    }
    return true;
}

QString QErfcStackPrivate::text(const QString& field) const
{
    QMutexLocker lock(&m_configLock);
    return field;
}

void QErfcStackPrivate::setText(QString& field, const QString& text, int errorCode)
{
    if (text.toLatin1().size() > MaxDescription)
        fail(errorCode);
    QMutexLocker lock(&m_configLock);
    field = text;
}

void QErfcStackPrivate::setBytes(QByteArray& field, const QByteArray& bytes)
{
    if (bytes.size() > QErfcMsg::MaxPayload)
        fail(QErfcException::PayloadError);
    QMutexLocker lock(&m_configLock);
    field = bytes;
}

void QErfcStackPrivate::enable()
{
    m_enabled = true;
    drcHello();
}

void QErfcStackPrivate::disable()
{
    drcGoodbye();
    m_enabled = false;
    removeNodes(knownNodes());
}

void QErfcStackPrivate::bindInterface(QErfcInterface* link)
{
    // The stack thread would wait for itself.
    if (onStackThread())
        fail(QErfcException::InterfaceBindError);
    {
        QMutexLocker lock(&m_interfacesLock);
        if (m_interfaces.contains(link))
            fail(QErfcException::InterfaceBindError);
        m_interfaces.append(link);
    }
    // Not under the list lock: the stack thread needs it for hellos meanwhile.
    auto ok = std::make_shared<bool>(false);
    QErfcThread* thread = m_thread;
    if (!runOnStackThread([thread, link, ok] { thread->onNewInterface(link, ok.get()); },
                          "opening a link")) {
        // Never opened: the link is not the stack's, the caller may free it.
        QMutexLocker lock(&m_interfacesLock);
        m_interfaces.removeOne(link);
        lock.unlock();
        fail(QErfcException::TimeoutError);
    }
    if (!*ok)
        fail(QErfcException::InterfaceBindError); // stays listed; a release removes it
    drcHello();
}

void QErfcStackPrivate::releaseInterface(QErfcInterface* link)
{
    if (onStackThread())
        fail(QErfcException::InterfaceReleaseError);
    {
        QMutexLocker lock(&m_interfacesLock);
        if (!m_interfaces.removeOne(link))
            fail(QErfcException::InterfaceReleaseError);
    }
    QList<uchar> behind;
    {
        QMutexLocker lock(&m_nodesLock);
        for (auto it = m_nodes.cbegin(); it != m_nodes.cend(); ++it) {
            if (it.value()->interface() == link)
                behind.append(it.key());
        }
    }
    removeNodes(behind);
    QErfcThread* thread = m_thread;
    if (!runOnStackThread([thread, link] { thread->onRemoveInterface(link); }, "closing a link")) {
        // Left open, but nothing more is written to it or taken from it.
        m_thread->forgetLink(link);
        fail(QErfcException::TimeoutError);
    }
}

namespace {

// Enters an offered function or event in its table under the table's lock.
template <typename T>
void registerIn(QMap<uchar, QErfcHandle<T>>& table, QMutex& lock, T* item, bool checkId,
                int takenCode)
{
    QMutexLocker locker(&lock);
    const uchar id = item->id();
    if (checkId && (id < 16 || id > 127))
        fail(QErfcException::RegisterIdError);
    if (item->description().toLatin1().size() > QErfcStackPrivate::MaxDescription)
        fail(QErfcException::DescriptionError);
    if (table.value(id).isAlive()) // one destroyed while registered leaves its place free
        fail(takenCode);
    table.insert(id, QErfcHandle<T>(item, item->guard()));
}

} // namespace

void QErfcStackPrivate::registerFunction(QErfcFunction* function, bool internal)
{
    registerIn(m_functions, m_functionsLock, function, !internal,
               QErfcException::FunctionRegisterError);
}

void QErfcStackPrivate::registerEvent(QErfcEvent* event)
{
    registerIn(m_events, m_eventsLock, event, true, QErfcException::EventRegisterError);
}

void QErfcStackPrivate::unregisterFunction(QErfcFunction* function)
{
    QMutexLocker lock(&m_functionsLock);
    // The internal functions stay for the engine's life.
    if (function->id() >= 16)
        m_functions.remove(function->id());
}

void QErfcStackPrivate::releaseFunction(QErfcFunction* function)
{
    {
        QMutexLocker lock(&m_functionsLock);
        if (function->id() >= 16 && m_functions.value(function->id()).object() == function)
            m_functions.remove(function->id());
        // Dispatch is inside its call: it deletes it once out, without
        // waiting for anyone here (the handler may wait for this thread).
        if (m_calling == function) {
            m_releaseAfterCall = true;
            return;
        }
    }
    delete function;
}

void QErfcStackPrivate::unregisterEvent(QErfcEvent* event)
{
    QMutexLocker lock(&m_eventsLock);
    m_events.remove(event->id());
}

QErfcHandle<QErfcFunction> QErfcStackPrivate::beginCall(uchar id, QErfc::Privilege privilege)
{
    QMutexLocker lock(&m_functionsLock);
    const QErfcHandle<QErfcFunction> f = m_functions.value(id);
    bool allowed = false;
    f.call([&](QErfcFunction* fn) { allowed = fn->privilege() <= privilege; });
    if (!allowed)
        return QErfcHandle<QErfcFunction>();
    m_calling = f.object();
    return f;
}

void QErfcStackPrivate::endCall()
{
    QMutexLocker lock(&m_functionsLock);
    QErfcFunction* released = m_releaseAfterCall ? m_calling : nullptr;
    m_calling = nullptr;
    m_releaseAfterCall = false;
    lock.unlock();
    // Deleted on its own thread, where nothing of the call is left.
    if (released)
        released->deleteLater();
}

bool QErfcStackPrivate::functionDescription(uchar id, QString* description) const
{
    QMutexLocker lock(&m_functionsLock);
    return m_functions.value(id).call([description](QErfcFunction* f) { *description = f->description(); });
}

bool QErfcStackPrivate::eventDescription(uchar id, QString* description) const
{
    QMutexLocker lock(&m_eventsLock);
    return m_events.value(id).call([description](QErfcEvent* e) { *description = e->description(); });
}

QErfcStatistics QErfcStackPrivate::statistics() const
{
    QMutexLocker lock(&m_statisticsLock);
    return m_statistics;
}

void QErfcStackPrivate::resetStatistics()
{
    QMutexLocker lock(&m_statisticsLock);
    m_statistics.reset();
}
