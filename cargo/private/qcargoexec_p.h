#ifndef QCARGOEXEC_P_H
#define QCARGOEXEC_P_H

#include "qerfcincomingresponse.h"

#include <QDeadlineTimer>
#include <QObject>

#include <atomic>

class QCargoPrivate;
class QErfcStack;
class QErfcRequest;

// Connecting, disconnecting, the receiver's next and missing frames and the
// unregistering of the Cargo function; lives on the stream's control thread.
// The answers to connect and disconnect are handled right on the stack
// thread, so that a stream is connected before the stack passes on the frames
// the peer sends after its answer.
class QCargoExec : public QObject
{
    Q_OBJECT
public:
    explicit QCargoExec(QCargoPrivate* owner);

    // Stack thread (through the stream's guard).
    void onResponseConnect(const QErfcIncomingResponse& response);
    void onResponseDisconnect(const QErfcIncomingResponse& response);

    // Tells a listener that a connect it accepted is not wanted: a
    // disconnect frame that nothing waits for and that deletes itself once
    // the stack is done with it (any thread).
    static void releaseListener(QErfcStack* stack, quint8 address, quint8 functionId);

public slots:
    void onConnectToNode();
    void onDisconnectFromNode();
    void onSendNext();
    void onSendMissing(quint16 offset);
    void onUnregister(quint64 session);

private:
    // The node's channel capacity (0 when it does not answer).
    quint16 queryChannelCapacity(quint8 address);
    // A request answered through `handler` on the stack thread; deleted on
    // this thread once finished, or with this object.
    QErfcRequest* makeRequest(const QByteArray& payload,
                              void (QCargoExec::*handler)(const QErfcIncomingResponse&));
    // Sends and waits for the answer (failures are the sender's to notice);
    // false when not connected.
    bool sendAndWait(const QByteArray& payload, int retries);
    // Sends the connect request of the current attempt.
    void sendConnect();
    // After a connect found no listener: tries again after a pause while the
    // attempt is still the current one and its time lasts, else refuses.
    void retryConnect(quint64 attempt);

    QCargoPrivate* d;
    std::atomic<quint64> m_attempt{0}; // counts connect attempts
    QDeadlineTimer m_retryUntil;       // control thread only
};

#endif // QCARGOEXEC_P_H
