#ifndef SERIALDEVICE_H
#define SERIALDEVICE_H

#include "erfcdevice.h"

#include <QPointer>

class QSerialPort;

// A connection device over a serial port: 8 data bits, no parity, one stop
// bit, no flow control, DTR and RTS off. The port is created by open() on the
// calling thread and belongs to that thread until close() deletes it.
class SerialDevice : public ErfcDevice
{
    Q_OBJECT
public:
    SerialDevice(const QString& portName, qint32 baudRate, QObject* parent = nullptr);
    ~SerialDevice() override;

    QString portName() const { return m_portName; }
    qint32 baudRate() const { return m_baudRate; }

public slots:
    // The open port, or null after emitting error("Can't open device").
    QIODevice* open() override;
    // Writes out what is still buffered (bounded), then closes and deletes
    // the port. Does nothing without a port.
    void close() override;

private:
    QString m_portName;
    qint32 m_baudRate;
    QPointer<QSerialPort> m_port;
};

#endif // SERIALDEVICE_H
