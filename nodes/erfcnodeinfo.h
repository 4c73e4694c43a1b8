#ifndef ERFCNODEINFO_H
#define ERFCNODEINFO_H

#include "qerfcnodeinfo.h"

#include <atomic>

// The shell's record of one remote node: the client view of the node plus the
// user's wish to catch it in Maintenance the next time it announces itself
// in that mode. Records are made and kept by ErfcNodeManager; the catch flag
// is read and written on the GUI thread only.
class ErfcNodeInfo : public QErfcNodeInfo
{
    Q_OBJECT
public:
    ErfcNodeInfo(QErfcStack* stack, quint8 address, QObject* parent = nullptr);
    ~ErfcNodeInfo() override;

    // Talks to `stack` from now on, its items emptied; for the manager's
    // stack switch, while no request of the manager's is being sent.
    void follow(QErfcStack* stack);

    bool catchMaintenance() const;
    void setCatchMaintenance(bool catchMaintenance);

    // Counts the node's arrivals (new-node updates). An information batch
    // notes it when it completes, so that a batch of an earlier presence,
    // handled only after the node came back, is told from the current one.
    quint64 presence() const { return m_presence.load(); }
    void markArrived() { ++m_presence; }

private:
    bool m_catchMaintenance = false;
    std::atomic<quint64> m_presence{0};
};

#endif // ERFCNODEINFO_H
