#ifndef QCFTPCLIENT_P_H
#define QCFTPCLIENT_P_H

#include "qcargo.h"
#include "qcftpclient.h"
#include "qcftpresponseparser_p.h"

#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

class QErfcStack;

// The client's data and protocol logic. It lives on the exec thread, with
// the stream; the public calls reach it from their callers' threads through
// the atomic state (a command starts only by moving it from 6 to 7) and
// through calls queued to the exec thread.
//
// Each connection gets a stream of its own and a generation number: what an
// earlier stream still reports arrives with an older number and is ignored.
class QCFTPClientPrivate : public QObject
{
    Q_OBJECT
public:
    enum { DisconnectWaitMs = 3000 };

    QCFTPClientPrivate(QCFTPClient* q, QErfcStack* stack);
    ~QCFTPClientPrivate() override;

    static QCFTPClientPrivate* get(QCFTPClient* q) { return q->d; }

    // Caller's thread.
    bool connectToServer(const QString& user, const QString& password, quint8 address, quint8 port);
    void disconnectFromServer();
    bool startCommand(const QString& word, const QStringList& parameters, const QString& path,
                      const QByteArray& raw = QByteArray());
    bool waitForFinished(int msecs);
    // True when the node gets `path` as given (QCFTPClient::isPossibleName);
    // else false, and a ready client's errorString() names the path.
    bool checkName(const QString& path);
    static QString refusedNameText(const QString& path);
    bool onExecThread() const { return QThread::currentThread() == execThread; }
    // The owner is being destroyed on the exec thread, inside one of its own
    // signals: the thread cannot be joined there, so it winds itself up.
    void orphan();

    std::atomic<QCFTPClient*> q;
    QErfcStack* stack;
    QThread* execThread;
    QSemaphore initSemaphore;
    QSemaphore transactionSemaphore;
    // The state in the low byte; above it, how many ends (finished()) have
    // been announced. An end is counted in the same step that makes the
    // client Ready or Disconnected again, so whoever sees the new state also
    // sees that an end is under way (see QCftpClientGate).
    std::atomic<quint64> status{QCFTP::Client::Disconnected};
    enum { StateBits = 8 };
    static int stateOf(quint64 word) { return int(word & ((quint64(1) << StateBits) - 1)); }
    static quint64 endsOf(quint64 word) { return word >> StateBits; }
    int state() const { return stateOf(status.load()); }
    quint64 endsAnnounced() const { return endsOf(status.load()); }
    std::atomic<quint64> generation{0};
    std::atomic<bool> orphaned{false};
    std::atomic<quint64> ends{0}; // connections ended, counted after their finished(127)

    // Exec thread only.
    QCargo* cargo = nullptr;
    QCftpResponseParser parser;
    QByteArray buffer;
    QString user;
    QString password;
    int handshakeNumber = 0;
    QByteArray challenge;

    // Results, read from any thread.
    mutable QMutex resultLock;
    QString message;
    QString command; // the command word last sent
    QList<QCFTPFileInfo> listing;
    QCFTPFile downloaded;

    // Wakes disconnectFromServer when a connection has ended.
    QMutex idleLock;
    QWaitCondition idleCondition;

private:
    // Exec thread.
    void onInitObjects();
    void onFinishedObjects();
    void openConnection(quint64 gen, const QString& user, const QString& password, quint8 address,
                        quint8 port);
    void writeRequest(quint64 gen, const QString& word, const QStringList& parameters, const QByteArray& raw,
                      const QString& path);
    void onConnectionReadyRead(quint64 gen);
    void onConnectionStateChanged(quint64 gen, QCargo::CargoState cargoState);
    void onConnectionError(quint64 gen, QCargo::CargoError cargoError);
    void onConnectionTransactionProgress(quint64 gen, qlonglong bytes, qlonglong total);
    void readResponses();
    void sendHandshake();
    void sendLogin();
    void write(const QString& word, const QStringList& parameters, const QByteArray& raw = QByteArray());
    void complete();
    void failCommand(QCFTP::ResponseCode code, const QString& text);
    void failConnection(QCFTP::ResponseCode code, const QString& text);
    void connectionEnded();
    void dropStream();

signals:
    // Goes out with every finished(), numbered as counted in status: the
    // gate's way to tell which ends have reached its thread.
    void ended(quint64 number, QCFTP::ResponseCode code);

private:
    // Any thread: the state and the signals.
    bool moveState(int from, int to);
    // Moves the state and counts an end; the end's number, 0 when the state was not `from`.
    quint64 endIn(int from, int to);
    // Disconnected, counting an end; 0 when it was Disconnected already.
    quint64 endConnection();
    // Counts an end that leaves the state as it is.
    quint64 announceEnd();
    void setMessage(const QString& text, bool onlyIfEmpty = false);
    void emitState();
    void emitFinished(QCFTP::ResponseCode code, quint64 number);
    void dropLocally();
    void wakeIdle();
};

#endif // QCFTPCLIENT_P_H
