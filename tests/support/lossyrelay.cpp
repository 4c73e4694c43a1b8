#include "lossyrelay.h"

#include "qerfcmsg.h"
#include "qerfcstreaminterface_p.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
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

// A Cargo data block: a datagram to a user function whose payload's type is 0x30.
bool isCargoData(const QByteArray& frame)
{
    QErfcMsg msg;
    return msg.decode(frame) && !msg.crcError() && !msg.isResponse() && msg.noResponse()
        && msg.functionId() >= 16 && !msg.payload().isEmpty()
        && (quint8(msg.payload().at(0)) & 0x70) == 0x30;
}

} // namespace

LossyRelay::LossyRelay(quint16 targetPort)
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
    m_thread = std::thread([this] { run(); });
}

LossyRelay::~LossyRelay()
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

void LossyRelay::setRule(const Rule& rule)
{
    QMutexLocker lock(&m_lock);
    m_rule = rule;
    for (int i = 0; i < 2; ++i) {
        m_directions[i].generator.seed(rule.seed * 2 + quint32(i));
        m_directions[i].counted = 0;
    }
}

void LossyRelay::run()
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

bool LossyRelay::drop(const QByteArray& frame, int direction)
{
    QMutexLocker lock(&m_lock);
    const Rule& rule = m_rule;
    if (rule.probability <= 0 && rule.burstLength <= 0)
        return false;
    if (rule.dataOnly && !isCargoData(frame))
        return false;
    Direction& d = m_directions[direction];
    const qint64 index = d.counted++;
    if (rule.burstAfter >= 0 && index >= rule.burstAfter && index < rule.burstAfter + rule.burstLength)
        return true;
    // 32 bits of the generator against the probability: the same draw on every platform.
    return rule.probability > 0 && double(d.generator()) < rule.probability * 4294967296.0;
}

void LossyRelay::pump(int from, int to, int direction)
{
    QErfcFrameStuffing unstuff;
    char buffer[16384];
    for (;;) {
        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {from, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = ::recv(from, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::shutdown(to, SHUT_WR);
            return;
        }
        QByteArray out;
        unstuff.feed(buffer, n, [&](const QByteArray& frame) {
            if (drop(frame, direction)) {
                ++m_dropped;
                return;
            }
            ++m_forwarded;
            out += QErfcFrameStuffing::stuff(frame);
        });
        if (!out.isEmpty() && !sendAll(to, out.constData(), size_t(out.size())))
            return;
    }
}
