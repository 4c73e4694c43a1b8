#include "erfcnodeinfo.h"

ErfcNodeInfo::ErfcNodeInfo(QErfcStack* stack, quint8 address, QObject* parent)
    : QErfcNodeInfo(stack, address, parent)
{
}

ErfcNodeInfo::~ErfcNodeInfo() = default;

void ErfcNodeInfo::follow(QErfcStack* stack)
{
    QErfcNodeInfo::operator=(QErfcNodeInfo(stack, address()));
}

bool ErfcNodeInfo::catchMaintenance() const
{
    return m_catchMaintenance;
}

void ErfcNodeInfo::setCatchMaintenance(bool catchMaintenance)
{
    m_catchMaintenance = catchMaintenance;
}
