#include "qerfcstreaminterface_p.h"
#include "qerfcdevice.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QIODevice>
#include <QVariant>

namespace {
// How long transmit keeps offering bytes to a stream that takes none.
constexpr qint64 transmitBoundMs = 100;
constexpr int transmitWaitMs = 10;
}

QByteArray QErfcFrameStuffing::stuff(const QByteArray& frame)
{
    QByteArray out;
    out.reserve(2 + 2 * frame.size());
    out.append(Start);
    for (const char byte : frame) {
        if (byte == Start || byte == End || byte == Escape) {
            out.append(Escape);
            out.append(char(byte | 0x10));
        } else {
            out.append(byte);
        }
    }
    out.append(End);
    return out;
}

void QErfcFrameStuffing::reset()
{
    m_state = Hunting;
    m_buffer.clear();
}

QErfcStreamInterfacePrivate::QErfcStreamInterfacePrivate(QErfcDevice* device,
                                                         QErfcStreamInterface* q)
    : QObject(q)
    , m_device(device)
    , m_interface(q)
{
    if (device)
        connect(device, &QErfcDevice::deviceClosed, this, &QErfcStreamInterfacePrivate::onDeviceClosed);
}

void QErfcStreamInterfacePrivate::onReadyRead()
{
    if (!m_stream)
        return;
    const QByteArray bytes = m_stream->readAll();
    m_receiver.feed(bytes.constData(), bytes.size(), [this](const QByteArray& frame) {
        emit m_interface->frameReceived(frame);
    });
}

void QErfcStreamInterfacePrivate::onDeviceClosed()
{
    emit m_interface->releaseInterface(m_interface);
}

QErfcStreamInterface::QErfcStreamInterface(QErfcDevice* device, QObject* parent)
    : QErfcInterface(parent)
    , d(new QErfcStreamInterfacePrivate(device, this))
{
}

QErfcStreamInterface::~QErfcStreamInterface() = default;

bool QErfcStreamInterface::bind()
{
    if (!d->m_device)
        return false;
    QIODevice* stream = d->m_device->open();
    if (!stream)
        return false;
    // A partial frame of an earlier connection must not be glued onto this one.
    d->m_receiver.reset();
    d->m_stream = stream;
    // A serial port tells its baud rate (8N1: ten bit times per byte).
    const QVariant baud = stream->property("baudRate");
    d->m_byteRate = baud.isValid() ? qMax(0, baud.toInt() / 10) : 0;
    // Direct: bytes are handled on the thread that owns the stream.
    connect(stream, &QIODevice::readyRead, d, &QErfcStreamInterfacePrivate::onReadyRead,
            Qt::DirectConnection);
    return true;
}

void QErfcStreamInterface::release()
{
    if (d->m_stream)
        disconnect(d->m_stream, &QIODevice::readyRead, d, &QErfcStreamInterfacePrivate::onReadyRead);
    if (d->m_device)
        d->m_device->close();
    d->m_stream = nullptr;
    d->m_byteRate = 0;
}

bool QErfcStreamInterface::transmit(const QByteArray& frame)
{
    QIODevice* stream = d->m_stream;
    if (!stream || !stream->isOpen())
        return false;

    const QByteArray out = QErfcFrameStuffing::stuff(frame);
    const char* data = out.constData();
    qint64 left = out.size();
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        const qint64 written = stream->write(data, left);
        if (written < 0)
            return false;
        data += written;
        left -= written;
        if (left == 0)
            break;
        if (elapsed.elapsed() >= transmitBoundMs)
            return false;
        stream->waitForBytesWritten(transmitWaitMs);
    }
    // Hand the bytes to the operating system now rather than at the next
    // event-loop turn, so that frames leave promptly.
    if (auto* socket = qobject_cast<QAbstractSocket*>(stream))
        socket->flush();
    return true;
}

QErfcDevice* QErfcStreamInterface::device()
{
    return d->m_device;
}

qint32 QErfcStreamInterface::byteRate() const
{
    return d->m_byteRate.load();
}
