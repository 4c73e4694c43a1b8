#ifndef QERFCINCOMINGREQUEST_H
#define QERFCINCOMINGREQUEST_H

#include "qerfc.h"

#include <QByteArray>
#include <QObject>
#include <memory>

class QErfcIncomingRequestPrivate;

// A request received from a node: a copyable value.
class QErfcIncomingRequest : public QObject
{
    Q_OBJECT
public:
    explicit QErfcIncomingRequest(QObject* parent = nullptr);
    QErfcIncomingRequest(quint8 address, quint8 functionId, QErfc::Privilege privilege,
                         const QByteArray& payload, QObject* parent = nullptr);
    QErfcIncomingRequest(const QErfcIncomingRequest& other);
    QErfcIncomingRequest& operator=(const QErfcIncomingRequest& other);
    ~QErfcIncomingRequest() override;

    quint8 address() const;
    quint8 functionId() const;
    QErfc::Privilege privilege() const;
    QByteArray& payload();
    const QByteArray& payload() const;

private:
    std::unique_ptr<QErfcIncomingRequestPrivate> d;
};

Q_DECLARE_METATYPE(QErfcIncomingRequest)

#endif // QERFCINCOMINGREQUEST_H
