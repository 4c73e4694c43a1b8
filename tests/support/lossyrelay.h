#ifndef LOSSYRELAY_H
#define LOSSYRELAY_H

#include "loopbackrelay.h"

#include <QMutex>

#include <atomic>
#include <random>

// A TCP relay on 127.0.0.1 between two Erfc stream links that loses whole
// frames. It accepts one connection on its own port, connects to
// 127.0.0.1:targetPort, and forwards each direction frame by frame; a frame
// the rule picks is not forwarded. Each direction counts and draws on its own,
// from a generator seeded by the rule, so a rule drops the same frames of the
// same traffic every time.
class LossyRelay : public LoopbackRelay
{
public:
    struct Rule
    {
        double probability = 0; // each counted frame is dropped with this chance
        quint32 seed = 1;
        int burstAfter = -1;    // counted frames passed before the burst; -1: none
        int burstLength = 0;    // counted frames dropped in a row then
        bool dataOnly = false;  // count only Cargo data blocks (datagrams of type 0x30)
    };

    explicit LossyRelay(quint16 targetPort);
    ~LossyRelay() override;
    // Applies from the next frame on; both directions start counting afresh.
    void setRule(const Rule& rule);
    quint64 dropped() const { return m_dropped.load(); }
    quint64 forwarded() const { return m_forwarded.load(); }

private:
    struct Direction
    {
        std::mt19937 generator;
        qint64 counted = 0;
    };

    void pump(int from, int to, int direction) override;
    bool drop(const QByteArray& frame, int direction);

    QMutex m_lock; // the rule and the directions' counts
    Rule m_rule;
    Direction m_directions[2];
    std::atomic<quint64> m_dropped{0};
    std::atomic<quint64> m_forwarded{0};
};

#endif // LOSSYRELAY_H
