#include "loopbackrelay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

} // namespace

LoopbackRelay::LoopbackRelay(quint16 targetPort)
    : m_targetPort(targetPort)
{
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof(addr);
    if (m_stopFd < 0 || fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0
        || ::listen(fd, 1) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    m_listenFd = fd;
    m_port = ntohs(addr.sin_port);
}

LoopbackRelay::~LoopbackRelay()
{
    stop();
    for (int fd : {m_fds[0], m_fds[1], m_listenFd, m_stopFd}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void LoopbackRelay::start()
{
    if (m_listenFd >= 0)
        m_thread = std::thread([this] { run(); });
}

void LoopbackRelay::stop()
{
    if (m_stopFd >= 0) {
        const quint64 one = 1;
        (void)::write(m_stopFd, &one, sizeof(one));
    }
    if (m_thread.joinable())
        m_thread.join();
}

void LoopbackRelay::run()
{
    pollfd waitFor[2] = {{m_listenFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    while (::poll(waitFor, 2, -1) < 0 && errno == EINTR) {
    }
    if (waitFor[1].revents || !(waitFor[0].revents & POLLIN))
        return;
    m_fds[0] = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    m_fds[1] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in target = loopback(m_targetPort);
    if (m_fds[0] < 0 || m_fds[1] < 0
        || ::connect(m_fds[1], reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0)
        return;
    const int on = 1;
    for (int fd : m_fds)
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    std::thread back([this] { pump(m_fds[1], m_fds[0], 1); });
    pump(m_fds[0], m_fds[1], 0);
    back.join();
}

bool LoopbackRelay::waitReadable(int fd, qint64 timeoutNs, bool* readable) const
{
    *readable = false;
    timespec timeout;
    if (timeoutNs >= 0)
        timeout = {time_t(timeoutNs / 1000000000), long(timeoutNs % 1000000000)};
    pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {fd, POLLIN, 0}};
    if (::ppoll(fds, 2, timeoutNs >= 0 ? &timeout : nullptr, nullptr) < 0)
        return errno == EINTR;
    if (fds[0].revents)
        return false;
    *readable = fds[1].revents & (POLLIN | POLLHUP | POLLERR);
    return true;
}

bool LoopbackRelay::sendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}
