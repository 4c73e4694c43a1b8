#ifndef QERFCINCOMINGRESPONSE_H
#define QERFCINCOMINGRESPONSE_H

#include "qerfc.h"

#include <QByteArray>
#include <QObject>
#include <QVariant>
#include <memory>

class QErfcRequest;
class QErfcIncomingResponsePrivate;

// The answer to one of this system's requests: a copyable value.
class QErfcIncomingResponse : public QObject
{
    Q_OBJECT
public:
    explicit QErfcIncomingResponse(QObject* parent = nullptr);
    QErfcIncomingResponse(quint8 address, quint8 functionId, QErfc::ResponseCode code,
                          const QByteArray& payload, QErfcRequest* request,
                          QObject* parent = nullptr);
    QErfcIncomingResponse(const QErfcIncomingResponse& other);
    QErfcIncomingResponse& operator=(const QErfcIncomingResponse& other);
    ~QErfcIncomingResponse() override;

    quint8 address() const;
    quint8 functionId() const;
    QErfc::ResponseCode responseCode() const;
    QString responseCodeString() const;
    QByteArray& payload();
    const QByteArray& payload() const;
    // The request this answers (not owned, may be null or already gone).
    QErfcRequest* request() const;
    // The user data the request carried when this answer was made.
    QVariant userData() const;
    // True for a default-constructed (empty) answer.
    bool isNull() const;

private:
    std::unique_ptr<QErfcIncomingResponsePrivate> d;
};

Q_DECLARE_METATYPE(QErfcIncomingResponse)

#endif // QERFCINCOMINGRESPONSE_H
