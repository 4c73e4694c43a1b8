#ifndef QERFCDEVICE_H
#define QERFCDEVICE_H

#include <QObject>

class QIODevice;

// The connection device behind a stream link: opens and closes a byte stream.
class QErfcDevice : public QObject
{
    Q_OBJECT
public:
    explicit QErfcDevice(QObject* parent = nullptr);
    ~QErfcDevice() override;

public slots:
    // Opens the stream, ready for reading and writing; null on failure. The
    // returned object lives on the calling thread.
    virtual QIODevice* open() = 0;
    virtual void close() = 0;

signals:
    // The stream went away by itself (for instance the TCP peer disconnected).
    void deviceClosed();
};

#endif // QERFCDEVICE_H
