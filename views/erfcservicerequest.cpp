#include "erfcservicerequest_p.h"

#include "qerfcexception.h"
#include "qerfcguiwait.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"

#include <memory>

QErfcIncomingResponse ErfcServiceRequest::call(QErfcStack* stack, quint8 address,
                                               const QByteArray& payload, bool* sent)
{
    std::unique_ptr<QErfcRequest> request(new QErfcRequest(address, FunctionId, payload));
    // finished comes from the stack thread, or from this thread when the
    // stack completes at once; queued either way, so the deletion runs here
    // after the wait, and the destructor waits out a completion still
    // running on the stack thread.
    QObject::connect(request.get(), &QErfcRequest::finished, request.get(), &QObject::deleteLater,
                     Qt::QueuedConnection);
    QErfcGuiWait guiWait;
    // Throws before the stack takes the request.
    const bool taken = stack->send(request.get());
    if (sent)
        *sent = taken;
    QErfcRequest* pending = request.release();
    // The stack gives up after its last retransmission; the extra second
    // covers its periodic check.
    const int bound = (pending->retries() + 1) * pending->timeout() + 1000;
    if (pending->waitForResponse(bound))
        return pending->response();
    return QErfcIncomingResponse(address, FunctionId, QErfc::ConnectionError, QByteArray(), nullptr);
}
