#include "tcptestdevice.h"

#include <QDeadlineTimer>
#include <QHostAddress>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int connectTimeoutMs = 10000;

// Readies a freshly opened socket and reports its loss from the event loop.
void prepare(QErfcDevice* device, QTcpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Queued with the socket as context: the signal comes from the socket's own
    // thread, after the socket has finished its own signal, and is dropped if
    // the socket is closed first.
    QObject::connect(socket, &QTcpSocket::disconnected, socket,
                     [device] { emit device->deviceClosed(); }, Qt::QueuedConnection);
}

void destroy(QPointer<QTcpSocket>& socket)
{
    if (!socket)
        return;
    QTcpSocket* s = socket;
    socket = nullptr;
    s->disconnect();
    s->abort();
    delete s;
}

} // namespace

TcpServerTestDevice::TcpServerTestDevice(QObject* parent)
    : TcpServerTestDevice(0, connectTimeoutMs, parent)
{
}

TcpServerTestDevice::TcpServerTestDevice(quint16 port, int acceptTimeoutMs, QObject* parent)
    : QErfcDevice(parent)
    , m_acceptTimeoutMs(acceptTimeoutMs)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
    socklen_t len = sizeof(addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0
        || ::listen(fd, 4) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return;
    }
    m_listenFd = fd;
    m_port = ntohs(addr.sin_port);
}

TcpServerTestDevice::~TcpServerTestDevice()
{
    destroy(m_socket);
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

QIODevice* TcpServerTestDevice::open()
{
    destroy(m_socket);
    if (m_listenFd < 0)
        return nullptr;

    QDeadlineTimer deadline(m_acceptTimeoutMs);
    pollfd pfd{m_listenFd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&pfd, 1, int(deadline.remainingTime()));
        if (ready > 0)
            break;
        if (ready == 0 || errno != EINTR || deadline.hasExpired())
            return nullptr;
    }
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return nullptr;

    auto* socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(fd)) {
        delete socket;
        ::close(fd);
        return nullptr;
    }
    prepare(this, socket);
    m_socket = socket;
    return socket;
}

void TcpServerTestDevice::close()
{
    destroy(m_socket);
}

TcpClientTestDevice::TcpClientTestDevice(quint16 port, QObject* parent)
    : TcpClientTestDevice(QStringLiteral("127.0.0.1"), port, parent)
{
}

TcpClientTestDevice::TcpClientTestDevice(const QString& host, quint16 port, QObject* parent)
    : QErfcDevice(parent)
    , m_host(host)
    , m_port(port)
{
}

TcpClientTestDevice::~TcpClientTestDevice()
{
    destroy(m_socket);
}

QIODevice* TcpClientTestDevice::open()
{
    destroy(m_socket);
    auto* socket = new QTcpSocket;
    if (m_receiveBuffer > 0) {
        const int fd = connectLoopback(m_port, m_receiveBuffer);
        if (fd < 0 || !socket->setSocketDescriptor(fd)) {
            if (fd >= 0)
                ::close(fd);
            delete socket;
            return nullptr;
        }
    } else {
        socket->connectToHost(m_host, m_port);
        if (!socket->waitForConnected(connectTimeoutMs)) {
            delete socket;
            return nullptr;
        }
    }
    prepare(this, socket);
    m_socket = socket;
    return socket;
}

void TcpClientTestDevice::close()
{
    destroy(m_socket);
}

qint64 unreadBytes(int fd)
{
    int queued = 0;
    return ::ioctl(fd, FIONREAD, &queued) == 0 ? queued : 0;
}

int connectLoopback(quint16 port, int receiveBuffer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    bool ok = ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer)) == 0;
    if (ok && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ok = errno == EINPROGRESS;
        QDeadlineTimer deadline(connectTimeoutMs);
        pollfd pfd{fd, POLLOUT, 0};
        int ready = 0;
        while (ok && (ready = ::poll(&pfd, 1, int(deadline.remainingTime()))) < 0)
            ok = errno == EINTR && !deadline.hasExpired();
        int error = 0;
        socklen_t length = sizeof(error);
        ok = ok && ready > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    if (!ok) {
        ::close(fd);
        return -1;
    }
    return fd;
}
