#include "qerfcdatagram.h"

class QErfcDatagramPrivate
{
public:
    quint8 m_address = 0;
    quint8 m_functionId = 0;
    QByteArray m_payload;
};

QErfcDatagram::QErfcDatagram(QObject* parent)
    : QObject(parent)
    , d(new QErfcDatagramPrivate)
{
}

QErfcDatagram::QErfcDatagram(quint8 address, quint8 functionId, QObject* parent)
    : QErfcDatagram(parent)
{
    d->m_address = address;
    d->m_functionId = functionId;
}

QErfcDatagram::QErfcDatagram(quint8 address, quint8 functionId, const QByteArray& payload,
                             QObject* parent)
    : QErfcDatagram(address, functionId, parent)
{
    d->m_payload = payload;
}

QErfcDatagram::~QErfcDatagram() = default;

void QErfcDatagram::setAddress(quint8 address) { d->m_address = address; }
quint8 QErfcDatagram::address() const { return d->m_address; }
void QErfcDatagram::setFunctionId(quint8 functionId) { d->m_functionId = functionId; }
quint8 QErfcDatagram::functionId() const { return d->m_functionId; }
QByteArray& QErfcDatagram::payload() { return d->m_payload; }
const QByteArray& QErfcDatagram::payload() const { return d->m_payload; }
void QErfcDatagram::setPayload(const QByteArray& payload) { d->m_payload = payload; }
void QErfcDatagram::setPayload(const QString& payload) { d->m_payload = payload.toLatin1(); }
