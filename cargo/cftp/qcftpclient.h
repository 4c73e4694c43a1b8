#ifndef QCFTPCLIENT_H
#define QCFTPCLIENT_H

#include "qcftp.h"
#include "qcftpfile.h"
#include "qcftpfileinfo.h"

#include <QList>
#include <QObject>

class QErfcStack;
class QCFTPClientPrivate;

// The client of a node's CFTP file service over one Cargo stream. It opens
// the stream, sends the handshake and the login, and then runs one command
// at a time; each call starts its work and returns, and every end (of the
// login, of a command, of the connection with 127) is reported by finished().
//
// Threads: the stream and every reaction to it live on the client's own
// thread "QCFTPClient Execthread", where stateChanged, finished and
// transactionProgress are emitted (a command's start reports state 7 on the
// caller's thread). Public calls may come from any thread; only one command
// is in flight at a time, however many callers try.
class QCFTPClient : public QObject
{
    Q_OBJECT
public:
    explicit QCFTPClient(QErfcStack* erfc, QObject* parent = nullptr);
    ~QCFTPClient() override; // closes an open connection first (at most about 3 s)

    // False (nothing done) unless disconnected, or when the user name holds a
    // line break or NUL. An empty user logs in as "anonymous".
    bool connectToServer(const QString& user, const QString& password, quint8 address, quint8 port);
    // Closes the connection; waits at most about 3 s for the stream, then
    // ends the connection here (state 0, finished(127)).
    void disconnectFromServer();

    // Each false, sending nothing, unless the client is ready (state 6), or
    // when any path of the command is not a possible name: a new name as
    // well as the path of what the node holds (a listing, download or
    // delete, the source of a move or copy), which would otherwise reach
    // the node as another, existing name. errorString() then names the
    // path ("File name not allowed on the node, path: <path>").
    bool listPath(const QString& path);
    bool createPath(const QString& path);
    bool deletePath(const QString& path);
    bool movePath(const QString& sourcepath, const QString& newpath);
    bool copyPath(const QString& sourcepath, const QString& newpath);
    bool uploadFile(const QCFTPFile& file);
    bool downloadFile(const QString& path);

    // True when the node gets the path exactly as given. Lines go out as
    // Latin-1 and are read as UTF-8 and trimmed, so that only ASCII with no
    // line break or NUL and no blank at either end passes.
    static bool isPossibleName(const QString& path);

    // Waits for the next finished() after the last command or connect began
    // (negative msecs: no limit); true when the client is then ready.
    bool waitForFinished(int msecs = -1);

    QCFTP::Client::State state() const;
    QString errorString() const;
    QCFTPFile downloadedFile() const;
    QList<QCFTPFileInfo> fileInfoList() const;

signals:
    void stateChanged(QCFTP::Client::State state);
    void finished(QCFTP::ResponseCode responseCode);
    // STR: the stream's bytes sent of the whole request; GET: bytes received
    // of the announced length (the last report comes before the last bytes).
    void transactionProgress(qlonglong bytes, qlonglong total);

private:
    friend class QCFTPClientPrivate;
    Q_DISABLE_COPY(QCFTPClient)
    QCFTPClientPrivate* d;
};

#endif // QCFTPCLIENT_H
