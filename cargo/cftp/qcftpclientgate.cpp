#include "qcftpclientgate.h"
#include "qcftpclient.h"
#include "qcftpclient_p.h"

QCftpClientGate::QCftpClientGate(QCFTPClient* client, QObject* parent)
    : QObject(parent)
    , m_client(client)
{
    if (!client)
        return;
    QCFTPClientPrivate* p = QCFTPClientPrivate::get(client);
    // Queued from the client's thread, direct when the end comes on this
    // thread (a disconnect dropped here): either way in the order announced.
    connect(p, &QCFTPClientPrivate::ended, this, [this](quint64 number, QCFTP::ResponseCode code) {
        if (number <= m_made)
            return; // counted as passed when the gate was made
        m_passed = qMax(m_passed, number);
        emit finished(code);
    });
    // Counted after connecting: every end announced later goes out once the
    // connection is there, and reaches the gate. One announced already
    // counts as passed, should its signal still come.
    m_made = m_passed = p->endsAnnounced();
}

QCftpClientGate::~QCftpClientGate() = default;

bool QCftpClientGate::isOpen() const
{
    return m_client && m_passed >= QCFTPClientPrivate::get(m_client)->endsAnnounced();
}
