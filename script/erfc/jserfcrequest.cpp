#include "jserfcrequest_p.h"

#include <QAtomicInt>

namespace {
QAtomicInt liveRequests;
}

JSErfcRequest::JSErfcRequest(uchar address, uchar fid, const QByteArray& payload)
    : QErfcRequest(address, fid, payload)
{
    liveRequests.ref();
    // finished comes from the stack thread, or from the sending thread when
    // the stack completes at once; queued either way, so the deletion runs on
    // the GUI thread after the answer's own queued delivery, and the
    // destructor waits out a completion still running on the stack thread.
    connect(this, &QErfcRequest::finished, this, &QObject::deleteLater, Qt::QueuedConnection);
}

JSErfcRequest::~JSErfcRequest()
{
    liveRequests.deref();
}

int JSErfcRequest::instances()
{
    return liveRequests.loadAcquire();
}
