#include "qerfcincomingrequest.h"

class QErfcIncomingRequestPrivate
{
public:
    quint8 m_address = 0;
    quint8 m_functionId = 0;
    QErfc::Privilege m_privilege = QErfc::User;
    QByteArray m_payload;
};

QErfcIncomingRequest::QErfcIncomingRequest(QObject* parent)
    : QObject(parent)
    , d(new QErfcIncomingRequestPrivate)
{
}

QErfcIncomingRequest::QErfcIncomingRequest(quint8 address, quint8 functionId,
                                           QErfc::Privilege privilege,
                                           const QByteArray& payload, QObject* parent)
    : QObject(parent)
    , d(new QErfcIncomingRequestPrivate)
{
    d->m_address = address;
    d->m_functionId = functionId;
    d->m_privilege = privilege;
    d->m_payload = payload;
}

QErfcIncomingRequest::QErfcIncomingRequest(const QErfcIncomingRequest& other)
    : QObject(other.parent())
    , d(new QErfcIncomingRequestPrivate(*other.d))
{
}

QErfcIncomingRequest& QErfcIncomingRequest::operator=(const QErfcIncomingRequest& other)
{
    *d = *other.d;
    return *this;
}

QErfcIncomingRequest::~QErfcIncomingRequest() = default;

quint8 QErfcIncomingRequest::address() const { return d->m_address; }
quint8 QErfcIncomingRequest::functionId() const { return d->m_functionId; }
QErfc::Privilege QErfcIncomingRequest::privilege() const { return d->m_privilege; }
QByteArray& QErfcIncomingRequest::payload() { return d->m_payload; }
const QByteArray& QErfcIncomingRequest::payload() const { return d->m_payload; }
