#include "qerfcintfnct_p.h"
#include "qerfcmsg.h"
#include "qerfcrequest_p.h"
#include "qerfcstack_p.h"

#include "qerfcwire.h"

using namespace QErfcWire;

QErfcIntFnct::QErfcIntFnct(quint8 id, const QString& description, QErfcStackPrivate* stack)
    : QErfcFunction(id, description, QErfc::User, stack)
    , m_stack(stack)
{
}

QErfcIntFnctEcho::QErfcIntFnctEcho(QErfcStackPrivate* stack)
    : QErfcIntFnct(FnEcho, QStringLiteral("ECHO"), stack)
{
}

QErfc::ResponseCode QErfcIntFnctEcho::process(QErfcIncomingRequest& request, QErfcResponse& response,
                                              QErfcInterface*)
{
    // An unrouted frame can carry up to 36 bytes; the answer may carry only 32.
    if (request.payload().size() > QErfcMsg::MaxPayload)
        return QErfc::PayloadError;
    response.setPayload(request.payload());
    return QErfc::OK;
}

QErfcIntFnctNodeInfo::QErfcIntFnctNodeInfo(QErfcStackPrivate* stack)
    : QErfcIntFnct(FnNodeInfo, QStringLiteral("NODE_INFO"), stack)
{
}

QErfc::ResponseCode QErfcIntFnctNodeInfo::process(QErfcIncomingRequest& request,
                                                  QErfcResponse& response, QErfcInterface*)
{
    if (request.payload().size() != 1)
        return QErfc::PayloadError;
    QErfcStackPrivate* s = m_stack;
    QMutexLocker lock(&s->m_configLock);
    switch (uchar(request.payload().at(0))) {
    case ItemProtocolVersion: response.setPayload(s->m_protocolVersion); break;
    case ItemNodeDescription: response.setPayload(s->m_nodeDescription); break;
    case ItemSoftwareVersion: response.setPayload(s->m_softwareVersion); break;
    case ItemSoftwareHash: response.setPayload(s->m_softwareHash); break;
    case ItemBootloaderVersion: response.setPayload(s->m_bootloaderVersion); break;
    case ItemBootloaderHash: response.setPayload(s->m_bootloaderHash); break;
    case ItemHardwareDescription: response.setPayload(s->m_hardwareDescription); break;
    case ItemHardwareRevision: response.setPayload(s->m_hardwareRevision); break;
    case ItemSerial: response.setPayload(s->m_serial); break;
    case ItemUniqueId: response.setPayload(s->m_uniqueId); break;
    case ItemMode: response.setPayload(QByteArray(1, char(s->m_mode.load()))); break;
    default: return QErfc::ProtocolError; // manufacturer and domain are not kept
    }
    return QErfc::OK;
}

QErfcIntFnctFnctInfo::QErfcIntFnctFnctInfo(QErfcStackPrivate* stack)
    : QErfcIntFnct(FnFunctionInfo, QStringLiteral("FUNCTION_INFO"), stack)
{
}

QErfc::ResponseCode QErfcIntFnctFnctInfo::process(QErfcIncomingRequest& request,
                                                  QErfcResponse& response, QErfcInterface*)
{
    if (request.payload().size() != 1)
        return QErfc::PayloadError;
    QString description;
    if (!m_stack->functionDescription(uchar(request.payload().at(0)), &description))
        return QErfc::Specific1;
    response.setPayload(description);
    return QErfc::OK;
}

QErfcIntFnctEventInfo::QErfcIntFnctEventInfo(QErfcStackPrivate* stack)
    : QErfcIntFnct(FnEventInfo, QStringLiteral("EVENT_INFO"), stack)
{
}

QErfc::ResponseCode QErfcIntFnctEventInfo::process(QErfcIncomingRequest& request,
                                                   QErfcResponse& response, QErfcInterface*)
{
    if (request.payload().size() != 1)
        return QErfc::PayloadError;
    QString description;
    if (!m_stack->eventDescription(uchar(request.payload().at(0)), &description))
        return QErfc::Specific1;
    response.setPayload(description);
    return QErfc::OK;
}

QErfcIntFnctManagement::QErfcIntFnctManagement(QErfcStackPrivate* stack)
    : QErfcIntFnct(FnManagement, QStringLiteral("MANAGEMENT"), stack)
{
}

QErfc::ResponseCode QErfcIntFnctManagement::process(QErfcIncomingRequest& request,
                                                    QErfcResponse&, QErfcInterface*)
{
    if (request.payload().isEmpty())
        return QErfc::PayloadError;
    // The PC cannot be reset by another node.
    if (request.payload().at(0) == MgmtReset)
        return QErfc::FunctionError;
    return QErfc::ProtocolError;
}

QErfcIntFnctNetwork::QErfcIntFnctNetwork(QErfcStackPrivate* stack)
    : QErfcIntFnct(FnNetwork, QStringLiteral("NETWORK"), stack)
{
}

QErfc::ResponseCode QErfcIntFnctNetwork::process(QErfcIncomingRequest& request,
                                                 QErfcResponse& response, QErfcInterface* interface)
{
    const QByteArray& p = request.payload();
    if (p.isEmpty())
        return QErfc::PayloadError;
    const int params = p.size() - 1;
    const auto byte = [&p](int i) { return uchar(p.at(i)); };
    switch (byte(0)) {
    case NetHello: {
        if (params != 6)
            return QErfc::PayloadError;
        const quint32 runId = (quint32(byte(1)) << 24) | (quint32(byte(2)) << 16)
            | (quint32(byte(3)) << 8) | quint32(byte(4));
        m_stack->addNode(interface, request.address(), runId, byte(5),
                         byte(6) ? QErfc::Maintenance : QErfc::Application);
        return QErfc::OK;
    }
    case NetGoodbye:
        m_stack->removeNode(request.address());
        return QErfc::OK;
    case NetSubscribe:
        if (params != 4)
            return QErfc::PayloadError;
        if (!m_stack->lookupEvent(byte(1), request.privilege()))
            return QErfc::Specific1;
        return m_stack->addSubscriber(byte(1), request.address(), byte(2), byte(3), byte(4))
            ? QErfc::OK
            : QErfc::FunctionError;
    case NetUnsubscribe:
        if (params != 1)
            return QErfc::PayloadError;
        m_stack->removeSubscriber(byte(1), request.address());
        return QErfc::OK;
    case NetChannelCapacity:
        // Whatever is proposed is accepted, as long as it fits an answer.
        if (p.size() > QErfcMsg::MaxPayload)
            return QErfc::PayloadError;
        response.setPayload(p);
        return QErfc::OK;
    default:
        return QErfc::ProtocolError;
    }
}

QErfcIntFnctStatistic::QErfcIntFnctStatistic(QErfcStackPrivate* stack)
    : QErfcIntFnct(FnStatistics, QStringLiteral("STATISTICS"), stack)
{
}

QErfc::ResponseCode QErfcIntFnctStatistic::process(QErfcIncomingRequest& request,
                                                   QErfcResponse& response, QErfcInterface*)
{
    if (request.payload().size() != 1)
        return QErfc::PayloadError;
    switch (request.payload().at(0)) {
    case StatRead:
        response.setPayload(m_stack->statistics().toPayload());
        return QErfc::OK;
    case StatReset:
        m_stack->resetStatistics();
        return QErfc::OK;
    default:
        return QErfc::ProtocolError;
    }
}

QErfcIntReq::QErfcIntReq(quint8 address, quint8 functionId, quint8 eventId,
                         const QErfcEventConnectHandle& connect, QErfcStackPrivate* stack)
    : QErfcRequest(address, functionId)
    , m_eventId(eventId)
    , m_connect(connect)
    , m_stack(stack)
{
}

QErfcIntReq::~QErfcIntReq()
{
    // Our onResponse override must not run once this part is gone.
    QErfcRequestPrivate::get(this)->m_guard->close();
    m_stack->untrackInternalRequest(this);
}

void QErfcIntReqEventConnect::onResponse(const QErfcIncomingResponse& response)
{
    if (response.responseCode() == QErfc::OK)
        m_stack->addEventConnection(address(), m_eventId, m_connect);
    else
        m_connect.call([](QErfcEventConnect* c) { c->setState(QErfc::EventError); });
    deleteLater(); // on the engine's thread
}

void QErfcIntReqEventDisconnect::onResponse(const QErfcIncomingResponse&)
{
    m_stack->removeEventConnection(address(), m_eventId, m_connect);
    deleteLater(); // on the engine's thread
}
