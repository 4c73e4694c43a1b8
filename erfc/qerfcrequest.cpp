#include "qerfcrequest_p.h"
#include "qerfcexception.h"
#include "qerfcthread.h"

#include <QDeadlineTimer>

QErfcRequestHandle::QErfcRequestHandle(QErfcRequest* request, QErfcGuardPtr guard)
    : m_handle(request, std::move(guard))
{
}

bool QErfcRequestHandle::complete(const QErfcIncomingResponse& response)
{
    return m_handle.call([&](QErfcRequest* request) { request->onResponse(response); });
}

bool QErfcRequestHandle::complete(quint8 address, quint8 functionId,
                                  QErfc::ResponseCode code, const QByteArray& payload)
{
    return m_handle.call([&](QErfcRequest* request) {
        request->onResponse(QErfcIncomingResponse(address, functionId, code, payload, request));
    });
}

QErfcRequest* QErfcRequestHandle::request() const
{
    return m_handle.isAlive() ? m_handle.object() : nullptr;
}

void QErfcRequestPrivate::resetResponse()
{
    QMutexLocker lock(&m_lock);
    m_response = QErfcIncomingResponse();
    m_done = false;
}

QErfcRequest::QErfcRequest(QObject* parent)
    : QObject(parent)
    , d(new QErfcRequestPrivate)
{
    d->m_handle = std::make_shared<QErfcRequestHandle>(this, d->m_guard);
}

QErfcRequest::QErfcRequest(quint8 address, quint8 functionId, QObject* parent)
    : QErfcRequest(parent)
{
    d->m_address = address;
    d->m_functionId = functionId;
}

QErfcRequest::QErfcRequest(quint8 address, quint8 functionId, const QByteArray& payload,
                           QObject* parent)
    : QErfcRequest(address, functionId, parent)
{
    d->m_payload = payload;
}

QErfcRequest::~QErfcRequest()
{
    // Waits for a completion in progress on another thread, then makes later
    // ones no-ops. A completion on this thread (deleted from its own signal)
    // sees the guard closed and touches nothing more.
    d->m_guard->close();
}

void QErfcRequest::setAddress(quint8 address) { d->m_address = address; }
quint8 QErfcRequest::address() const { return d->m_address; }
void QErfcRequest::setFunctionId(quint8 functionId) { d->m_functionId = functionId; }
quint8 QErfcRequest::functionId() const { return d->m_functionId; }
QByteArray& QErfcRequest::payload() { return d->m_payload; }
const QByteArray& QErfcRequest::payload() const { return d->m_payload; }
void QErfcRequest::setPayload(const QByteArray& payload) { d->m_payload = payload; }
void QErfcRequest::setPayload(const QString& payload) { d->m_payload = payload.toLatin1(); }
void QErfcRequest::setRetries(quint8 retries) { d->m_retries = retries; }
quint8 QErfcRequest::retries() const { return d->m_retries; }
void QErfcRequest::setTimeout(quint8 timeout) { d->m_timeout = timeout; }
quint8 QErfcRequest::timeout() const { return d->m_timeout; }
void QErfcRequest::setNoResponse(bool noResponse) { d->m_noResponse = noResponse; }
bool QErfcRequest::noResponse() const { return d->m_noResponse; }

void QErfcRequest::setUserData(const QVariant& data)
{
    QMutexLocker lock(&d->m_lock);
    d->m_userData = data;
}

QVariant QErfcRequest::userData() const
{
    QMutexLocker lock(&d->m_lock);
    return d->m_userData;
}

QErfcIncomingResponse QErfcRequest::response() const
{
    QMutexLocker lock(&d->m_lock);
    return d->m_response;
}

const QErfcIncomingResponse& QErfcRequest::waitForResponse()
{
    waitForResponse(-1);
    return d->m_response;
}

bool QErfcRequest::waitForResponse(int msecs)
{
    if (d->m_noResponse)
        throw QErfcException(QErfcException::NoResponseEnabled);
    QDeadlineTimer deadline(msecs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(msecs));
    QMutexLocker lock(&d->m_lock);
    if (!d->m_done && QErfcThread::isCurrentStackThread()) {
        // Only the stack thread completes requests: it would wait for itself.
        qWarning("QErfcRequest::waitForResponse called on the stack thread");
        return false;
    }
    while (!d->m_done) {
        if (!d->m_completed.wait(&d->m_lock, deadline))
            return d->m_done;
    }
    return true;
}

void QErfcRequest::onResponse(const QErfcIncomingResponse& response)
{
    // A slot may delete the request: the guard (held here, not in d) tells.
    const QErfcGuardPtr guard = d->m_guard;
    {
        QMutexLocker lock(&d->m_lock);
        d->m_response = response;
    }
    // Signals go out without any lock, so a directly connected slot may read
    // response() or userData(), or delete the request; waiters are woken only
    // afterwards.
    emit callSignal(response);
    if (!guard->isOpen())
        return;
    emit finished();
    if (!guard->isOpen())
        return;
    QMutexLocker lock(&d->m_lock);
    d->m_done = true;
    d->m_completed.wakeAll();
}
