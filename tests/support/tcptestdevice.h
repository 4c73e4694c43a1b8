#ifndef TCPTESTDEVICE_H
#define TCPTESTDEVICE_H

#include "qerfcdevice.h"

#include <QPointer>
#include <QTcpSocket>

// A pair of connection devices over loopback TCP, so that two links (or two
// stacks) in one test process talk over a real socket.
//
// Binding order: bind the client side first, then the server side. The
// client's connect completes in the kernel's listen backlog before the server
// accept()s it, so the client's open() returns at once and the server's open()
// finds the connection already waiting; neither blocks on the other, even when
// both are opened one after the other on the same thread.
//
// open() creates the socket on the calling thread, and close() must be called
// on that same thread. close() deletes the socket at once; deviceClosed() is
// emitted from that thread's event loop (queued), never from inside one of the
// socket's own signals, so a handler may release the link and close the device
// right away. A device deletes a socket that is still open when it is
// destroyed; destroy it only after the socket's thread has released the link
// or finished.

// Listens on 127.0.0.1 at a free port chosen by the system and accepts one
// connection per open().
class TcpServerTestDevice : public QErfcDevice
{
    Q_OBJECT
public:
    explicit TcpServerTestDevice(QObject* parent = nullptr);
    // Listens on 127.0.0.1:port (0: a free one) and waits up to
    // acceptTimeoutMs in each open().
    TcpServerTestDevice(quint16 port, int acceptTimeoutMs, QObject* parent = nullptr);
    ~TcpServerTestDevice() override;

    // The listening port; 0 when listening failed.
    quint16 port() const { return m_port; }
    // The listening socket, for a caller that waits for a connection in its
    // event loop rather than in open(); -1 when listening failed.
    int listenDescriptor() const { return m_listenFd; }
    // The open connection, or null.
    QTcpSocket* socket() const { return m_socket; }

public slots:
    // Waits up to 10 s for a connection; null on failure.
    QIODevice* open() override;
    void close() override;

private:
    int m_listenFd = -1;
    quint16 m_port = 0;
    int m_acceptTimeoutMs;
    QPointer<QTcpSocket> m_socket;
};

// Connects to 127.0.0.1 at the given port on each open().
class TcpClientTestDevice : public QErfcDevice
{
    Q_OBJECT
public:
    explicit TcpClientTestDevice(quint16 port, QObject* parent = nullptr);
    // Connects to host:port instead of the loopback address.
    TcpClientTestDevice(const QString& host, quint16 port, QObject* parent = nullptr);
    ~TcpClientTestDevice() override;

    QTcpSocket* socket() const { return m_socket; }
    // Fixes the system's receive buffer of the next connections before they
    // connect, to 127.0.0.1 then (0: the system's own, which it grows).
    void setReceiveBufferSize(int bytes) { m_receiveBuffer = bytes; }

public slots:
    // Waits up to 10 s for the connection; null on failure.
    QIODevice* open() override;
    void close() override;

private:
    QString m_host;
    quint16 m_port;
    int m_receiveBuffer = 0;
    QPointer<QTcpSocket> m_socket;
};

// Connects a non-blocking socket to 127.0.0.1:port, waiting up to 10 s, with
// the system's receive buffer fixed at receiveBuffer bytes before the
// connection exists: the system then never grows it, so what this end can
// hold unread is the same on every machine. (Set once connected, a smaller
// buffer shrinks a window already advertised, which holds up both ends.)
// For an end that sends little while it reads nothing: once its full buffer
// has to drop what the other end sends, it also stops taking the
// acknowledgements of its own data, and both ends back off.
// The descriptor, or -1 on failure.
int connectLoopback(quint16 port, int receiveBuffer);

// What the system holds received on socket `fd` that nobody has read yet;
// 0 when it cannot tell.
qint64 unreadBytes(int fd);

#endif // TCPTESTDEVICE_H
