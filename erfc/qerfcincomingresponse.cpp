#include "qerfcincomingresponse.h"
#include "qerfcrequest.h"

class QErfcIncomingResponsePrivate
{
public:
    quint8 m_address = 0;
    quint8 m_functionId = 0;
    QErfc::ResponseCode m_code = QErfc::OK;
    QByteArray m_payload;
    QErfcRequest* m_request = nullptr;
    QVariant m_userData;
    bool m_null = true;
};

QErfcIncomingResponse::QErfcIncomingResponse(QObject* parent)
    : QObject(parent)
    , d(new QErfcIncomingResponsePrivate)
{
}

QErfcIncomingResponse::QErfcIncomingResponse(quint8 address, quint8 functionId,
                                             QErfc::ResponseCode code,
                                             const QByteArray& payload,
                                             QErfcRequest* request, QObject* parent)
    : QObject(parent)
    , d(new QErfcIncomingResponsePrivate)
{
    d->m_address = address;
    d->m_functionId = functionId;
    d->m_code = code;
    d->m_payload = payload;
    d->m_request = request;
    // Taken now, while the request is known to be alive: the answer may outlive it.
    if (request)
        d->m_userData = request->userData();
    d->m_null = false;
}

QErfcIncomingResponse::QErfcIncomingResponse(const QErfcIncomingResponse& other)
    : QObject(other.parent())
    , d(new QErfcIncomingResponsePrivate(*other.d))
{
}

QErfcIncomingResponse& QErfcIncomingResponse::operator=(const QErfcIncomingResponse& other)
{
    *d = *other.d;
    return *this;
}

QErfcIncomingResponse::~QErfcIncomingResponse() = default;

quint8 QErfcIncomingResponse::address() const { return d->m_address; }
quint8 QErfcIncomingResponse::functionId() const { return d->m_functionId; }
QErfc::ResponseCode QErfcIncomingResponse::responseCode() const { return d->m_code; }
QString QErfcIncomingResponse::responseCodeString() const { return QErfc::responseCodeString(d->m_code); }
QByteArray& QErfcIncomingResponse::payload() { return d->m_payload; }
const QByteArray& QErfcIncomingResponse::payload() const { return d->m_payload; }
QErfcRequest* QErfcIncomingResponse::request() const { return d->m_request; }
QVariant QErfcIncomingResponse::userData() const { return d->m_userData; }
bool QErfcIncomingResponse::isNull() const { return d->m_null; }
