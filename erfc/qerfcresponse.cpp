#include "qerfcresponse.h"

class QErfcResponsePrivate
{
public:
    QByteArray m_payload;
};

QErfcResponse::QErfcResponse(QObject* parent)
    : QObject(parent)
    , d(new QErfcResponsePrivate)
{
}

QErfcResponse::QErfcResponse(const QByteArray& payload, QObject* parent)
    : QObject(parent)
    , d(new QErfcResponsePrivate)
{
    d->m_payload = payload;
}

QErfcResponse::QErfcResponse(const QErfcResponse& other)
    : QObject(other.parent())
    , d(new QErfcResponsePrivate(*other.d))
{
}

QErfcResponse& QErfcResponse::operator=(const QErfcResponse& other)
{
    *d = *other.d;
    return *this;
}

QErfcResponse::~QErfcResponse() = default;

QByteArray& QErfcResponse::payload() { return d->m_payload; }
const QByteArray& QErfcResponse::payload() const { return d->m_payload; }
void QErfcResponse::setPayload(const QByteArray& payload) { d->m_payload = payload; }
void QErfcResponse::setPayload(const QString& payload) { d->m_payload = payload.toLatin1(); }
