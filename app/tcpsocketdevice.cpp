#include "tcpsocketdevice.h"

#include <QTcpSocket>
#include <QThread>

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

constexpr int connectTimeoutMs = 30000;
// What the system may hold of the frames written that it has not sent yet,
// as much as the stream link itself holds.
constexpr int maxUnsentBytes = 32 * 1024;
// How long close() waits for the buffered bytes and the disconnect.
constexpr int disconnectBoundMs = 1000;

// Disconnects and deletes a socket. The socket must only be touched on its
// own thread; called from any other thread it is handed to that thread's
// event loop.
void dispose(QTcpSocket* socket)
{
    if (socket->thread() != QThread::currentThread()) {
        socket->deleteLater();
        return;
    }
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        // Deleting a socket aborts it and drops what is still buffered, such
        // as the goodbye written just before: let it leave first.
        socket->flush();
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(disconnectBoundMs);
    }
    delete socket;
}

} // namespace

TcpSocketDevice::TcpSocketDevice(const QHostAddress& host, quint16 port, QObject* parent)
    : ErfcDevice(parent)
    , m_host(host)
    , m_port(port)
{
}

TcpSocketDevice::~TcpSocketDevice()
{
    if (QTcpSocket* socket = m_socket) {
        m_socket = nullptr;
        // This object is going away: nothing of the socket may reach it.
        socket->disconnect(this);
        dispose(socket);
    }
}

QIODevice* TcpSocketDevice::open()
{
    close();
    // No parent: the socket lives on the calling (stack) thread.
    auto* socket = new QTcpSocket;
    // Automatic connections: this object lives on the GUI thread, so these
    // reach it queued.
    connect(socket, &QTcpSocket::disconnected, this, &TcpSocketDevice::deviceClosed);
    connect(socket, &QTcpSocket::disconnected, this, &TcpSocketDevice::disconnected);
    connect(socket, &QTcpSocket::connected, this, &TcpSocketDevice::connected);

    socket->connectToHost(m_host, m_port, QIODevice::ReadWrite);
    if (!socket->waitForConnected(connectTimeoutMs)) {
        socket->disconnect(this);
        delete socket;
        emit error(QStringLiteral("Can't connect to address!"));
        return nullptr;
    }
    // Frames are small and should leave at once.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
#ifdef TCP_NOTSENT_LOWAT
    // The frames a node that has stopped reading has not taken would pile up
    // in the send buffer, which the system grows to megabytes, and a fresh
    // frame would wait behind them all. The system takes no more than
    // maxUnsentBytes it has not sent; the rest waits in the socket's own
    // buffer, which the stream link bounds. Bytes on their way to the node
    // are not counted, so a node that acknowledges late is not taken for a
    // stopped one.
    ::setsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &maxUnsentBytes,
                 sizeof(maxUnsentBytes));
#endif
    m_socket = socket;
    return socket;
}

void TcpSocketDevice::close()
{
    QTcpSocket* socket = m_socket;
    if (!socket)
        return;
    // Forget it first: a receiver of disconnected() may call close() again.
    m_socket = nullptr;
    dispose(socket);
}
