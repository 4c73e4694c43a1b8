#ifndef ERFCDEVICE_H
#define ERFCDEVICE_H

#include "qerfcdevice.h"

// The application's connection device. open() and close() run on the stack's
// own thread (inside the stream link's bind and release); the device object
// itself lives on the GUI thread.
class ErfcDevice : public QErfcDevice
{
    Q_OBJECT
public:
    explicit ErfcDevice(QObject* parent = nullptr);
    ~ErfcDevice() override;

signals:
    // A readable reason why open() failed, or why an open stream stopped;
    // emitted on the thread that called open(), so GUI receivers get it
    // queued.
    void error(const QString& message);
};

#endif // ERFCDEVICE_H
