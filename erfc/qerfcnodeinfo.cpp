#include "qerfcexception.h"
#include "qerfcnodeinfo_p.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcthread.h"
#include "qerfcwire.h"

#include <QDeadlineTimer>

using namespace QErfcWire;

namespace {

qint64 monotonicMs()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadline();
}

// Latin-1 up to the first zero byte or the end.
QString textOf(const QByteArray& payload)
{
    const int zero = payload.indexOf('\0');
    return QString::fromLatin1(zero < 0 ? payload : payload.left(zero));
}

int timeoutOrForever(int timeout)
{
    return timeout < 0 ? -1 : timeout;
}

bool refuseOnStackThread(const char* what)
{
    if (!QErfcThread::isCurrentStackThread())
        return false;
    qWarning("QErfcNodeInfo::%s called on the stack thread, which would wait for itself", what);
    return true;
}

} // namespace

QErfcNodeInfoPrivate::QErfcNodeInfoPrivate(QErfcStack* stack, quint8 address, QErfcNodeInfo* owner)
    : QObject(owner)
    , m_stack(stack)
    , m_stackAlive(stack)
    , m_address(address)
    , m_owner(owner)
{
    static const bool registered = [] {
        qRegisterMetaType<QErfcStatistics>("QErfcStatistics");
        qRegisterMetaType<QErfcNodeInfo::NodeInfoState>("QErfcNodeInfo::NodeInfoState");
        qRegisterMetaType<QMap<quint8, QString>>("QMap<quint8, QString>");
        qRegisterMetaType<QMap<quint8, QString>>("QMap<quint8,QString>");
        return true;
    }();
    Q_UNUSED(registered)

    // Node updates come straight from the stack thread, through the guard:
    // none reaches this object once its destruction has begun. Connected
    // before the node table is read, so that no change falls between.
    const QErfcHandle<QErfcNodeInfoPrivate> self(this, m_guard);
    m_drcConnection = connect(
        stack, &QErfcStack::drcUpdate, this,
        [self](uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) {
            self.call([&](QErfcNodeInfoPrivate* d) { d->drcUpdate(addr, state, mode); });
        },
        Qt::DirectConnection);
    // A node already present counts in the mode it announced.
    QErfc::Mode mode = QErfc::Application;
    const bool known = m_stack->knownNode(m_address, &mode);
    QMutexLocker lock(&m_infoLock);
    m_available = known;
    if (known)
        m_mode = mode;
}

QErfcNodeInfoPrivate::~QErfcNodeInfoPrivate()
{
    // Waits for an answer or update being delivered on another thread; one
    // on this thread (deleted from its own signal) touches nothing more.
    disconnect(m_drcConnection);
    m_guard->close();
}

void QErfcNodeInfoPrivate::computeAvailable()
{
    const bool known = m_stack->knownNodes().contains(m_address);
    QMutexLocker lock(&m_infoLock);
    m_available = known;
}

void QErfcNodeInfoPrivate::copyFrom(const QErfcNodeInfoPrivate& other)
{
    // Made for the same stack and address (the stack thread reads both
    // without a lock, so they are never written after construction).
    Q_ASSERT(m_stack == other.m_stack && m_address == other.m_address);
    {
        QMutexLocker lock(&other.m_statisticsLock);
        const QErfcStatistics copy = other.m_statistics;
        lock.unlock();
        QMutexLocker mine(&m_statisticsLock);
        m_statistics = copy;
    }
    {
        QMutexLocker lock(&other.m_infoLock);
        QByteArray items[ItemCount];
        std::copy(std::begin(other.m_items), std::end(other.m_items), std::begin(items));
        const QErfc::Mode mode = other.m_mode;
        lock.unlock();
        QMutexLocker mine(&m_infoLock);
        std::copy(std::begin(items), std::end(items), std::begin(m_items));
        m_mode = mode;
    }
    const QMap<quint8, QString> functions = other.m_owner->functionList();
    const QMap<quint8, QString> events = other.m_owner->eventList();
    const quint16 capacity = other.m_owner->channelCapacity();
    {
        QMutexLocker lock(&m_functionListLock);
        m_functionList = functions;
    }
    {
        QMutexLocker lock(&m_eventListLock);
        m_eventList = events;
    }
    QMutexLocker lock(&m_capacityLock);
    m_channelCapacity = capacity;
}

void QErfcNodeInfoPrivate::sendRequest(quint8 functionId, const QByteArray& payload,
                                       const QVariant& userData, const Answer& answer)
{
    auto* request = new QErfcRequest(m_address, functionId, payload);
    request->setUserData(userData);
    if (answer) {
        const QErfcHandle<QErfcNodeInfoPrivate> self(this, m_guard);
        connect(request, &QErfcRequest::callSignal, request,
                [self, answer](QErfcIncomingResponse response) {
                    self.call([&](QErfcNodeInfoPrivate* d) { answer(d, response); });
                },
                Qt::DirectConnection);
    }
    // Freed as it completes, on the completing thread: the stack completes
    // every request it took exactly once, and is done with it then. A
    // deletion posted to this object's thread would be lost once that
    // thread's event loop has ended (a short-lived caller thread, or this
    // object gone before the answer).
    connect(request, &QErfcRequest::finished, request, [request] { delete request; },
            Qt::DirectConnection);
    QErfcStack* stack = m_stack;
    try {
        // Nothing of this object is touched after the send: an answer given
        // at once may have deleted it.
        stack->send(request);
    } catch (const QErfcException&) {
        // Refused outright (the stack is disabled, say): account for it as
        // a failed answer so that the batch completes.
        if (answer)
            answer(this, QErfcIncomingResponse(stack->address(), functionId,
                                               QErfc::ConnectionError, QByteArray(), request));
        delete request;
    }
}

bool QErfcNodeInfoPrivate::acquire(QSemaphore& semaphore, int permits, int timeout, const char* what)
{
    if (refuseOnStackThread(what))
        return semaphore.tryAcquire(permits, 0);
    return semaphore.tryAcquire(permits, timeoutOrForever(timeout));
}

bool QErfcNodeInfoPrivate::waitForPresence(int mode, int timeout)
{
    const auto present = [this, mode] {
        return m_available && (mode < 0 || int(m_mode) == mode);
    };
    QMutexLocker lock(&m_infoLock);
    if (present())
        return true;
    if (refuseOnStackThread(mode < 0 ? "waitForNode" : "waitForMode"))
        return false;
    QDeadlineTimer deadline(timeout < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeout));
    while (!present()) {
        if (!m_presenceChanged.wait(&m_infoLock, deadline))
            return present();
    }
    return true;
}

QString QErfcNodeInfoPrivate::textItem(int index) const
{
    QMutexLocker lock(&m_infoLock);
    return textOf(m_items[index]);
}

QByteArray QErfcNodeInfoPrivate::byteItem(int index) const
{
    QMutexLocker lock(&m_infoLock);
    return m_items[index];
}

QErfcNodeInfoPrivate::BatchPtr QErfcNodeInfoPrivate::startBatch(BatchKind kind, int count)
{
    auto batch = std::make_shared<Batch>();
    batch->outstanding = count;
    batch->complete = count == 0;
    batch->presence = m_presence.load();
    QMutexLocker lock(&m_batchLock);
    m_latest[kind] = batch;
    if (batch->complete)
        m_batchDone.wakeAll();
    return batch;
}

bool QErfcNodeInfoPrivate::waitForBatch(BatchKind kind, int timeout, const char* what)
{
    QMutexLocker lock(&m_batchLock);
    const BatchPtr seen = m_latest[kind];
    BatchPtr target = seen && !seen->taken ? seen : BatchPtr();
    const auto ready = [&] {
        if (!target && m_latest[kind] != seen)
            target = m_latest[kind];
        return target && target->complete;
    };
    if (!ready()) {
        if (refuseOnStackThread(what))
            return false;
        const QDeadlineTimer deadline(timeout < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                  : QDeadlineTimer(timeout));
        while (!ready()) {
            if (!m_batchDone.wait(&m_batchLock, deadline) && !ready())
                return false;
        }
    }
    target->taken = true;
    return true;
}

void QErfcNodeInfoPrivate::startList(bool functions, uchar from, uchar to)
{
    {
        QMutexLocker lock(functions ? &m_functionListLock : &m_eventListLock);
        (functions ? m_functionList : m_eventList).clear();
    }
    const int count = to < from ? 0 : to - from + 1;
    const BatchPtr batch = startBatch(functions ? FunctionBatch : EventBatch, count);
    const QErfcGuardPtr guard = m_guard;
    for (int id = from; id <= to && guard->isOpen(); ++id) {
        sendRequest(functions ? FnFunctionInfo : FnEventInfo, QByteArray(1, char(id)), id,
                    [functions, batch](QErfcNodeInfoPrivate* d, const QErfcIncomingResponse& r) {
                        d->listAnswer(functions, batch, r);
                    });
    }
}

void QErfcNodeInfoPrivate::listAnswer(bool functions, const BatchPtr& batch,
                                      const QErfcIncomingResponse& response)
{
    QMap<quint8, QString> copy;
    {
        QMutexLocker lock(&m_batchLock);
        if (response.responseCode() == QErfc::OK)
            batch->list.insert(quint8(response.userData().toInt()), textOf(response.payload()));
        if (--batch->outstanding != 0)
            return;
        copy = batch->list;
        // The node's list is the last one completed, unless the node came or
        // went since the batch began.
        if (batch->presence == m_presence.load()) {
            QMutexLocker listLock(functions ? &m_functionListLock : &m_eventListLock);
            (functions ? m_functionList : m_eventList) = copy;
        }
        batch->complete = true;
        m_batchDone.wakeAll();
    }
    // A slot may delete this object; nothing is touched after that.
    const QErfcGuardPtr guard = m_guard;
    if (functions)
        emit m_owner->functionListRefreshed(copy);
    else
        emit m_owner->eventListRefreshed(copy);
    if (guard->isOpen())
        emit m_owner->refreshFinished();
}

void QErfcNodeInfoPrivate::nodeInfoAnswer(const BatchPtr& batch, const QErfcIncomingResponse& response)
{
    const int index = response.userData().toInt();
    const bool ok = response.responseCode() == QErfc::OK;
    // An answer from before the node came or went is not the node's now:
    // its items were emptied by the update and stay so.
    bool current = true;
    if (index >= 0 && index < ItemCount) {
        QMutexLocker lock(&m_infoLock);
        current = batch->presence == m_presence.load();
        const QByteArray payload = ok ? response.payload() : QByteArray();
        if (current && index == ItemMode)
            m_mode = !payload.isEmpty() && payload.at(0) != 0 ? QErfc::Maintenance : QErfc::Application;
        else if (current)
            m_items[index] = payload;
    }
    QErfcNodeInfo::NodeInfoState state;
    {
        QMutexLocker lock(&m_batchLock);
        if (!ok || !current)
            batch->state = QErfcNodeInfo::NodeInfoError;
        if (--batch->outstanding != 0)
            return;
        state = batch->state;
        batch->complete = true;
        m_batchDone.wakeAll();
    }
    const QErfcGuardPtr guard = m_guard;
    emit m_owner->nodeInfoRefreshed(state);
    if (guard->isOpen())
        emit m_owner->refreshFinished();
}

void QErfcNodeInfoPrivate::drcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode nodeMode)
{
    if (addr != m_address)
        return;
    {
        QMutexLocker lock(&m_infoLock);
        m_mode = nodeMode;
        m_available = state == QErfc::NewNode;
        ++m_presence;
        for (QByteArray& item : m_items)
            item.clear();
        {
            QMutexLocker s(&m_statisticsLock);
            m_statistics.reset();
        }
        {
            QMutexLocker f(&m_functionListLock);
            m_functionList.clear();
        }
        {
            QMutexLocker e(&m_eventListLock);
            m_eventList.clear();
        }
        {
            QMutexLocker c(&m_capacityLock);
            m_channelCapacity = 0;
        }
    }
    const QErfcGuardPtr guard = m_guard;
    emit m_owner->nodeUpdate(state, nodeMode);
    if (!guard->isOpen())
        return;
    QMutexLocker lock(&m_infoLock);
    m_presenceChanged.wakeAll();
}

void QErfcNodeInfoPrivate::pingResponseCall(QErfcIncomingResponse response)
{
    // A ping that failed has no round trip to report.
    uint delay = QErfcNodeInfo::NoPing;
    if (response.responseCode() == QErfc::OK)
        delay = uint(quint32(monotonicMs() - response.userData().toLongLong()));
    m_pingDelay = delay;
    m_pingSemaphore.release();
    emit m_owner->pingFinished(delay); // the last touch: a slot may delete this object
}

void QErfcNodeInfoPrivate::resetResponseCall(QErfcIncomingResponse response)
{
    // A node that refused the reset does not restart, so it is never
    // reported new: it is as present as the stack knows it to be. No answer
    // (the node may be restarting) and OK wait for the stack's report.
    const QErfc::ResponseCode code = response.responseCode();
    if (code == QErfc::OK || code == QErfc::ConnectionError)
        return;
    computeAvailable();
    QMutexLocker lock(&m_infoLock);
    m_presenceChanged.wakeAll();
}

void QErfcNodeInfoPrivate::statisticsResponse(QErfcIncomingResponse response)
{
    const bool ok = response.responseCode() == QErfc::OK;
    QErfcStatistics statistics;
    if (ok)
        statistics = QErfcStatistics(response.payload());
    {
        QMutexLocker lock(&m_statisticsLock);
        m_statistics = statistics;
    }
    m_statisticsSemaphore.release();
    const QErfcGuardPtr guard = m_guard;
    if (ok)
        emit m_owner->statisticsRefreshed(statistics);
    if (guard->isOpen())
        emit m_owner->refreshFinished();
}

void QErfcNodeInfoPrivate::channelCapacityResponseCall(QErfcIncomingResponse response)
{
    quint16 capacity = 0;
    const QByteArray& p = response.payload();
    // Sub-command, a 16-bit capacity (little-endian) and one more byte; an
    // answer too short to hold the capacity counts as failed.
    if (response.responseCode() == QErfc::OK && p.size() >= 3)
        capacity = quint16(uchar(p.at(1)) | (uchar(p.at(2)) << 8));
    {
        QMutexLocker lock(&m_capacityLock);
        m_channelCapacity = capacity;
    }
    m_capacitySemaphore.release();
    const QErfcGuardPtr guard = m_guard;
    emit m_owner->channelCapacityRefreshed(capacity);
    if (guard->isOpen())
        emit m_owner->refreshFinished();
}

// ---------------------------------------------------------------- public

QErfcNodeInfo::QErfcNodeInfo(QErfcStack* stack, quint8 address, QObject* parent)
    : QObject(parent)
{
    if (address >= 63)
        throw QErfcException(QErfcException::AddressError);
    d = new QErfcNodeInfoPrivate(stack, address, this);
}

QErfcNodeInfo::QErfcNodeInfo(const QErfcNodeInfo& other)
    : QObject(other.parent())
    , d(new QErfcNodeInfoPrivate(other.d->m_stack, other.d->m_address, this))
{
    d->copyFrom(*other.d);
}

QErfcNodeInfo& QErfcNodeInfo::operator=(const QErfcNodeInfo& other)
{
    if (this == &other)
        return *this;
    // The stack's node updates must follow the stack this object now reads.
    if (other.d->m_stack != d->m_stack || other.d->m_address != d->m_address || d->m_stackAlive.isNull()) {
        const bool available = isAvailable();
        delete d;
        d = new QErfcNodeInfoPrivate(other.d->m_stack, other.d->m_address, this);
        QMutexLocker lock(&d->m_infoLock);
        d->m_available = available; // assignment keeps the own available flag
    }
    d->copyFrom(*other.d);
    return *this;
}

QErfcNodeInfo::~QErfcNodeInfo()
{
    // The private part shuts its guard first, so an answer arriving on the
    // stack thread meanwhile never emits on a half-destroyed object.
    delete d;
}

quint8 QErfcNodeInfo::address() const { return d->m_address; }

quint64 QErfcNodeInfo::updateCount() const
{
    return d->m_presence.load();
}

bool QErfcNodeInfo::isAvailable() const
{
    QMutexLocker lock(&d->m_infoLock);
    return d->m_available;
}

QErfcStatistics QErfcNodeInfo::statistics() const
{
    QMutexLocker lock(&d->m_statisticsLock);
    return d->m_statistics;
}

QString QErfcNodeInfo::protocolVersion() const { return d->textItem(0); }
QString QErfcNodeInfo::nodeDescription() const { return d->textItem(1); }
QString QErfcNodeInfo::softwareVersion() const { return d->textItem(2); }
QByteArray QErfcNodeInfo::softwareHash() const { return d->byteItem(3); }
QString QErfcNodeInfo::bootloaderVersion() const { return d->textItem(4); }
QByteArray QErfcNodeInfo::bootloaderHash() const { return d->byteItem(5); }
QString QErfcNodeInfo::hardwareDescription() const { return d->textItem(6); }
QString QErfcNodeInfo::hardwareRevision() const { return d->textItem(7); }
QString QErfcNodeInfo::serial() const { return d->textItem(8); }
QByteArray QErfcNodeInfo::uniqueId() const { return d->byteItem(9); }
QString QErfcNodeInfo::manufacturer() const { return d->textItem(11); }
QString QErfcNodeInfo::domain() const { return d->textItem(12); }

QErfc::Mode QErfcNodeInfo::mode() const
{
    QMutexLocker lock(&d->m_infoLock);
    return d->m_mode;
}

quint16 QErfcNodeInfo::channelCapacity() const
{
    QMutexLocker lock(&d->m_capacityLock);
    return d->m_channelCapacity;
}

QMap<quint8, QString> QErfcNodeInfo::functionList() const
{
    QMutexLocker lock(&d->m_functionListLock);
    return d->m_functionList;
}

QMap<quint8, QString> QErfcNodeInfo::eventList() const
{
    QMutexLocker lock(&d->m_eventListLock);
    return d->m_eventList;
}

bool QErfcNodeInfo::waitForNode(int timeout)
{
    return d->waitForPresence(-1, timeout);
}

bool QErfcNodeInfo::waitForMode(QErfc::Mode mode, int timeout)
{
    return d->waitForPresence(int(mode), timeout);
}

bool QErfcNodeInfo::waitForStatistics(int timeout)
{
    return d->acquire(d->m_statisticsSemaphore, 1, timeout, "waitForStatistics");
}

bool QErfcNodeInfo::waitForNodeInfo(int timeout)
{
    return d->waitForBatch(QErfcNodeInfoPrivate::InfoBatch, timeout, "waitForNodeInfo");
}

bool QErfcNodeInfo::waitForFunctionList(int timeout)
{
    return d->waitForBatch(QErfcNodeInfoPrivate::FunctionBatch, timeout, "waitForFunctionList");
}

bool QErfcNodeInfo::waitForEventList(int timeout)
{
    return d->waitForBatch(QErfcNodeInfoPrivate::EventBatch, timeout, "waitForEventList");
}

bool QErfcNodeInfo::waitForChannelCapacity(int timeout)
{
    return d->acquire(d->m_capacitySemaphore, 1, timeout, "waitForChannelCapacity");
}

uint QErfcNodeInfo::waitForPing(int timeout)
{
    if (!d->acquire(d->m_pingSemaphore, 1, timeout, "waitForPing"))
        return NoPing;
    return d->m_pingDelay.load();
}

void QErfcNodeInfo::ping(uchar bytes)
{
    d->m_pingSemaphore.tryAcquire(1, 0);
    d->sendRequest(FnEcho, QByteArray(qMin(int(bytes), 32), 'A'), QVariant(monotonicMs()),
                   [](QErfcNodeInfoPrivate* p, const QErfcIncomingResponse& r) { p->pingResponseCall(r); });
}

void QErfcNodeInfo::ping()
{
    ping(32);
}

void QErfcNodeInfo::resetNode(QErfc::Mode mode)
{
    QByteArray payload(2, '\0');
    payload[1] = mode == QErfc::Maintenance ? 1 : 0;
    // The node restarts: it is back when the stack reports it new. Marked
    // before sending, so that a refusal answered at once is not overwritten.
    {
        QMutexLocker lock(&d->m_infoLock);
        d->m_available = false;
    }
    d->sendRequest(FnManagement, payload, QVariant(), &QErfcNodeInfoPrivate::resetResponseCall);
}

void QErfcNodeInfo::resetNode()
{
    resetNode(QErfc::Application);
}

void QErfcNodeInfo::refreshStatistics()
{
    d->m_statisticsSemaphore.tryAcquire(1, 0);
    d->sendRequest(FnStatistics, QByteArray(1, '\0'), QVariant(),
                   [](QErfcNodeInfoPrivate* p, const QErfcIncomingResponse& r) { p->statisticsResponse(r); });
}

void QErfcNodeInfo::refreshNodeInfo()
{
    const auto batch = d->startBatch(QErfcNodeInfoPrivate::InfoBatch, QErfcNodeInfoPrivate::ItemCount);
    const QErfcGuardPtr guard = d->m_guard;
    for (int item = 0; item < QErfcNodeInfoPrivate::ItemCount && guard->isOpen(); ++item) {
        d->sendRequest(FnNodeInfo, QByteArray(1, char(item)), item,
                       [batch](QErfcNodeInfoPrivate* p, const QErfcIncomingResponse& r) {
                           p->nodeInfoAnswer(batch, r);
                       });
    }
}

void QErfcNodeInfo::refreshFunctionList(uchar from, uchar to) { d->startList(true, from, to); }
void QErfcNodeInfo::refreshFunctionList(uchar from) { refreshFunctionList(from, 127); }
void QErfcNodeInfo::refreshFunctionList() { refreshFunctionList(0, 127); }
void QErfcNodeInfo::refreshEventList(uchar from, uchar to) { d->startList(false, from, to); }
void QErfcNodeInfo::refreshEventList(uchar from) { refreshEventList(from, 127); }
void QErfcNodeInfo::refreshEventList() { refreshEventList(0, 127); }

void QErfcNodeInfo::refreshChannelCapacity()
{
    d->m_capacitySemaphore.tryAcquire(1, 0);
    d->sendRequest(FnNetwork, QByteArray("\x04\xFF\xFF\x00", 4), QVariant(),
                   [](QErfcNodeInfoPrivate* p, const QErfcIncomingResponse& r) {
                       p->channelCapacityResponseCall(r);
                   });
}
