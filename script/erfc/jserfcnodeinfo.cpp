#include "jserfcnodeinfo_p.h"

#include <atomic>

namespace {
std::atomic<int> liveQueries{0};
}

JSErfcNodeInfo::JSErfcNodeInfo(QErfcStack* stack, uchar address, QObject* parent)
    : QErfcNodeInfo(stack, address, parent)
{
    ++liveQueries;
}

JSErfcNodeInfo::~JSErfcNodeInfo()
{
    --liveQueries;
}

int JSErfcNodeInfo::instances()
{
    return liveQueries.load();
}
