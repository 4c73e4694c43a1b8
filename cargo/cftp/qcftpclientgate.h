#ifndef QCFTPCLIENTGATE_H
#define QCFTPCLIENTGATE_H

#include "qcftp.h"

#include <QObject>
#include <QPointer>

class QCFTPClient;

// Passes a client's finished() on to the users on the gate's own thread and
// tells them whether every end the client has announced has reached them.
//
// The client is Ready (or Disconnected) again before the finished() of the
// command (or connection) that ended has crossed to another thread. A
// command started in between would take that finished() for its own: the
// data of a download read before it arrived, a chain's next step sent
// while the client is still busy. A user that starts commands only while
// the gate is open, and listens to the gate's finished() instead of the
// client's, never pairs an end with the wrong command. Inside the gate's
// finished() the gate is open already, so a chain may send its next step
// from there.
//
// Make the gate before the client's first connect: an end already under way
// when the gate is made counts as passed, and is not passed on.
class QCftpClientGate : public QObject
{
    Q_OBJECT
public:
    explicit QCftpClientGate(QCFTPClient* client, QObject* parent = nullptr);
    ~QCftpClientGate() override;

    // Every end announced so far has been passed on (false without a client).
    bool isOpen() const;

signals:
    void finished(QCFTP::ResponseCode responseCode);

private:
    QPointer<QCFTPClient> m_client;
    quint64 m_made = 0; // ends the client had announced when the gate was made
    quint64 m_passed = 0;
    Q_DISABLE_COPY(QCftpClientGate)
};

#endif // QCFTPCLIENTGATE_H
