#ifndef QERFCDATAGRAM_H
#define QERFCDATAGRAM_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class QErfcDatagramPrivate;

// An outgoing call that gets no answer.
class QErfcDatagram : public QObject
{
    Q_OBJECT
public:
    explicit QErfcDatagram(QObject* parent = nullptr);
    QErfcDatagram(quint8 address, quint8 functionId, QObject* parent = nullptr);
    QErfcDatagram(quint8 address, quint8 functionId, const QByteArray& payload,
                  QObject* parent = nullptr);
    ~QErfcDatagram() override;

    void setAddress(quint8 address);
    quint8 address() const;
    void setFunctionId(quint8 functionId);
    quint8 functionId() const;
    QByteArray& payload();
    const QByteArray& payload() const;
    void setPayload(const QByteArray& payload);
    void setPayload(const QString& payload); // Latin-1 bytes

private:
    Q_DISABLE_COPY(QErfcDatagram)
    std::unique_ptr<QErfcDatagramPrivate> d;
};

#endif // QERFCDATAGRAM_H
