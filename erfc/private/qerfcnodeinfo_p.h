#ifndef QERFCNODEINFO_P_H
#define QERFCNODEINFO_P_H

#include "qerfcguard.h"
#include "qerfcincomingresponse.h"
#include "qerfcnodeinfo.h"
#include "qerfcwire.h"

#include <QMutex>
#include <QPointer>
#include <QSemaphore>
#include <QWaitCondition>
#include <atomic>
#include <functional>
#include <memory>

class QErfcNodeInfoPrivate : public QObject
{
    Q_OBJECT
public:
    enum { ItemCount = QErfcWire::NodeInfoItemCount, ListSize = 128 };
    enum BatchKind { InfoBatch, FunctionBatch, EventBatch, BatchKinds };

    // One refresh batch: node information, or one list. Each batch keeps
    // its own count, state and list, so a batch started while another of
    // its kind runs leaves that one whole; each ends with one signal.
    struct Batch
    {
        int outstanding = 0;
        QErfcNodeInfo::NodeInfoState state = QErfcNodeInfo::NodeInfoOk;
        QMap<quint8, QString> list;
        quint64 presence = 0; // the node's presence it was started in
        bool complete = false;
        bool taken = false; // a wait has returned it
    };
    using BatchPtr = std::shared_ptr<Batch>;
    // Handles one answer on the stack thread (or on the sender's thread
    // when the stack completes or refuses the request at once).
    using Answer = std::function<void(QErfcNodeInfoPrivate*, const QErfcIncomingResponse&)>;

    QErfcNodeInfoPrivate(QErfcStack* stack, quint8 address, QErfcNodeInfo* owner);
    ~QErfcNodeInfoPrivate() override;

    void copyFrom(const QErfcNodeInfoPrivate& other);
    void computeAvailable();
    // Sends one request; one that the stack refuses is answered at once
    // with ConnectionError, so that its batch still completes. The answer
    // may delete this object: the caller checks m_guard afterwards.
    void sendRequest(quint8 functionId, const QByteArray& payload, const QVariant& userData,
                     const Answer& answer);
    bool acquire(QSemaphore& semaphore, int permits, int timeout, const char* what);
    bool waitForPresence(int mode, int timeout);
    QString textItem(int index) const;
    QByteArray byteItem(int index) const;

    BatchPtr startBatch(BatchKind kind, int count);
    // Waits for the newest batch of the kind that no wait has returned yet
    // (or, when there is none, for the next one) to complete.
    bool waitForBatch(BatchKind kind, int timeout, const char* what);
    void startList(bool functions, uchar from, uchar to);
    void nodeInfoAnswer(const BatchPtr& batch, const QErfcIncomingResponse& response);
    void listAnswer(bool functions, const BatchPtr& batch, const QErfcIncomingResponse& response);

    QErfcStack* m_stack;
    // Null once that stack is gone: a stack made later at the same address is
    // another stack, with no connection to this object.
    QPointer<QErfcStack> m_stackAlive;
    quint8 m_address;
    QErfcNodeInfo* m_owner;
    // What the stack thread holds to reach this object; closed first thing
    // in the destructor.
    const QErfcGuardPtr m_guard = std::make_shared<QErfcGuard>();
    // The stack's node updates, cut explicitly before this object goes:
    // destroying it would free the connected lambda at once, even while the
    // stack thread is about to call it; an explicit disconnect leaves the
    // lambda to an emission still holding it, and the guard keeps that
    // call off this object.
    QMetaObject::Connection m_drcConnection;

    mutable QMutex m_infoLock; // available, items, mode
    QWaitCondition m_presenceChanged;
    bool m_available = false;
    QByteArray m_items[ItemCount];
    QErfc::Mode m_mode = QErfc::Application;
    std::atomic<quint64> m_presence{0}; // counts node updates

    mutable QMutex m_statisticsLock;
    QErfcStatistics m_statistics;

    mutable QMutex m_functionListLock;
    QMap<quint8, QString> m_functionList;
    mutable QMutex m_eventListLock;
    QMap<quint8, QString> m_eventList;

    mutable QMutex m_capacityLock;
    quint16 m_channelCapacity = 0;

    std::atomic<uint> m_pingDelay{QErfcNodeInfo::NoPing};

    QSemaphore m_statisticsSemaphore;
    QSemaphore m_capacitySemaphore;
    QSemaphore m_pingSemaphore;

    QMutex m_batchLock; // the batches; taken before a list lock, never after
    QWaitCondition m_batchDone;
    BatchPtr m_latest[BatchKinds];

public slots:
    void drcUpdate(uchar addr, QErfc::DrcUpdate state, QErfc::Mode nodeMode);
    void pingResponseCall(QErfcIncomingResponse response);
    void resetResponseCall(QErfcIncomingResponse response);
    void statisticsResponse(QErfcIncomingResponse response);
    void channelCapacityResponseCall(QErfcIncomingResponse response);
};

#endif // QERFCNODEINFO_P_H
