#ifndef QCARGO_H
#define QCARGO_H

#include "qerfc.h"

#include <QIODevice>
#include <QString>

class QErfcStack;
class QCargoPrivate;

// A reliable, ordered byte stream between this node and one other node,
// carried by Erfc calls to a function on each side (the Cargo channel). One
// side listens under a function id of its own; the other connects to the
// peer's address and channel. Written bytes go out in windows of 31-byte
// blocks; the receiver acknowledges each window ("next") or names the first
// byte it lacks ("missing"), and the window is sent again from there.
//
// Threads: public calls run in the caller's thread; sending runs on a send
// thread, connect/disconnect and the receiver's answers on a control thread,
// and received frames on the stack thread. The device's signals are emitted
// on its own thread (the thread it lives in), so a slot may delete it; the
// device also opens and closes only there. readyRead() comes once per
// completed window; the bytes of a window are readable (bytesAvailable) as
// they arrive. When the stream ends, the device closes on its own thread
// behind any readyRead pending there, and bytes not yet read stay readable
// (the device stays open for reading until they are read, and a new
// connection delivers its bytes after them). The stack must outlive the
// stream.
class QCargo : public QIODevice
{
    Q_OBJECT
public:
    enum CargoState {
        StateDisconnected = 0,
        StateListening = 1,
        StateConnecting = 2,
        StateConnected = 3
    };
    Q_ENUM(CargoState)

    enum CargoError {
        ErrorWrongState = 0,
        ErrorUnknownRemoteAddress = 1, // a remote address above 62
        ErrorFunctionRegister = 2,
        ErrorConnectionRefused = 3,
        ErrorCommunication = 4
    };
    Q_ENUM(CargoError)

    // What one stream has done since it was made, for diagnostics and tests.
    struct Counters
    {
        quint64 windowsSent = 0;    // windows the peer acknowledged
        quint64 windowRestarts = 0; // windows sent again from a missing offset
        quint64 nextsSent = 0;      // windows received complete
        quint64 missingsSent = 0;   // gaps reported to the sender
        quint64 blocksIgnored = 0;  // blocks dropped while waiting for a restart
    };

    explicit QCargo(QErfcStack* stack, QObject* parent = nullptr);
    QCargo(QErfcStack* stack, quint8 remoteAddress, quint8 remoteFunctionId,
           QObject* parent = nullptr);
    ~QCargo() override;

    // The setters change a value only while disconnected (else ErrorWrongState).
    void setRemoteAddress(quint8 address);
    quint8 remoteAddress() const;
    void setRemoteFunctionId(quint8 functionId);
    quint8 remoteFunctionId() const;
    void setLocalFunctionId(quint8 functionId);
    quint8 localFunctionId() const;
    void setName(const QString& name);
    QString name() const;
    // Bytes the peer may send per window (1..4096, default 4096). A connect
    // proposes it (less when the node reports a small channel capacity); a
    // listener takes the connector's value, or its own when that is smaller.
    void setOwnWindow(quint16 window);
    quint16 ownWindow() const;
    // Bytes this side sends per window, as the peer last told it; 0 before.
    quint16 peerWindow() const;

    // Bytes per second of the line to the peer. 0 (the default) takes it from
    // the stack, which knows it for a serial link; give it for links whose
    // rate the stack cannot see. With a known rate, a window never takes
    // longer than 10 s on the line, the end-of-window request is queued only
    // when the window has nearly crossed, and the requests' retries cover
    // the time frames wait in the line's queue.
    void setLinkByteRate(qint32 bytesPerSecond);
    qint32 linkByteRate() const;

    bool listen(QErfc::Privilege privilege = QErfc::User, quint8 localFunctionId = 0);
    void connectToNode();
    void connectToNode(quint8 address, quint8 functionId, bool keepLocalFunctionId = false);
    void disconnectFromNode();

    CargoState state() const;
    QString stateString() const;
    static QString stateString(CargoState state);
    static QString errorString(CargoError error);
    using QIODevice::errorString;

    // Negative msecs: no limit. Every error and every disconnection ends a wait.
    bool waitForConnected(int msecs = 30000);
    bool waitForDisconnected(int msecs = 30000);

    Counters counters() const;

    bool isSequential() const override;
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    bool canReadLine() const override;
    bool waitForReadyRead(int msecs) override;
    bool waitForBytesWritten(int msecs) override;

signals:
    void connected();
    void disconnected();
    void listening();
    void error(QCargo::CargoError cargoError);
    void stateChanged(QCargo::CargoState cargoState);
    void transactionProgress(qint64 bytes, qint64 total);
    void finished();

protected:
    qint64 readData(char* data, qint64 maxlen) override;
    qint64 readLineData(char* data, qint64 maxlen) override;
    qint64 writeData(const char* data, qint64 len) override;

private:
    friend class QCargoPrivate;
    Q_DISABLE_COPY(QCargo)
    QCargoPrivate* d;
};

#endif // QCARGO_H
