#ifndef QERFCCRYPTO_H
#define QERFCCRYPTO_H

#include <QByteArray>
#include <QObject>

// Payload cipher hook: applied by the frame codec to frames whose function or
// event id is above 15. No cipher is installed by default.
class QErfcCrypto : public QObject
{
    Q_OBJECT
public:
    explicit QErfcCrypto(QObject* parent = nullptr);
    ~QErfcCrypto() override;

    virtual void encrypt(quint32 header, const QByteArray& plain, QByteArray* out) = 0;
    // False when the payload cannot be decrypted.
    virtual bool decrypt(quint32 header, const QByteArray& raw, QByteArray* out) = 0;
};

#endif // QERFCCRYPTO_H
