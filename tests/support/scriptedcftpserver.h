#ifndef SCRIPTEDCFTPSERVER_H
#define SCRIPTEDCFTPSERVER_H

#include "qcargo.h"
#include "qcftpheaderreader_p.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>

class QCFTPClient;

// The first finished() code of `client` after `start`, with this thread's
// event loop running (a server on this thread answers meanwhile); -2 when
// `start` refuses, -1 when no code comes within `timeoutMs`.
int cftpFinishes(QCFTPClient* client, const std::function<bool()>& start, int timeoutMs = 20000);

// A CFTP server for client tests, on the test thread: a listening Cargo
// stream that keeps every request it receives (and every byte) and answers
// each with what `answer` returns, byte for byte. It listens again after
// every connection.
class ScriptedCftpServer : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QString command;
        QStringList parameters;
        QByteArray content; // after STR
    };
    using Answer = std::function<QByteArray(const Request&)>;

    explicit ScriptedCftpServer(QErfcStack* stack, quint8 channel = 125, QObject* parent = nullptr);
    bool listen();

    // HND: code 0, handshake number 12 and the challenge 00 01 .. 0f; LST and
    // GET: empty; everything else: code 0 with no lines.
    static QByteArray defaultAnswer(const Request& request);
    static QByteArray challenge();

    Answer answer = defaultAnswer; // an empty answer: say nothing
    QList<Request> requests;
    QByteArray received;
    int connections = 0;
    QCargo cargo;

private:
    void onReadyRead();

    quint8 m_channel;
    QByteArray m_buffer;
    QCftpHeaderReader m_reader{1 << 20};
    qint64 m_content = -1; // STR bytes still to take
    Request m_pending;
};

#endif // SCRIPTEDCFTPSERVER_H
