#ifndef SERIALDEVICE_H
#define SERIALDEVICE_H

#include "erfcdevice.h"

#include <QPointer>
#include <QSerialPort>

// A connection device over a serial port: 8 data bits, no parity, one stop
// bit, no flow control, DTR and RTS off. The port is created by open() on the
// calling thread and belongs to that thread until close() deletes it.
//
// A port that fails for good while open (the adapter is pulled out, the other
// end of a pseudo-terminal goes away) is closed, and error("Serial line lost")
// is emitted once, on the port's thread. The port object stays until close(),
// so that a later open() (a reconnect) starts afresh.
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
    // On the port's thread, directly from the port.
    void onPortError(QSerialPort* port, QSerialPort::SerialPortError code);

    QString m_portName;
    qint32 m_baudRate;
    QPointer<QSerialPort> m_port;
};

#endif // SERIALDEVICE_H
