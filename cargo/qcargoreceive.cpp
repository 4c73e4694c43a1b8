#include "qcargoreceive_p.h"
#include "qcargo_p.h"
#include "qcargoframe.h"

#include "qerfcincomingrequest.h"
#include "qerfcresponse.h"
#include "qerfcstack.h"

#include <QAbstractEventDispatcher>

#include <cstring>

QCargoReceive::QCargoReceive(QCargoPrivate* owner)
    : QObject(owner)
    , d(owner)
{
}

void QCargoReceive::reset()
{
    // The buffer keeps what an earlier connection left unread: the reader
    // gets it ahead of the new connection's bytes.
    m_windowOffset = 0;
    m_expected = 0;
    m_resynchronising = false;
}

qint64 QCargoReceive::read(char* data, qint64 maxlen)
{
    QMutexLocker lock(&m_bufferLock);
    const int n = int(qMin<qint64>(maxlen, m_buffer.size()));
    if (n <= 0)
        return 0;
    std::memcpy(data, m_buffer.constData(), size_t(n));
    m_buffer.remove(0, n);
    return n;
}

qint64 QCargoReceive::readLine(char* data, qint64 maxlen)
{
    QMutexLocker lock(&m_bufferLock);
    const int newline = m_buffer.indexOf('\n');
    if (newline < 0 || maxlen <= 0)
        return 0;
    const int n = int(qMin<qint64>(maxlen, newline + 1));
    std::memcpy(data, m_buffer.constData(), size_t(n));
    m_buffer.remove(0, n);
    return n;
}

qint64 QCargoReceive::size() const
{
    QMutexLocker lock(&m_bufferLock);
    return m_buffer.size();
}

bool QCargoReceive::canReadLine() const
{
    QMutexLocker lock(&m_bufferLock);
    return m_buffer.contains('\n');
}

void QCargoReceive::onFunctionCall(QErfcIncomingRequest& request, QErfcResponse& response,
                                   QErfc::ResponseCode& responseCode)
{
    responseCode = QErfc::OK;
    const QByteArray& payload = request.payload();
    if (payload.isEmpty()) {
        responseCode = QErfc::PayloadError;
        return;
    }
    const quint8 header = quint8(payload.at(0));
    const quint8 type = header & QCargoFrame::TypeMask;
    const quint8 sequence = header & QCargoFrame::SequenceMask;
    const bool confirmed = header & QCargoFrame::ConfirmedFlag;
    const QByteArray body = payload.mid(1);
    const QCargo::CargoState state = d->state();

    // Once a peer is chosen, only it speaks on this stream: a stranger may
    // neither feed it nor end a connect in progress.
    if ((state == QCargo::StateConnected || state == QCargo::StateConnecting)
        && request.address() != d->remoteAddress.load()) {
        responseCode = QErfc::Specific1;
        return;
    }

    switch (type) {
    case QCargoFrame::Nop:
        return;
    case QCargoFrame::Connect:
        responseCode = onConnect(request, sequence, body, response);
        return;
    case QCargoFrame::Disconnect:
        d->goDisconnected();
        return;
    case QCargoFrame::Data:
        if (state != QCargo::StateConnected)
            responseCode = QErfc::Specific1;
        else
            onData(sequence, confirmed, body);
        return;
    case QCargoFrame::Next: {
        const quint16 window = QCargoFrame::readU16(body, 0);
        if (!QCargoFrame::isValidWindow(window)) {
            responseCode = QErfc::PayloadError;
            return;
        }
        d->peerWindow = window;
        afterAnswer([](QCargoPrivate* owner) { owner->windowEvent.setNext(); });
        return;
    }
    case QCargoFrame::Missing: {
        const quint16 offset = QCargoFrame::readU16(body, 0);
        afterAnswer([offset](QCargoPrivate* owner) { owner->windowEvent.setMissing(offset); });
        return;
    }
    default:
        responseCode = QErfc::ProtocolError;
        return;
    }
}

void QCargoReceive::afterAnswer(const std::function<void(QCargoPrivate*)>& apply)
{
    // The stack queues its answer to the frame being handled once this call
    // returns. A next or missing lets the sender go on at once, and the
    // frames it then queues would overtake that answer: on a slow line the
    // answer would cross behind a whole window and outlast the peer's
    // time-out, a needless retransmission every time. Handed on through the
    // stack thread's own queue, the word reaches the sender after the answer
    // has been queued.
    QAbstractEventDispatcher* here = QAbstractEventDispatcher::instance();
    if (!here) {
        apply(d);
        return;
    }
    const QErfcHandle<QCargoPrivate> stream = d->handle();
    QMetaObject::invokeMethod(here, [stream, apply] { stream.call(apply); }, Qt::QueuedConnection);
}

QErfc::ResponseCode QCargoReceive::onConnect(const QErfcIncomingRequest& request, quint8 sequence,
                                             const QByteArray& body, QErfcResponse& response)
{
    if (body.size() != 3)
        return QErfc::PayloadError;
    if (sequence != QCargoFrame::ConnectSequence)
        return QErfc::ProtocolError;
    if (d->state() != QCargo::StateListening)
        return QErfc::Specific1;
    const qint8 functionId = qint8(body.at(0));
    const quint16 window = QCargoFrame::readU16(body, 1);
    d->remoteAddress = request.address();
    d->remoteFunctionId = quint8(functionId);
    // A refused window is not taken: the peer window is never 0 on a connection.
    if (functionId < 0 || !QCargoFrame::isValidWindow(window))
        return QErfc::PayloadError;
    d->peerWindow = window;
    // The connector's window serves both directions, within what the line
    // allows; a listener given a smaller own window answers with that.
    const quint16 own = qMin<quint16>(qMin<quint16>(window, d->configuredWindow.load()), d->windowCap());
    d->ownWindow = own;
    if (!d->enterConnected(QCargo::StateListening))
        return QErfc::Specific1;
    response.setPayload(QCargoFrame::connectAnswer(d->stack->privilege(), own));
    return QErfc::OK;
}

void QCargoReceive::onData(quint8 sequence, bool confirmed, const QByteArray& body)
{
    if (!confirmed && m_resynchronising) {
        ++d->blocksIgnored; // plain blocks of a window the sender will send again
        return;
    }
    if (sequence != m_expected) {
        if (!m_resynchronising) {
            // A gap: ask once for the window from the first byte missing.
            m_resynchronising = true;
            m_expected = 0;
            emit d->sendMissing(m_windowOffset);
        }
        return;
    }
    m_resynchronising = false;
    if (body.isEmpty()) {
        // The end of the window.
        m_windowOffset = 0;
        m_expected = 0;
        emit readyRead();
        d->dataWake.wakeAll();
        emit d->sendNext();
        return;
    }
    {
        QMutexLocker lock(&m_bufferLock);
        m_buffer.append(body);
    }
    m_expected = quint8((m_expected + 1) % QCargoFrame::Sequences);
    m_windowOffset = quint16(m_windowOffset + body.size());
}
