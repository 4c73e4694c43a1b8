#ifndef QERFCEVENTCONNECT_H
#define QERFCEVENTCONNECT_H

#include "qerfc.h"
#include "qerfcincomingevent.h"

#include <QObject>
#include <QVariant>
#include <memory>

class QErfcEventConnectPrivate;

// A subscription to one event of one remote node, with its state and waits.
// The stack delivers events and state changes on its thread. The object may
// be deleted at any time, also from one of its own signals on any thread:
// the stack then delivers nothing more to it.
class QErfcEventConnect : public QObject
{
    Q_OBJECT
public:
    explicit QErfcEventConnect(QObject* parent = nullptr);
    QErfcEventConnect(quint8 address, quint8 eventId, QObject* parent = nullptr);
    QErfcEventConnect(quint8 address, quint8 eventId, quint32 deliveryType,
                      QObject* parent = nullptr);
    QErfcEventConnect(quint8 address, quint8 eventId, quint32 deliveryType, quint8 retries,
                      QObject* parent = nullptr);
    ~QErfcEventConnect() override;

    void setAddress(quint8 address);
    quint8 address() const;
    void setEventId(quint8 eventId);
    quint8 eventId() const;
    void setRetries(quint8 retries);
    quint8 retries() const;
    void setTimeout(quint8 timeout);
    quint8 timeout() const;
    void setDeliveryType(quint32 deliveryType);
    quint32 deliveryType() const;
    void setUserData(const QVariant& data);
    QVariant userData() const;

    QErfc::EventState state() const;
    QErfcIncomingEvent lastEvent() const;

    // Blocks while disconnected; returns once connected or in error.
    void waitForConnected();
    // The same with a bound; false when msecs passed first (negative: no bound).
    bool waitForConnected(int msecs);
    // Blocks while connected; returns once disconnected or in error.
    void waitForDisconnected();
    bool waitForDisconnected(int msecs);
    // Waits for the next event (negative: no bound). On time-out the last
    // event is reset to empty and the result is false.
    bool waitForEvent(int timeout);

public slots:
    virtual void onEvent(const QErfcIncomingEvent& event);
    virtual void setState(QErfc::EventState state);

signals:
    void callSignal(QErfcIncomingEvent event);
    void stateChangedSignal(QErfc::EventState state);
    void connected();
    void disconnected();
    void error();

private:
    friend class QErfcEventConnectPrivate;
    Q_DISABLE_COPY(QErfcEventConnect)
    std::unique_ptr<QErfcEventConnectPrivate> d;
};

Q_DECLARE_METATYPE(QErfcEventConnect*)

#endif // QERFCEVENTCONNECT_H
