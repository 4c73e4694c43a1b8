#ifndef PACEDRELAY_H
#define PACEDRELAY_H

#include "loopbackrelay.h"

#include <atomic>

// A TCP relay on 127.0.0.1 that behaves like a slow serial line: it accepts
// one connection on its own port, connects to 127.0.0.1:targetPort, and
// forwards each direction at a fixed byte rate, optionally after a fixed
// one-way latency. A byte leaves the relay only once it has crossed the
// emulated wire, so a sender that writes faster than the line builds a queue
// inside the relay, as it would in a serial port's transmit buffer.
//
// Each direction runs on its own thread and sleeps until the next byte is
// due, so the rate holds to the byte over any stretch of time.
class PacedRelay : public LoopbackRelay
{
public:
    struct Direction
    {
        std::atomic<quint64> forwarded{0}; // bytes delivered
        std::atomic<quint64> peakBacklog{0}; // most bytes waiting at one time
    };

    // 115200 baud, 8N1: ten bit times per byte.
    enum { SerialBytesPerSecond = 11520 };

    PacedRelay(quint16 targetPort, int bytesPerSecond = SerialBytesPerSecond, int latencyMs = 0);
    ~PacedRelay() override;
    // The direction from the accepted connection to the target, and back.
    const Direction& forward() const { return m_directions[0]; }
    const Direction& backward() const { return m_directions[1]; }

private:
    void pump(int from, int to, int direction) override;

    const qint64 m_bytesPerSecond;
    const qint64 m_latencyNs;
    Direction m_directions[2];
};

#endif // PACEDRELAY_H
