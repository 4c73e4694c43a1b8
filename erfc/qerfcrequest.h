#ifndef QERFCREQUEST_H
#define QERFCREQUEST_H

#include "qerfcincomingresponse.h"

#include <QByteArray>
#include <QObject>
#include <QVariant>
#include <memory>

class QErfcRequestPrivate;

// An outgoing request to a node. Owned by its creator; completed exactly once
// per sending by the stack, with the node's answer or with ConnectionError.
class QErfcRequest : public QObject
{
    Q_OBJECT
public:
    explicit QErfcRequest(QObject* parent = nullptr);
    QErfcRequest(quint8 address, quint8 functionId, QObject* parent = nullptr);
    QErfcRequest(quint8 address, quint8 functionId, const QByteArray& payload,
                 QObject* parent = nullptr);
    ~QErfcRequest() override;

    void setAddress(quint8 address);
    quint8 address() const;
    void setFunctionId(quint8 functionId);
    quint8 functionId() const;
    QByteArray& payload();
    const QByteArray& payload() const;
    void setPayload(const QByteArray& payload);
    void setPayload(const QString& payload); // Latin-1 bytes
    void setRetries(quint8 retries);
    quint8 retries() const;
    void setTimeout(quint8 timeout);
    quint8 timeout() const;
    void setNoResponse(bool noResponse);
    bool noResponse() const;
    void setUserData(const QVariant& data);
    QVariant userData() const;

    // A copy of the stored answer; empty until the request is completed.
    QErfcIncomingResponse response() const;

    // Blocks until the request is completed and returns the stored answer.
    // Throws NoResponseEnabled for a request marked no-response.
    const QErfcIncomingResponse& waitForResponse();
    // The same with a bound: false when msecs passed first (negative: no bound).
    bool waitForResponse(int msecs);

public slots:
    // Called by the stack on its thread to complete the request.
    virtual void onResponse(const QErfcIncomingResponse& response);

signals:
    void callSignal(QErfcIncomingResponse response);
    void finished();

private:
    friend class QErfcRequestPrivate;
    Q_DISABLE_COPY(QErfcRequest)
    std::unique_ptr<QErfcRequestPrivate> d;
};

Q_DECLARE_METATYPE(QErfcRequest*)

#endif // QERFCREQUEST_H
