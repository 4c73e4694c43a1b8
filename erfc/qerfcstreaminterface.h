#ifndef QERFCSTREAMINTERFACE_H
#define QERFCSTREAMINTERFACE_H

#include "qerfcinterface.h"

class QErfcStreamInterfacePrivate;

// Carries frames over a byte stream: A0 starts a frame, A5 ends it, and AA
// escapes the three reserved values inside it.
class QErfcStreamInterface : public QErfcInterface
{
    Q_OBJECT
public:
    explicit QErfcStreamInterface(QErfcDevice* device, QObject* parent = nullptr);
    ~QErfcStreamInterface() override;

public slots:
    bool bind() override;
    void release() override;
    bool transmit(const QByteArray& frame) override;
    QErfcDevice* device() override;

public:
    // Bytes per second of the bound stream when it is a serial line (its
    // "baudRate" property, ten bit times per byte); 0 when not known.
    qint32 byteRate() const;

signals:
    // The stream took no bytes for a frame within the write bound and the
    // frame was dropped; so is every frame it cannot take until it has
    // passed on all it held. Emitted once per stall, on this object's own
    // thread.
    void stalled();

private:
    friend class QErfcStreamInterfacePrivate;
    QErfcStreamInterfacePrivate* d;
};

#endif // QERFCSTREAMINTERFACE_H
