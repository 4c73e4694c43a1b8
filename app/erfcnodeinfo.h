#ifndef ERFCNODEINFO_H
#define ERFCNODEINFO_H

#include "qerfcnodeinfo.h"

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

    bool catchMaintenance() const;
    void setCatchMaintenance(bool catchMaintenance);

private:
    bool m_catchMaintenance = false;
};

#endif // ERFCNODEINFO_H
