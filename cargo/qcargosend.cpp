#include "qcargosend_p.h"
#include "qcargo_p.h"
#include "qcargoframe.h"

#include "qerfcdatagram.h"
#include "qerfcexception.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"

#include <QDeadlineTimer>

namespace {

qint64 nowMicros()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs() / 1000;
}

} // namespace

QCargoSend::QCargoSend(QCargoPrivate* owner)
    : d(owner)
{
}

void QCargoSend::append(const char* data, qint64 length)
{
    QMutexLocker lock(&m_bufferLock);
    if (m_buffer.isEmpty())
        m_sent = 0;
    m_buffer.append(data, int(length));
}

void QCargoSend::clear()
{
    QMutexLocker lock(&m_bufferLock);
    ++m_clears;
    m_buffer.clear();
}

bool QCargoSend::isEmpty() const
{
    QMutexLocker lock(&m_bufferLock);
    return m_buffer.isEmpty();
}

qint64 QCargoSend::size() const
{
    QMutexLocker lock(&m_bufferLock);
    return m_buffer.size();
}

bool QCargoSend::mustStop() const
{
    return d->stopping.load() || !d->isConnected() || d->connection.load() != m_connection;
}

void QCargoSend::onTransmitData()
{
    if (d->stopping.load() || !d->isConnected())
        return; // the bytes stay in the buffer
    d->transmitGate.acquire();
    m_connection = d->connection.load();

    QByteArray data;
    quint64 clears;
    {
        QMutexLocker lock(&m_bufferLock);
        data = m_buffer;
        clears = m_clears;
    }
    if (data.isEmpty() || !d->isConnected()) {
        // An earlier transmission took these bytes already: no empty window.
        d->transmitGate.release();
        return;
    }

    const qint64 total = data.size();
    qint64 offset = 0;
    qint64 restart = -1;
    bool failed = false;
    while (offset < total && !mustStop()) {
        const int window = qMin<int>(d->peerWindow.load(), d->windowCap());
        const int n = int(qMin<qint64>(window, total - offset));
        // No usable window, or a missing offset outside the window: the peer
        // broke the protocol, and the transmission cannot go on.
        if (n <= 0 || restart >= n) {
            failed = true;
            break;
        }
        if (sendWindow(QByteArray::fromRawData(data.constData() + offset, n), restart) == WindowFailed) {
            failed = true;
            break;
        }
        if (mustStop())
            break;
        if (d->windowEvent.is(QCargoEvent::MissingReceived)) {
            restart = d->windowEvent.missingOffset();
            ++d->windowRestarts;
            continue;
        }
        offset += n;
        restart = -1;
        ++d->windowsSent;
        qint64 sent, buffered;
        {
            QMutexLocker lock(&m_bufferLock);
            m_sent += n;
            sent = m_sent;
            buffered = m_buffer.size();
        }
        emit transactionProgress(sent, buffered);
    }
    if (offset >= total)
        d->windowEvent.set(QCargoEvent::Idle);
    // Only a failure on this very connection ends it (a new one may run).
    if (failed && !d->stopping.load() && d->connection.load() == m_connection)
        d->goDisconnected();

    bool empty;
    {
        QMutexLocker lock(&m_bufferLock);
        // A clear meanwhile took these bytes with it; what was written since
        // belongs to later transmissions.
        if (m_clears == clears)
            m_buffer.remove(0, int(offset));
        empty = m_buffer.isEmpty();
    }
    emit bytesWritten(offset);
    d->writtenWake.wakeAll();
    if (empty && !mustStop())
        emit finished();
    d->transmitGate.release();
}

QCargoSend::WindowResult QCargoSend::sendWindow(const QByteArray& window, qint64 restart)
{
    const int n = window.size();
    int start = restart >= 0 ? int(restart) : 0;
    m_sequence = 0;
    d->windowEvent.set(QCargoEvent::Sending);
    bool first = true;
    for (;;) {
        const int length = qMin<int>(QCargoFrame::MaxBlock, n - start);
        // After a gap the window starts again from the receiver's offset,
        // its first block confirmed: that ends the receiver's wait for it.
        if (!sendBlock(window.constData() + start, length, restart >= 0 && first))
            return mustStop() ? WindowDone : WindowFailed;
        m_sequence = quint8((m_sequence + 1) % QCargoFrame::Sequences);
        first = false;
        if (mustStop() || d->windowEvent.is(QCargoEvent::MissingReceived))
            return WindowDone;
        start += length;
        if (start >= n)
            break;
    }

    holdForLine();
    // A missing that came in while the last blocks went out stays: the
    // window then starts again instead of waiting for an answer that never comes.
    if (!d->windowEvent.testAndSet(QCargoEvent::Sending, QCargoEvent::AwaitingAck))
        return WindowDone;
    if (!sendEndOfWindow())
        return mustStop() ? WindowDone : WindowFailed;
    m_sequence = quint8((m_sequence + 1) % QCargoFrame::Sequences);

    const QDeadlineTimer deadline(d->ackTimeoutMs.load());
    const QCargoEvent::Event event = d->windowEvent.waitWhile(QCargoEvent::AwaitingAck, deadline,
                                                              [this] { return mustStop(); });
    return event != QCargoEvent::AwaitingAck || mustStop() ? WindowDone : WindowFailed;
}

bool QCargoSend::sendBlock(const char* data, int length, bool confirmed)
{
    const QByteArray payload = QCargoFrame::block(m_sequence, data, length, confirmed);
    try {
        if (!confirmed) {
            QErfcDatagram datagram(d->remoteAddress.load(), d->remoteFunctionId.load(), payload);
            if (!d->stack->send(&datagram))
                return false;
            noteQueued(length);
            return true;
        }
        holdForLine();
        QErfcRequest request(d->remoteAddress.load(), d->remoteFunctionId.load(), payload);
        request.setRetries(d->retries(5));
        if (!d->stack->send(&request))
            return false;
        noteQueued(length);
        return d->waitForAnswer(request, [this] { return mustStop(); })
            && request.response().responseCode() == QErfc::OK;
    } catch (const QErfcException&) {
        return false;
    }
}

bool QCargoSend::sendEndOfWindow()
{
    try {
        QErfcRequest request(d->remoteAddress.load(), d->remoteFunctionId.load(),
                             QCargoFrame::endOfWindow(m_sequence));
        request.setRetries(d->retries(10));
        if (!d->stack->send(&request))
            return false;
        noteQueued(0);
        return d->waitForAnswer(request, [this] { return mustStop(); })
            && request.response().responseCode() == QErfc::OK;
    } catch (const QErfcException&) {
        return false;
    }
}

void QCargoSend::noteQueued(int dataBytes)
{
    const qint64 frameUs = d->frameWireMicros(dataBytes);
    if (frameUs == 0)
        return;
    m_lineFreeAtUs = qMax(m_lineFreeAtUs, nowMicros()) + frameUs;
}

void QCargoSend::holdForLine()
{
    if (d->lineRate() == 0)
        return;
    const qint64 waitUs = m_lineFreeAtUs - qint64(QCargoPrivate::HoldMarginMs) * 1000 - nowMicros();
    if (waitUs <= 0)
        return;
    QDeadlineTimer deadline(Qt::PreciseTimer);
    deadline.setPreciseRemainingTime(0, waitUs * 1000, Qt::PreciseTimer);
    d->windowEvent.waitWhile(QCargoEvent::Sending, deadline, [this] { return mustStop(); });
}
