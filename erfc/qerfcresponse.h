#ifndef QERFCRESPONSE_H
#define QERFCRESPONSE_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class QErfcResponsePrivate;

// The answer a function handler fills in for an incoming request; the response
// code travels beside it.
class QErfcResponse : public QObject
{
    Q_OBJECT
public:
    explicit QErfcResponse(QObject* parent = nullptr);
    explicit QErfcResponse(const QByteArray& payload, QObject* parent = nullptr);
    QErfcResponse(const QErfcResponse& other);
    QErfcResponse& operator=(const QErfcResponse& other);
    ~QErfcResponse() override;

    QByteArray& payload();
    const QByteArray& payload() const;
    void setPayload(const QByteArray& payload);
    // Stores the text's Latin-1 bytes.
    void setPayload(const QString& payload);

private:
    std::unique_ptr<QErfcResponsePrivate> d;
};

Q_DECLARE_METATYPE(QErfcResponse)

#endif // QERFCRESPONSE_H
