#ifndef QERFCINTERFACE_H
#define QERFCINTERFACE_H

#include <QByteArray>
#include <QObject>

class QErfcDevice;

// A frame link: takes whole encoded frames from the stack and hands received
// frames back to it.
class QErfcInterface : public QObject
{
    Q_OBJECT
public:
    explicit QErfcInterface(QObject* parent = nullptr);
    ~QErfcInterface() override;

public slots:
    virtual bool bind() = 0;
    virtual void release() = 0;
    virtual bool transmit(const QByteArray& frame) = 0;
    virtual QErfcDevice* device() = 0;

signals:
    void frameReceived(QByteArray frame);
    // The link lost its device.
    void releaseInterface(QErfcInterface* interface);
};

Q_DECLARE_METATYPE(QErfcInterface*)

#endif // QERFCINTERFACE_H
