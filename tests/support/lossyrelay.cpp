#include "lossyrelay.h"

#include "qerfcmsg.h"
#include "qerfcstreaminterface_p.h"

#include <cerrno>
#include <sys/socket.h>

namespace {

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
    : LoopbackRelay(targetPort)
{
    start();
}

LossyRelay::~LossyRelay()
{
    stop();
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
        bool readable = false;
        if (!waitReadable(from, -1, &readable))
            return;
        if (!readable)
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
