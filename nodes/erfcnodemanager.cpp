#include "erfcnodemanager.h"

#include "erfcnodeinfo.h"
#include "qerfcexception.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"

#include <QHash>
#include <QMutex>
#include <QQueue>
#include <QReadWriteLock>
#include <QRunnable>
#include <QSet>
#include <QThreadPool>

namespace {

// The node's service function; the sub-command 0x00 holds a node that has
// just started in Maintenance there instead of letting it run its application.
constexpr quint8 CatchFunctionId = 127;
constexpr char CatchCommand = 0x00;

// One sender per possible node address (0..62).
constexpr int MaxSenders = 63;

} // namespace

class ErfcNodeManagerPrivate
{
public:
    using Job = std::function<void(QErfcStack*)>;

    explicit ErfcNodeManagerPrivate(ErfcNodeManager* q)
        : q(q)
    {
        senders.setMaxThreadCount(MaxSenders);
    }

    // Queues a job for the node; the node's sender runs its jobs one after
    // the other, and starts when the first job arrives.
    void post(quint8 address, Job job)
    {
        QMutexLocker lock(&queueLock);
        queues[address].enqueue(std::move(job));
        if (draining.contains(address))
            return;
        draining.insert(address);
        senders.start(QRunnable::create([this, address] { drain(address); }));
    }

    void drain(quint8 address)
    {
        for (;;) {
            Job job;
            {
                QMutexLocker lock(&queueLock);
                QQueue<Job>& queue = queues[address];
                if (queue.isEmpty()) {
                    draining.remove(address);
                    return;
                }
                job = queue.dequeue();
            }
            // The stack cannot be taken away while a job is talking to it.
            QReadLocker use(&stackUse);
            if (stack)
                job(stack);
        }
    }

    void sendCatch(QErfcStack* to, quint8 address)
    {
        // No answer is expected: the request is not kept after the call.
        QErfcRequest request(address, CatchFunctionId, QByteArray(1, CatchCommand));
        request.setNoResponse(true);
        QString text;
        try {
            to->send(&request);
            text = ErfcNodeManager::tr("Catching %1 ...").arg(address);
        } catch (const QErfcException& e) {
            text = ErfcNodeManager::tr("Exception on catch for address%1: %2")
                       .arg(address)
                       .arg(QString::fromLatin1(e.what()));
        }
        ErfcNodeManager* manager = q;
        QMetaObject::invokeMethod(
            manager, [manager, text] { emit manager->message(text); }, Qt::QueuedConnection);
    }

    ErfcNodeManager* q;
    bool dumpLog = false;
    QHash<quint8, ErfcNodeInfo*> nodes; // GUI thread only; records are never freed
    QSet<quint8> present;               // GUI thread only

    // Written on the GUI thread under the write lock; senders read it under
    // the read lock for as long as they use it. Every record talks to this
    // stack: a switch moves them all over under the write lock.
    QErfcStack* stack = nullptr;
    QReadWriteLock stackUse;

    QMutex queueLock; // queues, draining
    QHash<quint8, QQueue<Job>> queues;
    QSet<quint8> draining;
    QThreadPool senders;
};

ErfcNodeManager* ErfcNodeManager::instance()
{
    static ErfcNodeManager* const manager = new ErfcNodeManager;
    return manager;
}

ErfcNodeManager::ErfcNodeManager()
    : QObject(nullptr)
    , d(new ErfcNodeManagerPrivate(this))
{
    QErfc::registerMetaTypes();
}

ErfcNodeManager::~ErfcNodeManager() = default;

void ErfcNodeManager::setStack(QErfcStack* stack)
{
    if (stack == d->stack)
        return;
    if (d->stack)
        disconnect(d->stack, nullptr, this, nullptr);
    {
        QMutexLocker lock(&d->queueLock);
        for (QQueue<ErfcNodeManagerPrivate::Job>& queue : d->queues)
            queue.clear();
    }
    // Removals from the stack left are no longer heard.
    d->present.clear();
    {
        // Waits for a job talking to the old stack; none runs until the
        // records follow the new one.
        QWriteLocker use(&d->stackUse);
        d->stack = stack;
        if (stack) {
            for (ErfcNodeInfo* record : qAsConst(d->nodes))
                record->follow(stack);
        }
    }
    if (!stack)
        return;
    connect(stack, &QErfcStack::drcUpdate, this, &ErfcNodeManager::onErfcDrcUpdate);
    // Nodes the stack knows already; read after connecting, so that a later
    // removal still arrives.
    const QList<uchar> known = stack->knownNodes();
    for (const uchar address : known)
        d->present.insert(address);
    // Last resort when the owner forgets to detach: no later job reaches a
    // destroyed stack.
    connect(stack, &QObject::destroyed, this, [this, stack] {
        if (d->stack == stack)
            setStack(nullptr);
    }, Qt::DirectConnection);
}

ErfcNodeInfo* ErfcNodeManager::nodeInfo(quint8 address) const
{
    return d->nodes.value(address);
}

bool ErfcNodeManager::isPresent(quint8 address) const
{
    return d->present.contains(address);
}

void ErfcNodeManager::resetNode(quint8 address, QErfc::Mode mode)
{
    queueRequests(address, [mode](ErfcNodeInfo* record) { record->resetNode(mode); });
}

void ErfcNodeManager::queueRequests(quint8 address, const std::function<void(ErfcNodeInfo*)>& requests)
{
    ErfcNodeInfo* record = d->nodes.value(address);
    if (!record || !requests)
        return;
    d->post(address, [record, requests](QErfcStack*) { requests(record); });
}

bool ErfcNodeManager::dumpLog() const
{
    return d->dumpLog;
}

void ErfcNodeManager::setDumpLog(bool dumpLog)
{
    d->dumpLog = dumpLog;
}

void ErfcNodeManager::onErfcDrcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode)
{
    // An update still queued from a stack that has been detached since.
    QObject* from = sender();
    if (!d->stack || (from && from != d->stack))
        return;

    ErfcNodeInfo* record = d->nodes.value(addr);
    if (!record) {
        record = new ErfcNodeInfo(d->stack, addr);
        d->nodes.insert(addr, record);
        // The batch's presence is taken where it completes (the stack thread),
        // before the node's next arrival can be counted on this thread, and
        // so is the record's update count, which moves on the stack thread
        // the moment a restart empties the items.
        connect(record, &QErfcNodeInfo::nodeInfoRefreshed, this, [this, record] {
            const quint64 presence = record->presence();
            const quint64 updates = record->updateCount();
            QMetaObject::invokeMethod(this, [this, record, presence, updates] {
                onErfcNodeInfoRefreshed(record, presence, updates);
            }, Qt::QueuedConnection);
        }, Qt::DirectConnection);
    }

    if (state == QErfc::NewNode) {
        d->present.insert(addr);
        record->markArrived();
        // Sent first, right after the node announced itself: a node in
        // Maintenance waits only briefly before it starts its application.
        if (mode == QErfc::Maintenance && record->catchMaintenance()) {
            record->setCatchMaintenance(false);
            d->post(addr, [this, addr](QErfcStack* stack) { d->sendCatch(stack, addr); });
        }
        d->post(addr, [record](QErfcStack*) { record->refreshNodeInfo(); });
    } else {
        d->present.remove(addr);
    }

    emit drcUpdate(addr, state, mode);
}

void ErfcNodeManager::onErfcNodeInfoRefreshed(ErfcNodeInfo* record, quint64 presence, quint64 updates)
{
    // A batch that completed after the node left, or that belongs to an
    // earlier presence of a node that has come back since (its items were
    // emptied by the departure), is not passed on: whether this thread has
    // counted the return yet or not.
    if (!record->isAvailable() || presence != record->presence() || updates != record->updateCount())
        return;
    emit nodeInfoRefreshed(record->address(), record);
}
