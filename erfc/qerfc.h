#ifndef QERFC_H
#define QERFC_H

#include <QObject>

// Shared enumerations of the Erfc protocol stack.
namespace QErfc {
Q_NAMESPACE

enum ResponseCode {
    OK = 0,
    Specific1 = 1,
    Specific2 = 2,
    Specific3 = 3,
    Specific4 = 4,
    Specific5 = 5,
    Specific6 = 6,
    Busy = 7,
    UnknownFid = 8,
    UnknonwAddr = 9,
    FunctionError = 10,
    PayloadError = 12,
    ProtocolError = 13,
    RoutingError = 14,
    CrcError = 15,
    ConnectionError = 16 // produced locally, never sent
};
Q_ENUM_NS(ResponseCode)

enum Privilege {
    User = 0,
    Operator = 1,
    Admin = 2,
    Developer = 3
};
Q_ENUM_NS(Privilege)

enum DrcUpdate {
    NewNode = 0,
    RemovedNode = 1
};
Q_ENUM_NS(DrcUpdate)

enum Mode {
    Application = 0,
    Maintenance = 1
};
Q_ENUM_NS(Mode)

enum EventState {
    EventDisconnected = 0,
    EventConnected = 1,
    EventError = 2
};
Q_ENUM_NS(EventState)

// What errorDetected reports.
enum Error {
    OwnAddressError = 0, // a frame arrived whose source is the own address
    RoutingLoopError = 1 // a frame to forward would leave through its incoming link
};
Q_ENUM_NS(Error)

// Name of a response code; the empty text for values no code has.
QString responseCodeString(int code);

// Registers the value and enum types that travel through queued connections.
void registerMetaTypes();

} // namespace QErfc

Q_DECLARE_METATYPE(QErfc::ResponseCode)
Q_DECLARE_METATYPE(QErfc::Privilege)
Q_DECLARE_METATYPE(QErfc::DrcUpdate)
Q_DECLARE_METATYPE(QErfc::Mode)
Q_DECLARE_METATYPE(QErfc::EventState)
Q_DECLARE_METATYPE(QErfc::Error)

#endif // QERFC_H
