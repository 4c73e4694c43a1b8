#ifndef QERFCEMITEVENT_H
#define QERFCEMITEVENT_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class QErfcEmitEventPrivate;

// An event the PC sends to the subscribers of one of its own events.
class QErfcEmitEvent : public QObject
{
    Q_OBJECT
public:
    explicit QErfcEmitEvent(QObject* parent = nullptr);
    explicit QErfcEmitEvent(quint8 eventId, QObject* parent = nullptr);
    QErfcEmitEvent(quint8 eventId, const QByteArray& payload, QObject* parent = nullptr);
    ~QErfcEmitEvent() override;

    void setEventId(quint8 eventId);
    quint8 eventId() const;
    QByteArray& payload();
    const QByteArray& payload() const;
    void setPayload(const QByteArray& payload);
    void setPayload(const QString& payload); // Latin-1 bytes

private:
    Q_DISABLE_COPY(QErfcEmitEvent)
    std::unique_ptr<QErfcEmitEventPrivate> d;
};

#endif // QERFCEMITEVENT_H
