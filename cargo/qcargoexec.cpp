#include "qcargoexec_p.h"
#include "qcargo_p.h"
#include "qcargoframe.h"

#include "qerfcexception.h"
#include "qerfcnodeinfo.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <functional>

QCargoExec::QCargoExec(QCargoPrivate* owner)
    : d(owner)
{
}

quint16 QCargoExec::queryChannelCapacity(quint8 address)
{
    try {
        QErfcNodeInfo info(d->stack, address);
        info.refreshChannelCapacity();
        const QDeadlineTimer deadline(QCargoPrivate::CapacityWaitMs);
        while (!info.waitForChannelCapacity(QCargoPrivate::PollMs)) {
            if (d->stopping.load() || deadline.hasExpired())
                return 0;
        }
        return info.channelCapacity();
    } catch (const QErfcException&) {
        return 0; // the connect request then meets the same refusal
    }
}

namespace {

// A request owned by nobody: it deletes itself once the stack is done with
// it, on the thread that completes it.
QErfcRequest* selfDeletingRequest(quint8 address, quint8 functionId, const QByteArray& payload)
{
    auto* request = new QErfcRequest(address, functionId, payload);
    QObject::connect(request, &QErfcRequest::finished, request, [request] { delete request; },
                     Qt::DirectConnection);
    return request;
}

} // namespace

QErfcRequest* QCargoExec::makeRequest(const QByteArray& payload,
                                      void (QCargoExec::*handler)(const QErfcIncomingResponse&))
{
    auto* request = new QErfcRequest(d->remoteAddress.load(), d->remoteFunctionId.load(), payload,
                                     this);
    const QErfcHandle<QCargoPrivate> stream = d->handle();
    const std::function<void(QCargoExec*, const QErfcIncomingResponse&)> answer = handler;
    connect(request, &QErfcRequest::callSignal, request,
            [stream, answer](QErfcIncomingResponse response) {
                stream.call([&](QCargoPrivate* owner) { answer(owner->control, response); });
            },
            Qt::DirectConnection);
    connect(request, &QErfcRequest::finished, request, &QObject::deleteLater);
    return request;
}

void QCargoExec::onConnectToNode()
{
    const QCargo::CargoState state = d->state();
    if (state == QCargo::StateConnected || state == QCargo::StateListening) {
        d->failConnect(QCargo::ErrorWrongState);
        return;
    }
    const quint8 address = d->remoteAddress.load();
    if (address >= 63) {
        d->failConnect(QCargo::ErrorUnknownRemoteAddress);
        return;
    }

    // A node that reports its channel capacity gets a window it can hold.
    quint16 window = d->configuredWindow.load();
    if (const quint16 capacity = queryChannelCapacity(address))
        window = quint16(qMin(capacity * QCargoFrame::MaxBlock / 2, int(window)));
    window = qMax<quint16>(1, qMin(window, d->windowCap()));
    d->ownWindow = window;

    if (d->stopping.load())
        return;
    if (!d->registerFunction(QErfc::User)) {
        d->connectPending = false; // ErrorFunctionRegister is out
        d->connectedWake.wakeAll();
        return;
    }
    if (!d->enterConnecting()) {
        d->failConnect(QCargo::ErrorWrongState);
        return;
    }
    ++m_attempt;
    m_retryUntil = QDeadlineTimer(QCargoPrivate::ConnectRetryMs);
    sendConnect();
}

void QCargoExec::sendConnect()
{
    // Not owned by this object, unlike the other requests: a connect may be
    // accepted after the stream was deleted, and the listener must then
    // still be told (below). It deletes itself once the stack is done.
    QErfcRequest* request = selfDeletingRequest(d->remoteAddress.load(), d->remoteFunctionId.load(),
                                                QCargoFrame::connect(d->localFunctionId.load(), d->ownWindow.load()));
    request->setUserData(m_attempt.load());
    QErfcStack* stack = d->stack;
    const QErfcHandle<QCargoPrivate> stream = d->handle();
    connect(request, &QErfcRequest::callSignal, request,
            [stack, stream](QErfcIncomingResponse response) {
                const bool handled = stream.call([&](QCargoPrivate* owner) { owner->control->onResponseConnect(response); });
                if (!handled && response.responseCode() == QErfc::OK)
                    releaseListener(stack, response.address(), response.functionId());
            },
            Qt::DirectConnection);
    try {
        d->stack->send(request); // a refusal answers it at once with ConnectionError
    } catch (const QErfcException&) {
        delete request;
        d->failConnect(QCargo::ErrorCommunication);
    }
}

void QCargoExec::retryConnect(quint64 attempt)
{
    // A newer connect, a disconnect or the stream's end makes this one moot.
    if (attempt != m_attempt.load() || d->stopping.load() || d->state() != QCargo::StateConnecting)
        return;
    if (m_retryUntil.hasExpired()) {
        d->failConnect(QCargo::ErrorConnectionRefused);
        return;
    }
    // The pause's timer belongs to this thread's dispatcher and goes with it.
    QTimer::singleShot(QCargoPrivate::ConnectPauseMs, this, [this, attempt] {
        if (attempt == m_attempt.load() && !d->stopping.load() && d->state() == QCargo::StateConnecting)
            sendConnect();
    });
}

void QCargoExec::onResponseConnect(const QErfcIncomingResponse& response)
{
    // A listener between two connections (its function taken off, or not
    // listening again yet) is asked again for a short while: after a
    // connection ends, the peer learns of it before the listener can listen
    // again, and may connect at once.
    const QErfc::ResponseCode code = response.responseCode();
    if (d->state() == QCargo::StateConnecting && (code == QErfc::Specific1 || code == QErfc::UnknownFid)) {
        const quint64 attempt = response.userData().toULongLong();
        QMetaObject::invokeMethod(this, [this, attempt] { retryConnect(attempt); }, Qt::QueuedConnection);
        return;
    }
    // Accepted after it was given up (the stream was disconnected, or
    // deleted, while the connect was on its way): the peer now holds a
    // connection nobody will use, and as a listener it would take no other
    // client until it ends. It is told at once; its answer is not waited for.
    if (code == QErfc::OK && d->state() != QCargo::StateConnecting) {
        releaseListener(d->stack, response.address(), response.functionId());
        d->failConnect(QCargo::ErrorConnectionRefused);
        return;
    }
    // A failed attempt stays connecting, registered, until disconnected.
    if (d->state() != QCargo::StateConnecting || code != QErfc::OK) {
        d->failConnect(QCargo::ErrorConnectionRefused);
        return;
    }
    const QByteArray& payload = response.payload();
    const quint16 window = QCargoFrame::readU16(payload, 1);
    if (payload.size() != 3 || !QCargoFrame::isValidWindow(window)) {
        d->failConnect(QCargo::ErrorCommunication);
        return;
    }
    d->peerWindow = window;
    if (!d->enterConnected(QCargo::StateConnecting))
        d->failConnect(QCargo::ErrorConnectionRefused);
}

void QCargoExec::releaseListener(QErfcStack* stack, quint8 address, quint8 functionId)
{
    QErfcRequest* request = selfDeletingRequest(address, functionId, QCargoFrame::disconnect());
    try {
        stack->send(request);
    } catch (const QErfcException&) {
        delete request; // the link is gone, and the peer's connection with it
    }
}

void QCargoExec::onDisconnectFromNode()
{
    if (!d->isConnected()) {
        d->goDisconnected(); // nothing to tell the peer
        return;
    }
    QErfcRequest* request = makeRequest(QCargoFrame::disconnect(), &QCargoExec::onResponseDisconnect);
    try {
        d->stack->send(request);
    } catch (const QErfcException&) {
        delete request;
        d->setError(QCargo::ErrorCommunication);
        d->goDisconnected();
    }
}

void QCargoExec::onResponseDisconnect(const QErfcIncomingResponse& response)
{
    if (response.responseCode() != QErfc::OK)
        d->setError(QCargo::ErrorCommunication);
    d->goDisconnected();
}

bool QCargoExec::sendAndWait(const QByteArray& payload, int retries)
{
    if (!d->isConnected())
        return false;
    QErfcRequest request(d->remoteAddress.load(), d->remoteFunctionId.load(), payload);
    request.setRetries(d->retries(retries));
    try {
        if (d->stack->send(&request))
            d->waitForAnswer(request);
    } catch (const QErfcException&) {
        // The sender's wait for this frame runs out and ends the stream.
    }
    return true;
}

void QCargoExec::onSendNext()
{
    if (sendAndWait(QCargoFrame::next(d->ownWindow.load()), 5))
        ++d->nextsSent;
}

void QCargoExec::onSendMissing(quint16 offset)
{
    if (sendAndWait(QCargoFrame::missing(offset), 5))
        ++d->missingsSent;
}

void QCargoExec::onUnregister(quint64 session)
{
    d->unregisterSession(session);
}
