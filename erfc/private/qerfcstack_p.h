#ifndef QERFCSTACK_P_H
#define QERFCSTACK_P_H

#include "qerfcevent.h"
#include "qerfceventconnect_p.h"
#include "qerfcfunction.h"
#include "qerfcmsg.h"
#include "qerfcnode_p.h"
#include "qerfcstack.h"
#include "qerfcsubscriber.h"

#include <QDeadlineTimer>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QPointer>
#include <QQueue>
#include <QSet>
#include <atomic>
#include <functional>

class QErfcThread;
class QErfcEvent;
class QErfcFunction;
class QErfcIntFnct;

// The stack engine: owns all state and runs the protocol. Senders work in
// their own thread; reception, answers and the timers run on the stack thread.
class QErfcStackPrivate : public QObject
{
    Q_OBJECT
public:
    enum {
        AdvertisedWindow = 16,
        WindowWaitMs = 5000, // longest a sender waits for the send lock and a window slot together
        MaxDescription = 32,
        StackThreadSendLockMs = 50,
        // Longest a caller waits for the stack thread to take up a link's
        // open or close, and again for it to finish: above the 30 s a TCP
        // connect may take.
        StackCallWaitMs = 40000,
        // Longest the destructor waits for the stack thread to stop.
        ThreadStopWaitMs = 10000
    };

    QErfcStackPrivate(QErfcStack* q, uchar address, QErfc::Mode mode);
    ~QErfcStackPrivate() override;

    // Disables the stack, closes the links still bound and stops the stack
    // thread. False when the thread did not stop in time: the engine must
    // then be left to it, never freed.
    bool shutDown();
    // The facade to signal through; null once the engine was left behind.
    QErfcStack* facade() const { return m_detached.load() ? nullptr : q; }

    static qint64 now();
    bool onStackThread() const;
    // When a sender gives up on a node's send lock and window slot together.
    QDeadlineTimer sendDeadline() const;
    // Runs `call` on the stack thread and waits for it, at most
    // m_stackCallWaitMs for it to start and as long again for it to end.
    // False when the stack thread did not take it up in time: the call is
    // then dropped and never runs. `call` may hold only state that outlives
    // the caller's frame.
    bool runOnStackThread(const std::function<void()>& call, const char* what);
    // Stops the stack thread; false when it did not stop in time.
    bool stopThread();

    // Configuration.
    QString text(const QString& field) const;
    void setText(QString& field, const QString& text, int errorCode);
    void setBytes(QByteArray& field, const QByteArray& bytes);
    uchar ownAddress() const { return uchar(m_address.load()); }
    QErfc::Privilege privilege() const { return QErfc::Privilege(m_privilege.load()); }
    bool isEnabled() const { return m_enabled.load(); }

    void enable();
    void disable();

    // Links.
    void bindInterface(QErfcInterface* link);
    void releaseInterface(QErfcInterface* link);

    // Registration.
    void registerFunction(QErfcFunction* function, bool internal);
    void registerEvent(QErfcEvent* event);
    void unregisterFunction(QErfcFunction* function);
    void unregisterEvent(QErfcEvent* event);
    void releaseFunction(QErfcFunction* function);
    // Looks the function up for a call and marks it as being called, in one
    // step under the table lock; endCall clears the mark. Dispatch calls the
    // function through the handle between the two without the lock: one
    // destroyed on another thread meanwhile waits for the call to return,
    // one released meanwhile is deleted by endCall.
    QErfcHandle<QErfcFunction> beginCall(uchar id, QErfc::Privilege privilege);
    void endCall();
    bool functionDescription(uchar id, QString* description) const;
    bool eventDescription(uchar id, QString* description) const;

    // Node table.
    QErfcNodePtr findNode(uchar address) const;
    void addNode(QErfcInterface* link, uchar address, quint32 runId, uchar window, QErfc::Mode mode);
    void removeNode(uchar address);
    void removeNodes(const QList<uchar>& addresses);
    QList<uchar> knownNodes() const;
    // Node updates go out in the order the node table changed: each is
    // queued under the table lock and emitted on the stack thread only.
    void queueDrcUpdate(uchar address, QErfc::DrcUpdate state, QErfc::Mode mode);
    void deliverDrcUpdates();

    // Sending.
    bool sendRequest(QErfcRequest* request);
    bool sendDatagram(QErfcDatagram* datagram);
    bool emitEvent(QErfcEmitEvent* event);
    bool connectToEvent(QErfcEventConnect* connection);
    bool disconnectFromEvent(QErfcEventConnect* connection);
    bool disconnectFromEvent(uchar remoteAddr, uchar eventId);
    // Takes the node's send lock and a request id within its window, waiting
    // for both until sendDeadline(); true with the send lock held.
    bool reserveSlot(const QErfcNodePtr& node, QErfcMsg& frame);
    void transmitFrame(QErfcMsg& frame);
    void queueFrame(const QErfcMsg& frame, QErfcInterface* link = nullptr);

    // Subscribers of the PC's events.
    bool lookupEvent(uchar eventId, QErfc::Privilege privilege) const;
    bool addSubscriber(uchar eventId, uchar address, quint32 deliveryType, uchar retries,
                       uchar timeout);
    void removeSubscriber(uchar eventId, uchar address);
    void dropSubscriber(uchar address);

    // The PC's connections to remote events. State changes are delivered
    // after the table lock is released.
    void addEventConnection(uchar address, uchar eventId, const QErfcEventConnectHandle& connection);
    void removeEventConnection(uchar address, uchar eventId, const QErfcEventConnectHandle& connection);
    void dropEventConnections(uchar address);
    // The live subscription to the event, if any; a dead entry is dropped.
    QErfcEventConnectHandle eventConnection(uchar address, uchar eventId);
    void trackInternalRequest(QErfcRequest* request);
    void untrackInternalRequest(QErfcRequest* request);

    // Statistics.
    template <typename T>
    void count(T QErfcStatistics::*counter)
    {
        QMutexLocker lock(&m_statisticsLock);
        QErfcStatistics::increment(m_statistics.*counter);
    }
    QErfcStatistics statistics() const;
    void resetStatistics();

    QErfcStack* q;

    // Configuration, read across threads.
    std::atomic<bool> m_enabled{false};
    std::atomic<int> m_address{0};
    std::atomic<int> m_privilege{QErfc::User};
    // Changed only while disabled (a node restarting in another mode).
    std::atomic<int> m_mode;
    const QString m_protocolVersion;
    mutable QMutex m_configLock; // guards the identity texts
    QString m_nodeDescription;
    QString m_softwareVersion;
    QByteArray m_softwareHash;
    QString m_bootloaderVersion;
    QByteArray m_bootloaderHash;
    QString m_hardwareDescription;
    QString m_hardwareRevision;
    QString m_serial;
    QByteArray m_uniqueId;
    std::atomic<quint32> m_runId;

    mutable QMutex m_statisticsLock;
    QErfcStatistics m_statistics;

    mutable QMutex m_cipherLock;
    QErfcCrypto* m_cipher = nullptr;

    mutable QMutex m_interfacesLock;
    QList<QErfcInterface*> m_interfaces;

    mutable QMutex m_functionsLock;
    QMap<uchar, QErfcHandle<QErfcFunction>> m_functions;
    QErfcFunction* m_calling = nullptr; // the function dispatch is calling, under the lock
    bool m_releaseAfterCall = false;    // m_calling was released during its call
    QList<QErfcIntFnct*> m_internalFunctions;

    mutable QMutex m_eventsLock;
    QMap<uchar, QErfcHandle<QErfcEvent>> m_events;

    mutable QMutex m_subscribersLock;
    QMap<uchar, QMap<uchar, QErfcSubscriber>> m_subscribers;

    mutable QMutex m_eventConnectionsLock;
    QMap<QPair<uchar, uchar>, QErfcEventConnectHandle> m_eventConnections;

    mutable QMutex m_internalRequestsLock;
    QSet<QErfcRequest*> m_internalRequests;

    mutable QMutex m_nodesLock;
    QMap<uchar, QErfcNodePtr> m_nodes;
    QErfcAddressMemory m_memory[64];

    struct DrcUpdateEntry
    {
        uchar address;
        QErfc::DrcUpdate state;
        QErfc::Mode mode;
    };
    QMutex m_drcLock; // the queue of node updates not emitted yet
    QQueue<DrcUpdateEntry> m_drcUpdates;
    bool m_deliveringDrc = false; // stack thread only

    int m_stackCallWaitMs = StackCallWaitMs;
    // Set when the destructor gave up on a stuck stack thread: the engine is
    // left behind for it and no longer signals through the facade.
    std::atomic<bool> m_detached{false};

    QMutex m_dispatchLock;
    QErfcThread* m_thread;

signals:
    void frameTransmit(QErfcInterface* devInterface, QByteArray frame);

private slots:
    void drcHello();
    void drcGoodbye();
    void drcCheckNodes();
    void doRetransmits();
    void onFrameReceived(QErfcInterface* devInterface, QByteArray frame);

private:
    void sendNetworkDatagram(const QByteArray& payload);
    void dispatch(QErfcMsg& frame);
    void dispatchLocal(QErfcMsg& frame, bool broadcast);
    void dispatchResponse(const QErfcMsg& frame);
    // Answers a request with a code when it may be answered; returns the answer.
    bool answer(const QErfcMsg& request, QErfc::ResponseCode code, const QByteArray& payload,
                QErfcMsg* answerOut = nullptr);
    void checkSendArguments(int payloadSize, uchar address, uchar functionId) const;
    void checkSubscriptionArguments(uchar address, uchar eventId) const;
    // Sends one of the stack's own subscription requests, which it deletes
    // itself once answered (or here, when the send throws).
    bool sendInternalRequest(QErfcRequest* request);
    bool sendUnsubscribe(const QErfcEventConnectHandle& connection, uchar address, uchar eventId);
};

#endif // QERFCSTACK_P_H
