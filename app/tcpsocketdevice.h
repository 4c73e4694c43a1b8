#ifndef TCPSOCKETDEVICE_H
#define TCPSOCKETDEVICE_H

#include "erfcdevice.h"

#include <QHostAddress>
#include <QPointer>

class QTcpSocket;

// A connection device over a TCP client socket. The socket is created by
// open() on the calling thread and belongs to that thread until close() or
// the destructor deletes it.
class TcpSocketDevice : public ErfcDevice
{
    Q_OBJECT
public:
    TcpSocketDevice(const QHostAddress& host, quint16 port, QObject* parent = nullptr);
    ~TcpSocketDevice() override;

    QHostAddress host() const { return m_host; }
    quint16 port() const { return m_port; }

public slots:
    // Connects, waiting up to 30 s; the socket, or null after emitting
    // error("Can't connect to address!").
    QIODevice* open() override;
    // Sends what is still buffered and disconnects (bounded), then deletes
    // the socket. Does nothing without a socket.
    void close() override;

signals:
    // Repeated from the socket, on this object's thread.
    void connected();
    void disconnected();

private:
    QHostAddress m_host;
    quint16 m_port;
    QPointer<QTcpSocket> m_socket;
};

#endif // TCPSOCKETDEVICE_H
