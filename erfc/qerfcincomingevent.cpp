#include "qerfcincomingevent.h"

class QErfcIncomingEventPrivate
{
public:
    quint8 m_address = 0;
    quint8 m_eventId = 0;
    QErfc::Privilege m_privilege = QErfc::User;
    QByteArray m_payload;
    bool m_null = true;
};

QErfcIncomingEvent::QErfcIncomingEvent(QObject* parent)
    : QObject(parent)
    , d(new QErfcIncomingEventPrivate)
{
}

QErfcIncomingEvent::QErfcIncomingEvent(quint8 address, quint8 eventId,
                                       QErfc::Privilege privilege,
                                       const QByteArray& payload, QObject* parent)
    : QObject(parent)
    , d(new QErfcIncomingEventPrivate)
{
    d->m_address = address;
    d->m_eventId = eventId;
    d->m_privilege = privilege;
    d->m_payload = payload;
    d->m_null = false;
}

QErfcIncomingEvent::QErfcIncomingEvent(const QErfcIncomingEvent& other)
    : QObject(other.parent())
    , d(new QErfcIncomingEventPrivate(*other.d))
{
}

QErfcIncomingEvent& QErfcIncomingEvent::operator=(const QErfcIncomingEvent& other)
{
    *d = *other.d;
    return *this;
}

QErfcIncomingEvent::~QErfcIncomingEvent() = default;

quint8 QErfcIncomingEvent::address() const { return d->m_address; }
quint8 QErfcIncomingEvent::eventId() const { return d->m_eventId; }
QErfc::Privilege QErfcIncomingEvent::privilege() const { return d->m_privilege; }
QByteArray& QErfcIncomingEvent::payload() { return d->m_payload; }
const QByteArray& QErfcIncomingEvent::payload() const { return d->m_payload; }
bool QErfcIncomingEvent::isNull() const { return d->m_null; }
