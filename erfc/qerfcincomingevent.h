#ifndef QERFCINCOMINGEVENT_H
#define QERFCINCOMINGEVENT_H

#include "qerfc.h"

#include <QByteArray>
#include <QObject>
#include <memory>

class QErfcIncomingEventPrivate;

// An event received from a subscribed node: a copyable value.
class QErfcIncomingEvent : public QObject
{
    Q_OBJECT
public:
    explicit QErfcIncomingEvent(QObject* parent = nullptr);
    QErfcIncomingEvent(quint8 address, quint8 eventId, QErfc::Privilege privilege,
                       const QByteArray& payload, QObject* parent = nullptr);
    QErfcIncomingEvent(const QErfcIncomingEvent& other);
    QErfcIncomingEvent& operator=(const QErfcIncomingEvent& other);
    ~QErfcIncomingEvent() override;

    quint8 address() const;
    quint8 eventId() const;
    QErfc::Privilege privilege() const;
    QByteArray& payload();
    const QByteArray& payload() const;
    // True for a default-constructed (empty) event.
    bool isNull() const;

private:
    std::unique_ptr<QErfcIncomingEventPrivate> d;
};

Q_DECLARE_METATYPE(QErfcIncomingEvent)

#endif // QERFCINCOMINGEVENT_H
