#ifndef QCFTPSERVER_H
#define QCFTPSERVER_H

#include "qcftp.h"
#include "qcftpfile.h"
#include "qcftpfileinfo.h"
#include "qerfc.h"

#include <QList>
#include <QObject>

class QErfcStack;
class QCFTPServerPrivate;

// The server half of CFTP: serves one client at a time over a listening
// Cargo stream, and listens again after every connection. The base class
// serves the directory tree below its root path and logs users in with a
// plain-text password; a subclass changes what is served by overriding the
// file operations, the login check, and handleCommand() for command words
// the base does not know. Every path a client sends goes through
// resolvePath(), which keeps it inside the root.
//
// Threads: lives on the thread that creates it, which needs an event loop;
// the stream's reports arrive there queued, and the file operations run
// there, one request at a time.
class QCFTPServer : public QObject
{
    Q_OBJECT
public:
    explicit QCFTPServer(QErfcStack* erfc, QObject* parent = nullptr);
    ~QCFTPServer() override;

    QCFTP::Server::State state() const;
    QString rootPath() const;

public slots:
    // False (nothing done) unless closed. A port of 0 keeps the stream's own id.
    virtual bool listen(QErfc::Privilege privilege, quint8 port);
    virtual void close();
    virtual void addUser(const QString& user, const QString& password);
    // Stored with a final "/"; an empty path leaves the server without a root,
    // which refuses every file operation.
    virtual void setRootPath(const QString& path);
    virtual void checkLogin(const QString& user, const QString& password, QCFTP::ResponseCode& code);
    virtual void listPath(const QString& path, QList<QCFTPFileInfo>& list, QCFTP::ResponseCode& code,
                          QString& message);
    virtual void makePath(const QString& path, QCFTP::ResponseCode& code, QString& message);
    virtual void deletePath(const QString& path, QCFTP::ResponseCode& code, QString& message);
    virtual void movePath(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                          QString& message);
    virtual void storeFile(const QCFTPFile& file, QCFTP::ResponseCode& code, QString& message);
    virtual void getFile(const QString& path, QCFTPFile& file, QCFTP::ResponseCode& code, QString& message);

signals:
    void stateChanged(QCFTP::Server::State state);
    void transactionProgress(qlonglong bytes, qlonglong total);
    void error(QString msg);

protected:
    // A command word the base does not serve (it serves LOG, LST, MKD, DEL,
    // MOV, STR and GET). Return true with the code and, on success, the
    // answer lines, or on failure the message. The base handles nothing:
    // unknown words are answered 126 before login and 125 after.
    virtual bool handleCommand(const QString& command, const QStringList& parameters, bool loggedIn,
                               QCFTP::ResponseCode& code, QString& message, QStringList& lines);

    enum PathUse {
        AnyPath,  // the root itself is allowed
        BelowRoot // the root itself is refused (delete, move)
    };
    // The local path for a client's path, or false when it is not allowed:
    // no root, NUL, ":" or ".." in it, or a place outside the root, through
    // symlinks too (a dangling one is refused). Every file operation uses it.
    bool resolvePath(const QString& path, PathUse use, QString* localPath) const;

private:
    friend class QCFTPServerPrivate;
    Q_DISABLE_COPY(QCFTPServer)
    QCFTPServerPrivate* d;
};

#endif // QCFTPSERVER_H
