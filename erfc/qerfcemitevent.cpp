#include "qerfcemitevent.h"

class QErfcEmitEventPrivate
{
public:
    quint8 m_eventId = 0;
    QByteArray m_payload;
};

QErfcEmitEvent::QErfcEmitEvent(QObject* parent)
    : QObject(parent)
    , d(new QErfcEmitEventPrivate)
{
}

QErfcEmitEvent::QErfcEmitEvent(quint8 eventId, QObject* parent)
    : QErfcEmitEvent(parent)
{
    d->m_eventId = eventId;
}

QErfcEmitEvent::QErfcEmitEvent(quint8 eventId, const QByteArray& payload, QObject* parent)
    : QErfcEmitEvent(eventId, parent)
{
    d->m_payload = payload;
}

QErfcEmitEvent::~QErfcEmitEvent() = default;

void QErfcEmitEvent::setEventId(quint8 eventId) { d->m_eventId = eventId; }
quint8 QErfcEmitEvent::eventId() const { return d->m_eventId; }
QByteArray& QErfcEmitEvent::payload() { return d->m_payload; }
const QByteArray& QErfcEmitEvent::payload() const { return d->m_payload; }
void QErfcEmitEvent::setPayload(const QByteArray& payload) { d->m_payload = payload; }
void QErfcEmitEvent::setPayload(const QString& payload) { d->m_payload = payload.toLatin1(); }
