#include "pacedrelay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <string>

namespace {

constexpr qint64 nsPerSecond = 1000000000;

qint64 monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * nsPerSecond + ts.tv_nsec;
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

void noDelay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

bool sendAll(int fd, const char* data, size_t size)
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

// Bytes read in one go, and when the first of them starts on the emulated wire.
struct Chunk
{
    std::string bytes;
    qint64 wireStart;
    size_t sent = 0;
};

} // namespace

PacedRelay::PacedRelay(quint16 targetPort, int bytesPerSecond, int latencyMs)
    : m_targetPort(targetPort)
    , m_bytesPerSecond(bytesPerSecond)
    , m_latencyNs(qint64(latencyMs) * 1000000)
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
    m_thread = std::thread([this] { run(); });
}

PacedRelay::~PacedRelay()
{
    if (m_stopFd >= 0) {
        const quint64 one = 1;
        (void)::write(m_stopFd, &one, sizeof(one));
    }
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : {m_fds[0], m_fds[1], m_listenFd, m_stopFd}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void PacedRelay::run()
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
    noDelay(m_fds[0]);
    noDelay(m_fds[1]);
    std::thread back([this] { pump(m_fds[1], m_fds[0], m_directions[1]); });
    pump(m_fds[0], m_fds[1], m_directions[0]);
    back.join();
}

void PacedRelay::pump(int from, int to, Direction& direction)
{
    std::deque<Chunk> queue;
    qint64 wireFree = 0; // when the emulated wire finishes the last byte taken in
    quint64 received = 0;
    bool open = true;
    char buffer[65536];

    for (;;) {
        // Hand on every byte that has crossed the wire (and its latency) by now.
        const qint64 now = monotonicNs();
        while (!queue.empty()) {
            Chunk& c = queue.front();
            const qint64 onWire = now - m_latencyNs - c.wireStart;
            const size_t due = onWire <= 0 ? 0
                : size_t(std::min<qint64>(qint64(c.bytes.size()), onWire * m_bytesPerSecond / nsPerSecond));
            if (due > c.sent) {
                if (!sendAll(to, c.bytes.data() + c.sent, due - c.sent))
                    return;
                direction.forwarded += due - c.sent;
                c.sent = due;
            }
            if (c.sent < c.bytes.size())
                break;
            queue.pop_front();
        }
        if (!open && queue.empty()) {
            ::shutdown(to, SHUT_WR);
            return;
        }

        // Sleep until the next byte is due, new bytes arrive, or the relay stops.
        timespec timeout;
        timespec* wait = nullptr;
        if (!queue.empty()) {
            const Chunk& c = queue.front();
            const qint64 next = c.wireStart + m_latencyNs
                + (qint64(c.sent) + 1) * nsPerSecond / m_bytesPerSecond + 1;
            const qint64 left = std::max<qint64>(0, next - monotonicNs());
            timeout = {time_t(left / nsPerSecond), long(left % nsPerSecond)};
            wait = &timeout;
        }
        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {open ? from : -1, POLLIN, 0}};
        if (::ppoll(fds, 2, wait, nullptr) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = ::recv(from, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            open = false;
            continue;
        }
        // The bytes start on the wire once it is free, and never before they arrived.
        const qint64 start = std::max(monotonicNs(), wireFree);
        wireFree = start + qint64(n) * nsPerSecond / m_bytesPerSecond;
        queue.push_back(Chunk{std::string(buffer, size_t(n)), start});
        received += quint64(n);
        const quint64 backlog = received - direction.forwarded.load();
        if (backlog > direction.peakBacklog.load())
            direction.peakBacklog = backlog;
    }
}
