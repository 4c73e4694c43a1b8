#include "serialdevice.h"

#include <QDeadlineTimer>
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

// Errors of a read or write on an open port. The port keeps retrying the
// failed call every time the system reports the line ready, which a line
// that has gone does at once, again and again: the port must be stopped.
// Other errors come from settings, waits and opening, and leave the line
// usable.
bool isLineLost(QSerialPort::SerialPortError code)
{
    switch (code) {
    case QSerialPort::ResourceError:
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        return true;
    default:
        return false;
    }
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
    // Direct: the port reports on its own thread, where it has to be stopped.
    connect(port, &QSerialPort::errorOccurred, this,
            [this, port](QSerialPort::SerialPortError code) { onPortError(port, code); },
            Qt::DirectConnection);
    return port;
}

void SerialDevice::onPortError(QSerialPort* port, QSerialPort::SerialPortError code)
{
    // A port being closed by close() may still report its last flush.
    if (!isLineLost(code) || port != m_port)
        return;
    // Once per port: it goes on failing until it is closed.
    port->disconnect(this);
    // The port reports from inside its own notifier: it is closed on the
    // next turn of this thread's event loop, not under the notifier's feet.
    // Until close() deletes it the stream stays, closed, so writes to it
    // fail at once.
    QMetaObject::invokeMethod(port, [port] {
        if (port->isOpen())
            port->close();
    }, Qt::QueuedConnection);
    emit error(QStringLiteral("Serial line lost"));
}

void SerialDevice::close()
{
    QSerialPort* port = m_port;
    if (!port)
        return;
    m_port = nullptr;
    dispose(port);
}
