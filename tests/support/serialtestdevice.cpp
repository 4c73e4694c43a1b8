#include "serialtestdevice.h"

SerialTestDevice::SerialTestDevice(const QString& portName, qint32 baudRate, QObject* parent)
    : QErfcDevice(parent)
    , m_portName(portName)
    , m_baudRate(baudRate)
{
}

SerialTestDevice::~SerialTestDevice()
{
    close();
}

QIODevice* SerialTestDevice::open()
{
    close();
    auto* port = new QSerialPort;
    port->setPortName(m_portName);
    if (!port->open(QIODevice::ReadWrite)) {
        m_error = port->errorString();
        delete port;
        return nullptr;
    }
    // A pseudo-terminal refuses some of these; the bytes flow all the same.
    port->setBaudRate(m_baudRate);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    // The far end going away shows as a resource error; reported from the
    // event loop, after the port has finished its own signal.
    connect(port, &QSerialPort::errorOccurred, port,
            [this](QSerialPort::SerialPortError error) {
                if (error == QSerialPort::ResourceError)
                    emit deviceClosed();
            },
            Qt::QueuedConnection);
    m_port = port;
    return port;
}

void SerialTestDevice::close()
{
    if (!m_port)
        return;
    QSerialPort* port = m_port;
    m_port = nullptr;
    port->disconnect();
    port->close();
    delete port;
}
