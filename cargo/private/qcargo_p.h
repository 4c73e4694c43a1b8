#ifndef QCARGO_P_H
#define QCARGO_P_H

#include "qcargo.h"
#include "qcargoevent_p.h"
#include "qcargowakeup_p.h"

#include "qerfcguard.h"

#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

class QErfcFunction;
class QErfcStack;
class QCargoExec;
class QCargoReceive;
class QCargoSend;

// The data and the state machine of one QCargo.
class QCargoPrivate : public QObject
{
    Q_OBJECT
public:
    enum {
        DefaultWindow = 4096,
        AckTimeoutMs = 30000,    // the sender's wait for next or missing
        CapacityWaitMs = 10000,  // the connect's wait for the capacity answer
        PollMs = 50,             // blocking waits look for a stop this often
        MaxWindowWireMs = 10000, // on a line of known rate, a window takes at most this
        HoldMarginMs = 100,      // a request is queued when this much is left ahead of it
        RequestTimeoutMs = 250,  // the Erfc default each retry waits
        ConnectRetryMs = 2000,   // a connect finding no listener is tried again this long
        ConnectPauseMs = 100     // between two such tries
    };

    QCargoPrivate(QCargo* q, QErfcStack* stack);
    ~QCargoPrivate() override;

    static QCargoPrivate* get(QCargo* q) { return q->d; }

    // State.
    QCargo::CargoState state() const;
    bool isConnected() const { return state() == QCargo::StateConnected; }
    bool enterListening();
    bool enterConnecting();
    // From `from` only; the effects of a new connection follow.
    bool enterConnected(QCargo::CargoState from);
    // Any state but disconnected: the function is unregistered on the control
    // thread, which then closes the device and announces it.
    void goDisconnected();
    // The error goes out on the device's thread; false when a slot deleted
    // the device there (the caller then touches nothing more).
    bool setError(QCargo::CargoError code);
    void failConnect(QCargo::CargoError code); // ends the connect attempt
    bool changeState(QCargo::CargoState state); // emits stateChanged

    // The device's signals go out on its own thread only, so that a slot
    // may delete the device: at once when called there (false when the
    // device was deleted meanwhile), else queued behind what is queued there.
    bool emitOnOwnThread(const std::function<void(QCargoPrivate*)>& emitter);
    QErfcHandle<QCargoPrivate> handle() { return QErfcHandle<QCargoPrivate>(this, guard); }

    // The Cargo function.
    bool chooseLocalFunctionId();
    bool registerFunction(QErfc::Privilege privilege);
    // Finishes the disconnection of `session` unless a registration since
    // has done it: unregisters, closes the device, says disconnected().
    void unregisterSession(quint64 session);
    // On the device's thread: opens the device for a connection that has
    // begun since it last looked, keeping unread bytes readable.
    void syncDevice();
    void closeDevice();
    // After a read: a closed stream's device closes once it has been read out.
    void closeDrained();
    QString currentName() const;

    // The line to the peer (all 0 when its rate is not known).
    qint32 lineRate() const;
    // Bytes on the line for a window of stream data: per 31-byte block the
    // Erfc header and CRC, the Cargo header and the frame delimiters, plus
    // an allowance for escaped bytes.
    static qint64 wireBytes(qint64 dataBytes);
    qint64 frameWireMicros(int dataBytes) const; // one frame
    quint16 windowCap() const;
    quint8 retries(int base) const;

    // Blocks until the request completes, the stream is being destroyed, or
    // `giveUp` holds; true when it completed.
    bool waitForAnswer(class QErfcRequest& request, const std::function<bool()>& giveUp = {});

    QCargo* q;
    QErfcStack* stack;
    // What the stack thread holds to reach this stream (frames, answers,
    // node updates) and what the device's queued signals go through; closed
    // first thing in the destructor.
    const QErfcGuardPtr guard = std::make_shared<QErfcGuard>();
    // The stack's thread, seen on the first frame the stack receives.
    std::atomic<QThread*> stackThread{nullptr};

    // Takes the Cargo function off the stack, if registered; functionLock held.
    void dropRegistrationLocked();
    QMutex functionLock; // the registration below
    QErfcFunction* function; // the one Cargo function of this stream
    bool registered = false;
    bool unregisterPending = false;
    quint64 session = 0; // counts registrations

    QThread sendThread;
    QCargoSend* sender;
    QThread controlThread;
    QCargoExec* control;
    QCargoEvent windowEvent;
    QCargoReceive* receiver;
    QSemaphore transmitGate{1};

    QCargoWakeUp connectedWake;
    QCargoWakeUp disconnectedWake;
    QCargoWakeUp dataWake;
    QCargoWakeUp writtenWake;

    mutable QMutex stateLock; // taken inside functionLock, never the other way round
    QCargo::CargoState m_state = QCargo::StateDisconnected;
    std::atomic<quint64> connection{0}; // counts connections
    quint64 openedFor = 0; // the connection the device was opened for (its thread only)

    std::atomic<quint16> peerWindow{0};
    std::atomic<quint16> ownWindow{DefaultWindow};
    std::atomic<quint16> configuredWindow{DefaultWindow}; // setOwnWindow
    std::atomic<quint8> remoteAddress{0};
    std::atomic<quint8> remoteFunctionId{0};
    std::atomic<quint8> localFunctionId{0};
    mutable QMutex nameLock;
    QString name;
    std::atomic<qint32> linkByteRate{0};
    std::atomic<int> ackTimeoutMs{AckTimeoutMs};
    std::atomic<bool> stopping{false};
    // A connect attempt has started and neither connected nor failed yet: a
    // wait for the connection that starts after a failure returns at once.
    std::atomic<bool> connectPending{false};

    std::atomic<quint64> windowsSent{0};
    std::atomic<quint64> windowRestarts{0};
    std::atomic<quint64> nextsSent{0};
    std::atomic<quint64> missingsSent{0};
    std::atomic<quint64> blocksIgnored{0};

signals:
    void connectToNode();
    void disconnectFromNode();
    void transmitData();
    void sendNext();
    void sendMissing(quint16 offset);
    void unregister(quint64 session);

public slots:
    void onDrcUpdate(quint8 addr, QErfc::DrcUpdate action, QErfc::Mode mode);

private:
    void wakeAll();
    void announceDisconnected(); // queued on the device's thread
};

#endif // QCARGO_P_H
