#ifndef QCFTPRESPONSEPARSER_P_H
#define QCFTPRESPONSEPARSER_P_H

#include "qcftp.h"
#include "qcftpfileinfo.h"
#include "qcftpheaderreader_p.h"

#include <QList>

// The client's reading of responses, on a plain byte buffer. It is told what
// the one request in flight is (the handshake, the login, or a command with
// its word and path) and turns the bytes into that request's outcome: the
// server's code and message, the handshake's challenge, a listing, or a
// download with its announced length and time.
class QCftpResponseParser
{
public:
    enum Expect { Idle, Handshake, Login, Command };

    struct Outcome
    {
        enum Kind {
            NeedMore,   // wait for more bytes (a download reports its progress)
            Done,       // the answer: code 0, or the server's code and message
            Failed,     // unreadable: code 1 with the client's own message
            Unexpected  // bytes while no request is in flight; they were dropped
        };
        Kind kind = NeedMore;
        QCFTP::ResponseCode code = QCFTP::Success;
        QString message;
        qint64 buffered = -1; // a download waiting for its bytes: buffered so far
        qint64 length = 0;    // ... of this many
    };

    QCftpResponseParser();

    void expect(Expect what, const QString& command = QString(), const QString& path = QString());
    Expect expecting() const { return m_expect; }
    QString command() const { return m_command; }
    // Back to idle and line mode, no lines held.
    void reset();

    // Reads one response (or as much of it as there is) from the front of
    // the buffer. After Done or Failed the parser is idle again.
    Outcome feed(QByteArray& buffer);

    // What the last Done brought.
    int handshakeNumber() const { return m_handshakeNumber; }
    QByteArray challenge() const { return m_challenge; }
    const QList<QCFTPFileInfo>& listing() const { return m_listing; } // also the part before a bad line
    QByteArray downloadData() const { return m_downloadData; }
    quint32 downloadTime() const { return m_downloadTime; }

private:
    Outcome finish(Outcome::Kind kind, QCFTP::ResponseCode code, const QString& message = QString());
    Outcome readDownload(QByteArray& buffer);
    Outcome readListing(const QStringList& lines);

    QCftpHeaderReader m_reader;
    Expect m_expect = Idle;
    QString m_command;
    QString m_path;
    bool m_binary = false;
    qint64 m_length = 0;

    int m_handshakeNumber = 0;
    QByteArray m_challenge;
    QList<QCFTPFileInfo> m_listing;
    QByteArray m_downloadData;
    quint32 m_downloadTime = 0;
};

#endif // QCFTPRESPONSEPARSER_P_H
