#include "serialdevice.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QThread>

namespace {

// How long close() waits for buffered bytes to leave.
constexpr int drainBoundMs = 500;

// Closes and deletes a port. The port must only be touched on its own thread;
// called from any other thread it is handed to that thread's event loop.
void dispose(QSerialPort* port)
{
    if (port->thread() != QThread::currentThread()) {
        port->deleteLater();
        return;
    }
    if (port->isOpen()) {
        port->flush();
        const QDeadlineTimer deadline(drainBoundMs);
        while (port->bytesToWrite() > 0 && !deadline.hasExpired()) {
            if (!port->waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
                break;
        }
        port->close();
    }
    delete port;
}

} // namespace

SerialDevice::SerialDevice(const QString& portName, qint32 baudRate, QObject* parent)
    : ErfcDevice(parent)
    , m_portName(portName)
    , m_baudRate(baudRate)
{
}

SerialDevice::~SerialDevice()
{
    // Normally close() has already run on the port's thread.
    if (QSerialPort* port = m_port) {
        m_port = nullptr;
        port->disconnect(this);
        dispose(port);
    }
}

QIODevice* SerialDevice::open()
{
    close();
    // No parent: the port lives on the calling (stack) thread.
    auto* port = new QSerialPort(m_portName);
    m_port = port;
    if (!port->open(QIODevice::ReadWrite)) {
        emit error(QStringLiteral("Can't open device"));
        return nullptr;
    }
    // A pseudo-terminal refuses some of these settings; its bytes flow anyway.
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setBaudRate(m_baudRate, QSerialPort::AllDirections);
    port->setDataTerminalReady(false);
    port->setRequestToSend(false);
    return port;
}

void SerialDevice::close()
{
    QSerialPort* port = m_port;
    if (!port)
        return;
    m_port = nullptr;
    dispose(port);
}
