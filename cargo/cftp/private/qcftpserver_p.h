#ifndef QCFTPSERVER_P_H
#define QCFTPSERVER_P_H

#include "qcargo.h"
#include "qcftprequestdispatcher_p.h"
#include "qcftpserver.h"

#include <QMap>
#include <QTimer>

// The server's connection: the listening stream, the dispatcher that reads
// requests and calls the server's operations, and the state.
class QCFTPServerPrivate : public QObject, public QCftpServerBackend
{
    Q_OBJECT
public:
    // How long answers written before a forced close may take to go out.
    enum { CloseAfterWriteMs = 10000 };

    QCFTPServerPrivate(QCFTPServer* q, QErfcStack* stack);
    ~QCFTPServerPrivate() override;

    static QCFTPServerPrivate* get(QCFTPServer* q) { return q->d; }

    void setState(QCFTP::Server::State next);
    void beginListening();
    void onConnectionReadyRead();
    void onConnectionStateChanged(QCargo::CargoState cargoState);
    void onConnectionError(QCargo::CargoError cargoError);
    // A new connection, or none: nothing of the last one stays.
    void resetConnection();
    void closeConnection();

    // QCftpServerBackend: the server's virtual operations.
    void checkLogin(const QString& user, const QString& password, QCFTP::ResponseCode& code) override;
    void listPath(const QString& path, QList<QCFTPFileInfo>& list, QCFTP::ResponseCode& code,
                  QString& message) override;
    void makePath(const QString& path, QCFTP::ResponseCode& code, QString& message) override;
    void deletePath(const QString& path, QCFTP::ResponseCode& code, QString& message) override;
    void movePath(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                  QString& message) override;
    void storeFile(const QCFTPFile& file, QCFTP::ResponseCode& code, QString& message) override;
    void getFile(const QString& path, QCFTPFile& file, QCFTP::ResponseCode& code, QString& message) override;
    bool handleCommand(const QString& command, const QStringList& parameters, bool loggedIn,
                       QCFTP::ResponseCode& code, QString& message, QStringList& lines) override;

    QCFTPServer* q;
    QCFTP::Server::State m_state = QCFTP::Server::Closed;
    QCargo m_cargo;
    quint8 m_port = 0;
    QErfc::Privilege m_privilege = QErfc::User;
    QCftpRequestDispatcher m_dispatcher;
    QByteArray m_buffer;
    bool m_closing = false; // the last answers go out, then the connection closes
    QTimer m_closeTimer;
    QMap<QString, QString> m_users;
    QString m_root;
};

#endif // QCFTPSERVER_P_H
