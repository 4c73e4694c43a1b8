#include "qerfcstreaminterface_p.h"
#include "qerfcdevice.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QIODevice>
#include <QThread>
#include <QVariant>

namespace {
// How long transmit keeps offering bytes to a stream that takes none.
constexpr qint64 transmitBoundMs = 100;
constexpr int transmitWaitMs = 10;
// What a stream without a baud rate may hold that it has not passed on yet.
// A TCP socket takes every write into its own buffer however long the peer
// has stopped reading; above this, a frame waits like on a slow serial line.
constexpr qint64 maxUnsentBytes = 32 * 1024;
constexpr qint64 maxReadBytes = 64 * 1024;
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

void QErfcStreamInterfacePrivate::waitForBytesWritten(QIODevice* stream)
{
    auto* socket = qobject_cast<QAbstractSocket*>(stream);
    if (!socket) {
        stream->waitForBytesWritten(transmitWaitMs);
        return;
    }
    // A socket's own wait also reads and emits readyRead, which would
    // re-enter the stack from inside this write: hand the system what it
    // takes now, and pause when it takes nothing.
    if (!socket->flush())
        QThread::msleep(transmitWaitMs);
}

void QErfcStreamInterfacePrivate::markStalled()
{
    if (m_stalled)
        return;
    m_stalled = true;
    // transmit runs on the stack thread under the stack's link lock: the
    // signal goes out from the interface's own thread instead.
    QErfcStreamInterface* q = m_interface;
    QMetaObject::invokeMethod(q, [q] { emit q->stalled(); }, Qt::QueuedConnection);
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
    d->m_stalled = false;
    d->m_stream = stream;
    // A serial port tells its baud rate (8N1: ten bit times per byte).
    const QVariant baud = stream->property("baudRate");
    d->m_byteRate = baud.isValid() ? qMax(0, baud.toInt() / 10) : 0;
    // A socket reads from the system no more than this per turn of the
    // event loop: what a flooding peer sends beyond it waits in the system,
    // and the frames of one read are answered before the next is taken.
    if (auto* socket = qobject_cast<QAbstractSocket*>(stream))
        socket->setReadBufferSize(maxReadBytes);
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
    d->m_stalled = false;
}

bool QErfcStreamInterface::transmit(const QByteArray& frame)
{
    QIODevice* stream = d->m_stream;
    if (!stream || !stream->isOpen())
        return false;

    const QByteArray out = QErfcFrameStuffing::stuff(frame);
    // A serial port passes on what it holds at its baud rate. Any other
    // stream counts what it holds beyond maxUnsentBytes as not yet written,
    // and a frame goes to it whole or not at all.
    const bool capped = d->m_byteRate == 0;
    const char* data = out.constData();
    qint64 left = out.size();
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        if (!capped || stream->bytesToWrite() + left <= maxUnsentBytes) {
            const qint64 written = stream->write(data, left);
            if (written < 0)
                return false;
            data += written;
            left -= written;
            if (left == 0)
                break;
        }
        // Once a link has stalled, a frame it cannot take is dropped at once:
        // waiting out the bound for every frame would hold up the stack
        // thread's other work for as long as the peer reads nothing.
        const bool stalledAlready = capped && d->m_stalled && left == out.size();
        if (stalledAlready || elapsed.elapsed() >= transmitBoundMs) {
            if (capped)
                d->markStalled();
            return false;
        }
        d->waitForBytesWritten(stream);
        if (!stream->isOpen())
            return false;
    }
    // Hand the bytes to the operating system now rather than at the next
    // event-loop turn, so that frames leave promptly.
    if (auto* socket = qobject_cast<QAbstractSocket*>(stream))
        socket->flush();
    // A stall ends once the link has passed on all it held: a peer that
    // takes a little now and then is still stalled, and is reported once.
    if (!capped || stream->bytesToWrite() == 0)
        d->m_stalled = false;
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
