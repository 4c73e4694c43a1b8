#include "qerfcmsg.h"
#include "qerfccrc16.h"
#include "qerfccrypto.h"
#include "qerfcdatagram.h"
#include "qerfcemitevent.h"
#include "qerfcrequest_p.h"
#include "qerfcsubscriber.h"

class QErfcMsgPrivate
{
public:
    quint8 m_destination = 0;
    quint8 m_source = 0;
    bool m_response = false;
    bool m_routed = false;
    bool m_event = false;
    bool m_windowBit = false;
    bool m_reservedBit = false;
    quint8 m_functionId = 0;
    quint8 m_requestId = 0;
    quint8 m_routeAddress = 0;
    QByteArray m_routeBytes;
    QErfc::Privilege m_privilege = QErfc::User;
    bool m_noResponse = false;
    bool m_retransmit = false;
    QErfc::ResponseCode m_responseCode = QErfc::OK;
    QByteArray m_payload;
    qint64 m_sendTime = 0;
    bool m_crcError = false;
    QErfcInterface* m_interface = nullptr;
    QErfcRequestRef m_request;
    quint8 m_retries = 0;
    quint8 m_retransmissions = 0;
    quint8 m_timeout = 0;
    quint64 m_linkOrder = 0;
};

namespace {

// Wire value 11 has no code of its own and is read as ConnectionError.
QErfc::ResponseCode codeFromWire(quint32 wire)
{
    wire &= 0x0F;
    if (wire == 11)
        return QErfc::ConnectionError;
    return QErfc::ResponseCode(wire);
}

inline quint32 readHeader(const uchar* p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

} // namespace

QErfcMsg::QErfcMsg(QObject* parent)
    : QObject(parent)
    , d(new QErfcMsgPrivate)
{
}

QErfcMsg::QErfcMsg(QErfcRequest* request, quint8 ownAddress, QObject* parent)
    : QErfcMsg(parent)
{
    d->m_destination = request->address();
    d->m_source = ownAddress;
    d->m_functionId = request->functionId();
    d->m_payload = request->payload();
    d->m_retries = request->retries();
    d->m_timeout = request->timeout();
    if (!request->noResponse()) {
        QErfcRequestPrivate* rp = QErfcRequestPrivate::get(request);
        d->m_request = rp->m_handle;
        rp->resetResponse();
    }
}

QErfcMsg::QErfcMsg(QErfcDatagram* datagram, quint8 ownAddress, QObject* parent)
    : QErfcMsg(parent)
{
    d->m_destination = datagram->address();
    d->m_source = ownAddress;
    d->m_functionId = datagram->functionId();
    d->m_payload = datagram->payload();
    d->m_noResponse = true;
}

QErfcMsg::QErfcMsg(QErfcEmitEvent* event, quint8 ownAddress, const QErfcSubscriber& subscriber,
                   QObject* parent)
    : QErfcMsg(parent)
{
    d->m_destination = subscriber.address;
    d->m_source = ownAddress;
    d->m_event = true;
    d->m_functionId = event->eventId();
    d->m_payload = event->payload();
    d->m_noResponse = subscriber.deliveryType != QErfcSubscriber::Normal;
    d->m_retries = subscriber.retries;
    d->m_timeout = subscriber.timeout;
}

QErfcMsg::QErfcMsg(const QErfcMsg& other)
    : QObject(other.parent())
    , d(new QErfcMsgPrivate(*other.d))
{
}

QErfcMsg& QErfcMsg::operator=(const QErfcMsg& other)
{
    *d = *other.d;
    return *this;
}

QErfcMsg::~QErfcMsg() = default;

quint32 QErfcMsg::header() const
{
    quint32 h = (quint32(d->m_destination) << 26) | (quint32(d->m_source & 63) << 20);
    if (!d->m_response)
        h |= 1u << 19;
    if (d->m_routed)
        h |= 1u << 18;
    if (d->m_windowBit)
        h |= 1u << 17;
    if (d->m_reservedBit)
        h |= 1u << 16;
    if (d->m_event)
        h |= 1u << 15;
    h |= quint32(d->m_functionId & 127) << 8;
    h |= (quint32(d->m_requestId) << 4) & 0xF0;
    if (!d->m_response) {
        h |= (quint32(d->m_privilege) & 3) << 2;
        if (d->m_noResponse)
            h |= 1u << 1;
        if (d->m_retransmit)
            h |= 1u;
    } else {
        // ConnectionError goes back to the wire value it was read from.
        const quint32 code = d->m_responseCode == QErfc::ConnectionError
            ? 11u : quint32(d->m_responseCode);
        h |= code & 15;
    }
    return h;
}

QByteArray QErfcMsg::encode(QErfcCrypto* cipher) const
{
    const quint32 h = header();
    QByteArray payload = d->m_payload;
    if (cipher && d->m_functionId > 15) {
        QByteArray out;
        cipher->encrypt(h, d->m_payload, &out);
        payload = out;
    }
    const int routeCount = d->m_routed ? qMin(d->m_routeBytes.size(), int(MaxRouteBytes)) : 0;
    const int size = HeaderSize + (d->m_routed ? 1 + routeCount : 0) + payload.size() + CrcSize;

    QByteArray frame(size, Qt::Uninitialized);
    uchar* p = reinterpret_cast<uchar*>(frame.data());
    *p++ = uchar(h >> 24);
    *p++ = uchar(h >> 16);
    *p++ = uchar(h >> 8);
    *p++ = uchar(h);
    if (d->m_routed) {
        *p++ = uchar((d->m_routeAddress & 63) | (routeCount << 6));
        memcpy(p, d->m_routeBytes.constData(), size_t(routeCount));
        p += routeCount;
    }
    if (!payload.isEmpty()) {
        memcpy(p, payload.constData(), size_t(payload.size()));
        p += payload.size();
    }
    quint16 crc;
    QErfcCrc16::init(&crc);
    QErfcCrc16::update(reinterpret_cast<const uchar*>(frame.constData()), uint(size - CrcSize), &crc);
    *p++ = uchar(crc >> 8);
    *p = uchar(crc);
    return frame;
}

bool QErfcMsg::decode(const QByteArray& frame, QErfcCrypto* cipher)
{
    const int size = frame.size();
    if (size < MinFrameSize || size > MaxFrameSize)
        return false;
    const uchar* p = reinterpret_cast<const uchar*>(frame.constData());
    const quint32 h = readHeader(p);
    const bool routed = h & (1u << 18);

    int payloadOffset = HeaderSize;
    quint8 routeAddress = 0;
    QByteArray routeBytes;
    if (routed) {
        // The route info and its bytes must lie before the CRC.
        if (HeaderSize + 1 > size - CrcSize)
            return false;
        const int count = p[4] >> 6;
        if (HeaderSize + 1 + count > size - CrcSize)
            return false;
        routeAddress = p[4] & 63;
        routeBytes = frame.mid(HeaderSize + 1, count);
        payloadOffset = HeaderSize + 1 + count;
    }

    const quint16 stored = quint16((p[size - 2] << 8) | p[size - 1]);
    quint16 crc;
    QErfcCrc16::init(&crc);
    QErfcCrc16::update(p, uint(size - CrcSize), &crc);

    QErfcMsgPrivate& m = *d;
    m.m_crcError = crc != stored;
    m.m_destination = quint8(h >> 26);
    m.m_source = quint8((h >> 20) & 63);
    m.m_response = !(h & (1u << 19));
    m.m_routed = routed;
    m.m_windowBit = h & (1u << 17);
    m.m_reservedBit = h & (1u << 16);
    m.m_event = h & (1u << 15);
    m.m_functionId = quint8((h >> 8) & 127);
    m.m_requestId = quint8((h >> 4) & 15);
    if (m.m_response) {
        m.m_responseCode = codeFromWire(h);
        m.m_privilege = QErfc::User;
        m.m_noResponse = false;
        m.m_retransmit = false;
    } else {
        m.m_responseCode = QErfc::OK;
        m.m_privilege = QErfc::Privilege((h >> 2) & 3);
        m.m_noResponse = h & (1u << 1);
        m.m_retransmit = h & 1u;
    }
    m.m_routeAddress = routeAddress;
    m.m_routeBytes = routeBytes;
    m.m_payload = frame.mid(payloadOffset, size - CrcSize - payloadOffset);

    if (cipher && !m.m_crcError && m.m_functionId > 15) {
        QByteArray out;
        if (cipher->decrypt(h, m.m_payload, &out))
            m.m_payload = out;
        else
            m.m_crcError = true;
    }
    return true;
}

bool QErfcMsg::makeResponse(QErfcMsg* response) const
{
    if (d->m_response || d->m_destination >= BroadcastAddress
        || d->m_source >= BroadcastAddress || d->m_noResponse)
        return false;
    QErfcMsgPrivate& r = *response->d;
    r.m_destination = d->m_source;
    r.m_source = d->m_destination;
    r.m_response = true;
    r.m_windowBit = d->m_windowBit;
    r.m_event = d->m_event;
    r.m_functionId = d->m_functionId;
    r.m_requestId = d->m_requestId;
    r.m_interface = d->m_interface;
    return true;
}

QErfcIncomingRequest QErfcMsg::toIncomingRequest() const
{
    return QErfcIncomingRequest(d->m_source, d->m_functionId, d->m_privilege, d->m_payload);
}

QErfcIncomingEvent QErfcMsg::toIncomingEvent() const
{
    return QErfcIncomingEvent(d->m_source, d->m_functionId, d->m_privilege, d->m_payload);
}

QErfcIncomingResponse QErfcMsg::toIncomingResponse() const
{
    return QErfcIncomingResponse(d->m_source, d->m_functionId, d->m_responseCode, d->m_payload,
                                 request());
}

QString QErfcMsg::toString(bool received) const
{
    QString mark = QStringLiteral(" ");
    if (d->m_destination == BroadcastAddress || d->m_source == BroadcastAddress)
        mark = QStringLiteral("#");
    else if (!d->m_response && d->m_noResponse)
        mark = QStringLiteral("!");
    const bool retransmitted = !d->m_response && d->m_retransmit;
    return QStringLiteral("%1:%2%3%4 ADDR=%5, %6=%7, RQID=%8, WIN=%9, %10=%11, LEN=%12 [%13]")
        .arg(received ? QStringLiteral("RX") : QStringLiteral("TX"),
             d->m_response ? QStringLiteral("RSP") : QStringLiteral("REQ"),
             mark,
             retransmitted ? QStringLiteral("$") : QStringLiteral(" "))
        .arg(received ? d->m_source : d->m_destination, 2, 10, QLatin1Char(' '))
        .arg(d->m_event ? QStringLiteral("EID") : QStringLiteral("FID"))
        .arg(d->m_functionId, 3, 10, QLatin1Char(' '))
        .arg(d->m_requestId, 2, 10, QLatin1Char(' '))
        .arg(d->m_windowBit ? 1 : 0)
        .arg(d->m_response ? QStringLiteral("RSPC") : QStringLiteral("PRIV"))
        .arg(d->m_response ? int(d->m_responseCode) : int(d->m_privilege), 2, 10, QLatin1Char(' '))
        .arg(d->m_payload.size(), 2, 10, QLatin1Char(' '))
        .arg(QString::fromLatin1(d->m_payload.toHex().toUpper()));
}

void QErfcMsg::clear()
{
    *d = QErfcMsgPrivate();
}

quint8 QErfcMsg::destination() const { return d->m_destination; }
void QErfcMsg::setDestination(quint8 address) { d->m_destination = address; }
quint8 QErfcMsg::source() const { return d->m_source; }
void QErfcMsg::setSource(quint8 address) { d->m_source = address; }
bool QErfcMsg::isResponse() const { return d->m_response; }
void QErfcMsg::setResponse(bool response) { d->m_response = response; }
bool QErfcMsg::isRouted() const { return d->m_routed; }
void QErfcMsg::setRouted(bool routed) { d->m_routed = routed; }
bool QErfcMsg::isEvent() const { return d->m_event; }
void QErfcMsg::setEvent(bool event) { d->m_event = event; }
bool QErfcMsg::windowBit() const { return d->m_windowBit; }
void QErfcMsg::setWindowBit(bool bit) { d->m_windowBit = bit; }
bool QErfcMsg::reservedBit() const { return d->m_reservedBit; }
void QErfcMsg::setReservedBit(bool bit) { d->m_reservedBit = bit; }
quint8 QErfcMsg::functionId() const { return d->m_functionId; }
void QErfcMsg::setFunctionId(quint8 id) { d->m_functionId = id; }
quint8 QErfcMsg::requestId() const { return d->m_requestId; }
void QErfcMsg::setRequestId(quint8 id) { d->m_requestId = id; }
quint8 QErfcMsg::routeAddress() const { return d->m_routeAddress; }
void QErfcMsg::setRouteAddress(quint8 address) { d->m_routeAddress = address; }
QByteArray QErfcMsg::routeBytes() const { return d->m_routeBytes; }
void QErfcMsg::setRouteBytes(const QByteArray& bytes) { d->m_routeBytes = bytes; }
QErfc::Privilege QErfcMsg::privilege() const { return d->m_privilege; }
void QErfcMsg::setPrivilege(QErfc::Privilege privilege) { d->m_privilege = privilege; }
bool QErfcMsg::noResponse() const { return d->m_noResponse; }
void QErfcMsg::setNoResponse(bool noResponse) { d->m_noResponse = noResponse; }
bool QErfcMsg::retransmit() const { return d->m_retransmit; }
void QErfcMsg::setRetransmit(bool retransmit) { d->m_retransmit = retransmit; }
QErfc::ResponseCode QErfcMsg::responseCode() const { return d->m_responseCode; }
void QErfcMsg::setResponseCode(QErfc::ResponseCode code) { d->m_responseCode = code; }
QByteArray& QErfcMsg::payload() { return d->m_payload; }
const QByteArray& QErfcMsg::payload() const { return d->m_payload; }
void QErfcMsg::setPayload(const QByteArray& payload) { d->m_payload = payload; }
qint64 QErfcMsg::sendTime() const { return d->m_sendTime; }
void QErfcMsg::setSendTime(qint64 msecs) { d->m_sendTime = msecs; }
bool QErfcMsg::crcError() const { return d->m_crcError; }
void QErfcMsg::setCrcError(bool error) { d->m_crcError = error; }
QErfcInterface* QErfcMsg::interface() const { return d->m_interface; }
void QErfcMsg::setInterface(QErfcInterface* link) { d->m_interface = link; }
quint8 QErfcMsg::retries() const { return d->m_retries; }
void QErfcMsg::setRetries(quint8 retries) { d->m_retries = retries; }
quint8 QErfcMsg::retransmissions() const { return d->m_retransmissions; }
void QErfcMsg::setRetransmissions(quint8 count) { d->m_retransmissions = count; }
quint8 QErfcMsg::timeout() const { return d->m_timeout; }
void QErfcMsg::setTimeout(quint8 timeout) { d->m_timeout = timeout; }
quint64 QErfcMsg::linkOrder() const { return d->m_linkOrder; }
void QErfcMsg::setLinkOrder(quint64 order) { d->m_linkOrder = order; }

QErfcRequest* QErfcMsg::request() const
{
    return d->m_request ? d->m_request->request() : nullptr;
}

void QErfcMsg::setRequest(QErfcRequest* request)
{
    d->m_request = request ? QErfcRequestPrivate::get(request)->m_handle : QErfcRequestRef();
}

bool QErfcMsg::hasRequest() const
{
    return bool(d->m_request);
}

bool QErfcMsg::completeRequest(quint8 address, quint8 functionId, QErfc::ResponseCode code,
                               const QByteArray& payload) const
{
    return d->m_request && d->m_request->complete(address, functionId, code, payload);
}
