#ifndef TESTCFTPSERVER_H
#define TESTCFTPSERVER_H

#include "qcftpserver.h"

#include <QByteArray>
#include <QStringList>

// The test node's file service: a CFTP server that a QCFTPClient can log in
// to. HND answers 16 random challenge bytes; LOG takes the token
// MD5(MD5(password) XOR challenge) for its one user; it also copies files
// (CPY; a directory path ending in "/" copies the tree) and moves files
// as well as directories (MOV).
//
// For tests it records every command it serves, one line each ("HND",
// "LOG user", "LST /b/", "MOV /a.txt /b/a.txt", "STR /f.txt <time> <size>",
// "GET /f.txt" ...), and injects one fault: a chosen answer code for a
// chosen command, or a dropped link at a chosen command (no answer) or
// halfway through a GET or STR transfer. The halfway faults hold however
// late the server's thread runs: a GET writes only the first half of its
// answer and drops the link once the client has it (the thread waits for
// that, up to HalfwayWaitMs); an STR whose content came in whole before the
// server saw it begin is dropped unstored and unrecorded.
class TestCftpServer : public QCFTPServer
{
    Q_OBJECT
public:
    enum : quint8 { Channel = 125 };
    // The longest a halfway GET waits for its first half to be confirmed.
    enum { HalfwayWaitMs = 60000 };

    struct Fault
    {
        enum Kind { Code, Drop, DropHalfway };
        QString command; // the command word, "LST", "GET" ...
        Kind kind = Code;
        QCFTP::ResponseCode code = QCFTP::ActionNotAllowed;
        QString message = QStringLiteral("Injected fault");
        int occurrence = 1; // the nth such command from now
    };

    TestCftpServer(QErfcStack* stack, const QString& user, const QString& password, QObject* parent = nullptr);

    // Writes a few files and folders into `dir` to serve; returns `dir`.
    static QString seed(const QString& dir);

    QStringList commands() const { return m_commands; }
    void clearCommands() { m_commands.clear(); }
    // One fault at a time; it applies once.
    void setFault(const Fault& fault);
    // "LST=8" (that code), "GET=drop", "STR=half", each with an optional
    // "@n" for the nth such command; false for anything else.
    bool setFault(const QString& rule);
    void clearFault();

    void checkLogin(const QString& user, const QString& token, QCFTP::ResponseCode& code) override;
    void listPath(const QString& path, QList<QCFTPFileInfo>& list, QCFTP::ResponseCode& code,
                  QString& message) override;
    void makePath(const QString& path, QCFTP::ResponseCode& code, QString& message) override;
    void deletePath(const QString& path, QCFTP::ResponseCode& code, QString& message) override;
    void movePath(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                  QString& message) override;
    void storeFile(const QCFTPFile& file, QCFTP::ResponseCode& code, QString& message) override;
    void getFile(const QString& path, QCFTPFile& file, QCFTP::ResponseCode& code, QString& message) override;

signals:
    void commandServed(QString line);
    // The link was dropped by a fault.
    void linkDropped();

protected:
    bool handleCommand(const QString& command, const QStringList& parameters, bool loggedIn,
                       QCFTP::ResponseCode& code, QString& message, QStringList& lines) override;

private:
    void copyFile(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                  QString& message);
    void record(const QString& line);
    // Whether the fault hits this command now; a Code fault fills in the answer.
    bool faultHits(const QString& command, QCFTP::ResponseCode& code, QString& message);
    // Ends the connection without another answer.
    void dropLink();
    // Sends the first half of a GET's answer, then drops the link; the
    // answer for the server to send is replaced by one that never goes out.
    void dropHalfway(QCFTPFile& file, QCFTP::ResponseCode& code, QString& message);
    void onReceived();
    // Whether a halfway fault hits the STR content at hand; it applies once.
    bool storeHalfwayHits();

    QString m_user;
    QString m_password;
    QByteArray m_challenge; // of this connection's handshake; used once
    QStringList m_commands;
    bool m_faultSet = false;
    Fault m_fault;
    bool m_receiving = false; // an STR's content is coming in
};

#endif // TESTCFTPSERVER_H
