#ifndef SERIALTESTDEVICE_H
#define SERIALTESTDEVICE_H

#include "qerfcdevice.h"

#include <QPointer>
#include <QSerialPort>

// A connection device over a serial port (8N1, no flow control), for the
// test node and the serial end-to-end tests. open() creates the port on the
// calling thread; close() must run on that thread too.
class SerialTestDevice : public QErfcDevice
{
    Q_OBJECT
public:
    SerialTestDevice(const QString& portName, qint32 baudRate, QObject* parent = nullptr);
    ~SerialTestDevice() override;

    QString errorString() const { return m_error; }

public slots:
    QIODevice* open() override;
    void close() override;

private:
    QString m_portName;
    qint32 m_baudRate;
    QString m_error;
    QPointer<QSerialPort> m_port;
};

#endif // SERIALTESTDEVICE_H
