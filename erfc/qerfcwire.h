#ifndef QERFCWIRE_H
#define QERFCWIRE_H

#include <QtGlobal>

// Numbers that every Erfc node agrees on: the internal functions each node
// serves, the commands of NETWORK and MANAGEMENT and the NODE_INFO items.
namespace QErfcWire {

enum InternalFunction : quint8 {
    FnEcho = 0,
    FnNodeInfo = 1,
    FnFunctionInfo = 2,
    FnEventInfo = 3,
    FnManagement = 4,
    FnNetwork = 5,
    FnStatistics = 15,
    FirstUserFunction = 16
};

// First payload byte of a NETWORK request.
enum NetworkCommand : quint8 {
    NetHello = 0,
    NetGoodbye = 1,
    NetSubscribe = 2,
    NetUnsubscribe = 3,
    NetChannelCapacity = 4
};

// First payload byte of a MANAGEMENT request.
enum ManagementCommand : quint8 {
    MgmtReset = 0
};

// First payload byte of a STATISTICS request.
enum StatisticsCommand : quint8 {
    StatRead = 0,
    StatReset = 1
};

// NODE_INFO items, asked for by the first payload byte.
enum NodeInfoItem : quint8 {
    ItemProtocolVersion = 0,
    ItemNodeDescription = 1,
    ItemSoftwareVersion = 2,
    ItemSoftwareHash = 3,
    ItemBootloaderVersion = 4,
    ItemBootloaderHash = 5,
    ItemHardwareDescription = 6,
    ItemHardwareRevision = 7,
    ItemSerial = 8,
    ItemUniqueId = 9,
    ItemMode = 10,
    ItemManufacturer = 11,
    ItemDomain = 12,
    NodeInfoItemCount = 13
};

} // namespace QErfcWire

#endif // QERFCWIRE_H
