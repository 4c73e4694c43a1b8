#ifndef QCFTPREQUESTDISPATCHER_P_H
#define QCFTPREQUESTDISPATCHER_P_H

#include "qcftp.h"
#include "qcftpfile.h"
#include "qcftpfileinfo.h"
#include "qcftpheaderreader_p.h"

#include <QList>
#include <QStringList>

// What the dispatcher asks of the server: the login check, the file
// operations, and the hook for command words it does not serve itself.
class QCftpServerBackend
{
public:
    virtual ~QCftpServerBackend() = default;
    virtual void checkLogin(const QString& user, const QString& password, QCFTP::ResponseCode& code) = 0;
    virtual void listPath(const QString& path, QList<QCFTPFileInfo>& list, QCFTP::ResponseCode& code,
                          QString& message) = 0;
    virtual void makePath(const QString& path, QCFTP::ResponseCode& code, QString& message) = 0;
    virtual void deletePath(const QString& path, QCFTP::ResponseCode& code, QString& message) = 0;
    virtual void movePath(const QString& sourcepath, const QString& newpath, QCFTP::ResponseCode& code,
                          QString& message) = 0;
    virtual void storeFile(const QCFTPFile& file, QCFTP::ResponseCode& code, QString& message) = 0;
    virtual void getFile(const QString& path, QCFTPFile& file, QCFTP::ResponseCode& code,
                         QString& message) = 0;
    // False: not served here.
    virtual bool handleCommand(const QString& command, const QStringList& parameters, bool loggedIn,
                               QCFTP::ResponseCode& code, QString& message, QStringList& lines) = 0;
};

// The server's reading and answering of requests, on a plain byte buffer:
// headers, the STR content, the command words and their parameter counts,
// the login gate, and the answer bytes.
class QCftpRequestDispatcher
{
public:
    struct Result
    {
        QByteArray answers;      // to write, in order
        bool loggedIn = false;   // a login was accepted
        bool disconnect = false; // close the connection once the answers are out
    };

    explicit QCftpRequestDispatcher(QCftpServerBackend* backend);

    // A new connection: line mode, not logged in, nothing held.
    void reset();
    bool isLoggedIn() const { return m_loggedIn; }
    bool isBinary() const { return m_binary; }

    // Handles every complete request at the front of the buffer. After a
    // disconnect the rest of the buffer is dropped.
    Result feed(QByteArray& buffer);

    static QByteArray answer(QCFTP::ResponseCode code, const QString& message);
    static QByteArray answer(const QStringList& lines, const QByteArray& raw = QByteArray());

private:
    void dispatch(const QString& command, const QStringList& parameters, Result& result);
    void storeUpload(QByteArray& buffer, Result& result);

    QCftpServerBackend* m_backend;
    QCftpHeaderReader m_reader;
    bool m_loggedIn = false;
    bool m_binary = false;
    qint64 m_length = 0;
    QCFTPFile m_upload;
};

#endif // QCFTPREQUESTDISPATCHER_P_H
