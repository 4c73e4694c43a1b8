#include "qerfcnode_p.h"

#include <QDeadlineTimer>

namespace {
// Numbers frames as they are queued (an id granted, a resend taken), across
// all nodes and links. Senders racing on two nodes may swap neighbours: a
// time-out then starts one frame's wire time early or late, nothing more.
std::atomic<quint64> queuedFrames{0};
}

QErfcNode::QErfcNode(QErfcInterface* link, quint8 address, quint32 runId, quint8 window,
                     QErfcAddressMemory* memory, QErfc::Mode mode, QObject* parent)
    : QObject(parent)
    , m_memory(memory)
    , m_address(address)
    , m_interface(link)
    , m_runId(runId)
    , m_window(window)
    , m_mode(mode)
    , m_lastSeen(QDeadlineTimer::current().deadline())
{
    if (m_memory->known.load()) {
        m_nextRequestId = m_memory->nextRequestId.load() % RequestIds;
        m_windowBit = m_memory->windowBit.load();
    } else {
        m_memory->known = 1;
    }
}

QErfcNode::~QErfcNode() = default;

QErfcInterface* QErfcNode::interface() const
{
    QMutexLocker lock(&m_lock);
    return m_interface;
}

quint32 QErfcNode::runId() const
{
    QMutexLocker lock(&m_lock);
    return m_runId;
}

quint8 QErfcNode::window() const
{
    QMutexLocker lock(&m_lock);
    return m_window;
}

QErfc::Mode QErfcNode::mode() const
{
    QMutexLocker lock(&m_lock);
    return m_mode;
}

bool QErfcNode::isDeleted() const
{
    QMutexLocker lock(&m_lock);
    return m_deleted;
}

bool QErfcNode::windowBit() const
{
    QMutexLocker lock(&m_lock);
    return m_windowBit;
}

int QErfcNode::pendingCount() const
{
    QMutexLocker lock(&m_lock);
    return m_pending.size();
}

bool QErfcNode::tryLock(int waitMs)
{
    if (isDeleted())
        return false;
    if (waitMs < 0)
        m_sendLock.lock();
    else if (!m_sendLock.tryLock(waitMs))
        return false;
    if (isDeleted()) {
        m_sendLock.unlock();
        return false;
    }
    return true;
}

void QErfcNode::unlock()
{
    m_sendLock.unlock();
}

int QErfcNode::generationLimitLocked() const
{
    // Request ids are four bits: more than 16 outstanding, or more than 16
    // taken in one window generation, would reuse an id the peer may still
    // remember.
    return qMin(int(m_window), int(RequestIds));
}

bool QErfcNode::hasFreeSlot() const
{
    QMutexLocker lock(&m_lock);
    return m_window > m_pending.size();
}

QErfcNode::ReserveResult QErfcNode::reserve(QErfcMsg& frame, bool mayWait, int waitMs)
{
    QDeadlineTimer deadline(waitMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(waitMs));
    QMutexLocker lock(&m_lock);
    for (;;) {
        if (m_deleted)
            return NodeDeleted;
        const int limit = generationLimitLocked();
        if (limit == 0)
            return NoSlot;
        if (m_pending.size() < limit && m_takenThisGeneration < limit)
            break;
        if (!mayWait)
            return NoSlot;
        if (!m_slotFree.wait(&m_lock, deadline)) {
            if (m_deleted)
                return NodeDeleted;
            const int l = generationLimitLocked();
            if (!(l > 0 && m_pending.size() < l && m_takenThisGeneration < l))
                return NoSlot;
            break;
        }
    }
    const quint8 id = m_nextRequestId;
    m_nextRequestId = quint8((id + 1) % RequestIds);
    m_memory->nextRequestId = m_nextRequestId;
    ++m_takenThisGeneration;
    frame.setRequestId(id);
    frame.setWindowBit(m_windowBit);
    // Taken here, after any wait for the window: the time-out runs from when
    // the frame is queued, never from when its sender began to wait.
    frame.setSendTime(QDeadlineTimer::current(Qt::PreciseTimer).deadline());
    frame.setLinkOrder(++queuedFrames);
    m_pending.insert(id, frame);
    return Reserved;
}

void QErfcNode::addPending(const QErfcMsg& frame)
{
    QMutexLocker lock(&m_lock);
    m_pending.insert(frame.requestId(), frame);
}

bool QErfcNode::matchPending(const QErfcMsg& response, QErfcMsg* sent) const
{
    QMutexLocker lock(&m_lock);
    const auto it = m_pending.constFind(response.requestId());
    if (it == m_pending.constEnd())
        return false;
    if (it->functionId() != response.functionId() || it->isEvent() != response.isEvent()
        || it->windowBit() != response.windowBit())
        return false;
    if (sent)
        *sent = *it;
    return true;
}

bool QErfcNode::takePending(const QErfcMsg& response, QErfcMsg* sent)
{
    QMutexLocker lock(&m_lock);
    const auto it = m_pending.constFind(response.requestId());
    if (it == m_pending.constEnd())
        return false;
    if (it->functionId() != response.functionId() || it->isEvent() != response.isEvent()
        || it->windowBit() != response.windowBit())
        return false;
    if (sent)
        *sent = *it;
    removePendingLocked(response.requestId());
    return true;
}

void QErfcNode::removePending(quint8 requestId)
{
    QMutexLocker lock(&m_lock);
    removePendingLocked(requestId);
}

void QErfcNode::removePendingLocked(quint8 requestId)
{
    m_pending.remove(requestId);
    if (m_pending.isEmpty()) {
        // The window drained: a new generation starts with the other bit.
        m_windowBit = !m_windowBit;
        m_memory->windowBit = m_windowBit;
        m_takenThisGeneration = 0;
        m_slotFree.wakeAll();
    }
}

void QErfcNode::forceResend(const QErfcMsg& response)
{
    QMutexLocker lock(&m_lock);
    auto it = m_pending.find(response.requestId());
    if (it != m_pending.end())
        it->setSendTime(0);
}

QErfcNode::DueFrames QErfcNode::takeDueFrames(qint64 now)
{
    DueFrames due;
    QMutexLocker lock(&m_lock);
    QList<quint8> expired;
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        QErfcMsg& frame = it.value();
        if (now - frame.sendTime() < qint64(frame.timeout()))
            continue;
        if (frame.retransmissions() < frame.retries()) {
            frame.setRetransmissions(quint8(frame.retransmissions() + 1));
            frame.setRetransmit(true);
            frame.setSendTime(now);
            frame.setLinkOrder(++queuedFrames);
            due.resend.append(frame);
        } else {
            due.expired.append(frame);
            expired.append(it.key());
        }
    }
    for (quint8 id : qAsConst(expired))
        removePendingLocked(id);
    return due;
}

void QErfcNode::startTimeoutsBehind(QErfcInterface* link, quint64 order, qint64 arrival)
{
    QMutexLocker lock(&m_lock);
    for (QErfcMsg& frame : m_pending) {
        // A send time of 0 asks for a resend at the next tick: it stays.
        if (frame.interface() == link && frame.linkOrder() > order && frame.sendTime() != 0
            && frame.sendTime() < arrival)
            frame.setSendTime(arrival);
    }
}

bool QErfcNode::checkDuplicate(const QErfcMsg& request, QErfcMsg* answer, bool* inProgress)
{
    *inProgress = false;
    if (request.destination() >= QErfcMsg::BroadcastAddress
        || request.source() >= QErfcMsg::BroadcastAddress || request.noResponse())
        return false;
    if (request.windowBit() != m_lastReceivedWindowBit) {
        m_answers.clear();
        m_lastReceivedWindowBit = request.windowBit();
    }
    const auto it = m_answers.constFind(request.requestId());
    if (it == m_answers.constEnd())
        return false;
    if (m_inProgress & (1u << request.requestId())) {
        *inProgress = true;
        return false;
    }
    *answer = *it;
    return true;
}

void QErfcNode::markInProgress(const QErfcMsg& request)
{
    if (request.destination() >= QErfcMsg::BroadcastAddress
        || request.source() >= QErfcMsg::BroadcastAddress || request.noResponse())
        return;
    m_inProgress |= quint16(1u << request.requestId());
}

void QErfcNode::storeAnswer(const QErfcMsg& answer)
{
    m_answers.insert(answer.requestId(), answer);
    m_inProgress &= quint16(~(1u << answer.requestId()));
}

void QErfcNode::clearDuplicateFilter()
{
    m_answers.clear();
    m_inProgress = 0;
    m_lastReceivedWindowBit = false;
}

bool QErfcNode::refresh(QErfcInterface* link, quint32 runId, quint8 window, QErfc::Mode mode,
                        qint64 now)
{
    QMutexLocker lock(&m_lock);
    const bool restarted = runId != m_runId;
    const bool windowChanged = window != m_window;
    m_interface = link;
    m_runId = runId;
    m_window = window;
    m_mode = mode;
    m_lastSeen = now;
    if (windowChanged)
        m_slotFree.wakeAll(); // a larger window may let waiting senders go on
    return restarted;
}

bool QErfcNode::isExpired(qint64 now) const
{
    QMutexLocker lock(&m_lock);
    return now - m_lastSeen >= ExpiryMs;
}

void QErfcNode::deleteNode()
{
    QList<QErfcMsg> outstanding;
    {
        QMutexLocker lock(&m_lock);
        if (m_deleted)
            return;
        m_deleted = true;
        outstanding = m_pending.values();
        if (!m_pending.isEmpty()) {
            // The window generation in use ends with the drop. A record made
            // for this address later starts the next one, so the ids taken in
            // this one are not sent again under the same window bit (the node
            // would answer them from its duplicate filter).
            m_pending.clear();
            m_windowBit = !m_windowBit;
            m_memory->windowBit = m_windowBit;
            m_takenThisGeneration = 0;
        }
        m_slotFree.wakeAll();
    }
    // Completed outside the lock: a completion may start another send.
    for (const QErfcMsg& frame : qAsConst(outstanding))
        frame.completeRequest(frame.source(), frame.functionId(), QErfc::ConnectionError,
                              QByteArray());
}
