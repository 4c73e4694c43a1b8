#ifndef TESTCFTPSERVER_H
#define TESTCFTPSERVER_H

#include "qcftpserver.h"

#include <QByteArray>

// The test node's file service: a CFTP server that a QCFTPClient can log in
// to. HND answers 16 random challenge bytes; LOG takes the token
// MD5(MD5(password) XOR challenge) for its one user; it also copies files
// (CPY) and moves files as well as directories (MOV).
class TestCftpServer : public QCFTPServer
{
    Q_OBJECT
public:
    enum : quint8 { Channel = 125 };

    TestCftpServer(QErfcStack* stack, const QString& user, const QString& password, QObject* parent = nullptr);

    // Writes a few files and folders into `dir` to serve; returns `dir`.
    static QString seed(const QString& dir);

    void checkLogin(const QString& user, const QString& token, QCFTP::ResponseCode& code) override;
    void movePath(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                  QString& message) override;

protected:
    bool handleCommand(const QString& command, const QStringList& parameters, bool loggedIn,
                       QCFTP::ResponseCode& code, QString& message, QStringList& lines) override;

private:
    void copyFile(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                  QString& message);

    QString m_user;
    QString m_password;
    QByteArray m_challenge; // of this connection's handshake; used once
};

#endif // TESTCFTPSERVER_H
