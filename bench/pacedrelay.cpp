#include "pacedrelay.h"

#include <cerrno>
#include <sys/socket.h>
#include <time.h>

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

// Bytes read in one go, and when the first of them starts on the emulated wire.
struct Chunk
{
    std::string bytes;
    qint64 wireStart;
    size_t sent = 0;
};

} // namespace

PacedRelay::PacedRelay(quint16 targetPort, int bytesPerSecond, int latencyMs)
    : LoopbackRelay(targetPort)
    , m_bytesPerSecond(bytesPerSecond)
    , m_latencyNs(qint64(latencyMs) * 1000000)
{
    start();
}

PacedRelay::~PacedRelay()
{
    stop();
}

void PacedRelay::pump(int from, int to, int index)
{
    Direction& direction = m_directions[index];
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
        qint64 left = -1;
        if (!queue.empty()) {
            const Chunk& c = queue.front();
            const qint64 next = c.wireStart + m_latencyNs
                + (qint64(c.sent) + 1) * nsPerSecond / m_bytesPerSecond + 1;
            left = std::max<qint64>(0, next - monotonicNs());
        }
        bool readable = false;
        if (!waitReadable(open ? from : -1, left, &readable))
            return;
        if (!readable)
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
