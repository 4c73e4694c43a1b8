#ifndef QERFCNODE_P_H
#define QERFCNODE_P_H

#include "qerfc.h"
#include "qerfcmsg.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>
#include <atomic>
#include <memory>

class QErfcInterface;

// What the stack remembers of an address beyond the life of its node record,
// so that a node dropped and heard again continues with its request ids and
// window bit.
struct QErfcAddressMemory
{
    std::atomic<quint8> known{0};
    std::atomic<quint8> nextRequestId{0};
    std::atomic<quint8> windowBit{0};
};

// The stack's record of one remote node: what it announced, the PC's sending
// state towards it (request ids, window bit, outstanding frames) and the
// receiving state for it (the duplicate filter).
class QErfcNode : public QObject
{
    Q_OBJECT
public:
    enum { RequestIds = 16, ExpiryMs = 7000 };

    enum ReserveResult {
        Reserved,
        NodeDeleted,
        NoSlot // window 0, a full window on a thread that must not wait, or the wait ran out
    };

    struct DueFrames
    {
        QList<QErfcMsg> resend;  // frames to send again, already marked
        QList<QErfcMsg> expired; // frames out of retries, already removed
    };

    QErfcNode(QErfcInterface* link, quint8 address, quint32 runId, quint8 window,
              QErfcAddressMemory* memory, QErfc::Mode mode, QObject* parent = nullptr);
    ~QErfcNode() override;

    quint8 address() const { return m_address; }
    QErfcInterface* interface() const;
    quint32 runId() const;
    quint8 window() const;
    QErfc::Mode mode() const;
    bool isDeleted() const;
    bool windowBit() const;
    int pendingCount() const;

    // The send lock: one sender at a time per node, from taking a request id
    // until its frame is queued. False when the node has been dropped, or when
    // waitMs (negative: no bound) passed while another sender held it.
    bool tryLock(int waitMs = -1);
    void unlock();

    bool hasFreeSlot() const;
    // Takes a request id within the window and enters the frame as pending,
    // in one step, so that a drain between the two cannot flip the window bit
    // under it. Waits up to waitMs for the window to drain when mayWait. The
    // frame's send time is the stack's clock once the id is granted.
    ReserveResult reserve(QErfcMsg& frame, bool mayWait, int waitMs);
    void addPending(const QErfcMsg& frame);
    // Finds the outstanding frame a response answers: same request id,
    // function id, event bit and window bit.
    bool matchPending(const QErfcMsg& response, QErfcMsg* sent) const;
    // matchPending and removal in one step.
    bool takePending(const QErfcMsg& response, QErfcMsg* sent);
    void removePending(quint8 requestId);
    void forceResend(const QErfcMsg& response);
    DueFrames takeDueFrames(qint64 now);
    // An answer that arrived at `arrival` shows that the frame queued as
    // `order` on `link` has crossed it. The frames queued behind it there
    // could not reach the wire before it, and on a slow line they may have
    // waited long in the queue: their time-out runs from this answer at the
    // earliest. A frame lost on the wire is still sent again one time-out
    // after the frames ahead of it were answered; a link that answers nothing
    // times out as before.
    void startTimeoutsBehind(QErfcInterface* link, quint64 order, qint64 arrival);

    // Receive-side duplicate filter; used on the stack thread only.
    bool checkDuplicate(const QErfcMsg& request, QErfcMsg* answer, bool* inProgress);
    void markInProgress(const QErfcMsg& request);
    void storeAnswer(const QErfcMsg& answer);
    void clearDuplicateFilter();

    // Takes what a new hello announced; true when the run id changed.
    bool refresh(QErfcInterface* link, quint32 runId, quint8 window, QErfc::Mode mode, qint64 now);
    bool isExpired(qint64 now) const;

public slots:
    // Drops the record: outstanding requests complete with ConnectionError
    // and every waiting sender is released.
    void deleteNode();

private:
    void removePendingLocked(quint8 requestId);
    int generationLimitLocked() const;

    QErfcAddressMemory* m_memory;
    const quint8 m_address;

    mutable QMutex m_lock; // the pending lock: pending table, window state, announced values
    QWaitCondition m_slotFree;
    QErfcInterface* m_interface;
    quint32 m_runId;
    quint8 m_window;
    QErfc::Mode m_mode;
    qint64 m_lastSeen;
    bool m_deleted = false;
    bool m_windowBit = false;
    quint8 m_nextRequestId = 0;
    int m_takenThisGeneration = 0;
    QHash<quint8, QErfcMsg> m_pending;

    QMutex m_sendLock;

    // Duplicate filter.
    bool m_lastReceivedWindowBit = false;
    quint16 m_inProgress = 0; // one bit per request id
    QHash<quint8, QErfcMsg> m_answers;
};

using QErfcNodePtr = std::shared_ptr<QErfcNode>;

#endif // QERFCNODE_P_H
