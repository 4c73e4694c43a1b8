#ifndef QERFCMSG_H
#define QERFCMSG_H

#include "qerfc.h"
#include "qerfcincomingevent.h"
#include "qerfcincomingrequest.h"
#include "qerfcincomingresponse.h"

#include <QByteArray>
#include <QObject>
#include <memory>

class QErfcCrypto;
class QErfcDatagram;
class QErfcEmitEvent;
class QErfcInterface;
class QErfcRequest;
class QErfcRequestHandle;
class QErfcMsgPrivate;
struct QErfcSubscriber;

// One Erfc frame in decoded form, plus what the stack needs to send,
// retransmit and match it.
class QErfcMsg : public QObject
{
    Q_OBJECT
public:
    enum : int {
        HeaderSize = 4,
        CrcSize = 2,
        MaxPayload = 32,
        MaxRouteBytes = 3,
        MinFrameSize = HeaderSize + CrcSize,
        MaxFrameSize = HeaderSize + 1 + MaxRouteBytes + MaxPayload + CrcSize, // 42
        BroadcastAddress = 63
    };

    explicit QErfcMsg(QObject* parent = nullptr);
    QErfcMsg(QErfcRequest* request, quint8 ownAddress, QObject* parent = nullptr);
    QErfcMsg(QErfcDatagram* datagram, quint8 ownAddress, QObject* parent = nullptr);
    QErfcMsg(QErfcEmitEvent* event, quint8 ownAddress, const QErfcSubscriber& subscriber,
             QObject* parent = nullptr);
    QErfcMsg(const QErfcMsg& other);
    QErfcMsg& operator=(const QErfcMsg& other);
    ~QErfcMsg() override;

    // Fills this message from one unstuffed frame. False (and nothing changed)
    // when the frame cannot be a frame: length outside 6..42, or route bytes
    // that run into the CRC. A CRC mismatch decodes with crcError() set.
    bool decode(const QByteArray& frame, QErfcCrypto* cipher = nullptr);
    // The frame's bytes, CRC included.
    QByteArray encode(QErfcCrypto* cipher = nullptr) const;
    // The 32-bit header word built from the fields.
    quint32 header() const;

    // Turns `response` into the header of this request's answer; false when
    // this message may not be answered (a response, to or from 63, no-response).
    bool makeResponse(QErfcMsg* response) const;

    QErfcIncomingRequest toIncomingRequest() const;
    QErfcIncomingEvent toIncomingEvent() const;
    QErfcIncomingResponse toIncomingResponse() const;

    QString toString(bool received) const;
    void clear();

    quint8 destination() const;
    void setDestination(quint8 address);
    quint8 source() const;
    void setSource(quint8 address);
    bool isResponse() const;
    void setResponse(bool response);
    bool isRouted() const;
    void setRouted(bool routed);
    bool isEvent() const;
    void setEvent(bool event);
    bool windowBit() const;
    void setWindowBit(bool bit);
    bool reservedBit() const;
    void setReservedBit(bool bit);
    quint8 functionId() const;
    void setFunctionId(quint8 id);
    quint8 requestId() const;
    void setRequestId(quint8 id);
    quint8 routeAddress() const;
    void setRouteAddress(quint8 address);
    QByteArray routeBytes() const;
    void setRouteBytes(const QByteArray& bytes);
    QErfc::Privilege privilege() const;
    void setPrivilege(QErfc::Privilege privilege);
    bool noResponse() const;
    void setNoResponse(bool noResponse);
    bool retransmit() const;
    void setRetransmit(bool retransmit);
    QErfc::ResponseCode responseCode() const;
    void setResponseCode(QErfc::ResponseCode code);
    QByteArray& payload();
    const QByteArray& payload() const;
    void setPayload(const QByteArray& payload);
    // Monotonic milliseconds of the last transmission (or of arrival).
    qint64 sendTime() const;
    void setSendTime(qint64 msecs);
    bool crcError() const;
    void setCrcError(bool error);
    QErfcInterface* interface() const;
    void setInterface(QErfcInterface* link);
    quint8 retries() const;
    void setRetries(quint8 retries);
    quint8 retransmissions() const;
    void setRetransmissions(quint8 count);
    quint8 timeout() const;
    void setTimeout(quint8 timeout);
    // Where the frame stands among the frames this process queued (larger:
    // queued later). A frame cannot reach a link's wire before the frames
    // queued ahead of it on that link.
    quint64 linkOrder() const;
    void setLinkOrder(quint64 order);

    // The request whose answer this frame waits for; null when there is none
    // or it has been destroyed meanwhile.
    QErfcRequest* request() const;
    void setRequest(QErfcRequest* request);
    bool hasRequest() const;
    // Completes the carried request, if it still exists, with an answer made
    // from these values while the request is guarded against destruction.
    bool completeRequest(quint8 address, quint8 functionId, QErfc::ResponseCode code,
                         const QByteArray& payload) const;

private:
    std::unique_ptr<QErfcMsgPrivate> d;
};

#endif // QERFCMSG_H
