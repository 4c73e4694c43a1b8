// The stack engine: receiving frames, dispatching requests and matching responses.

#include "qerfcdatagram.h"
#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfceventconnect.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcinterface.h"
#include "qerfcintfnct_p.h"
#include "qerfcrequest_p.h"
#include "qerfcstack_p.h"
#include "qerfcstackhelpers_p.h"
#include "qerfcthread.h"
#include "qerfcwire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>

using namespace QErfcStackHelpers;
using namespace QErfcWire;

void QErfcStackPrivate::onFrameReceived(QErfcInterface* devInterface, QByteArray bytes)
{
    if (!isEnabled())
        return;
    if (QErfcStack* f = facade())
        emit f->trafficRx(bytes.size());
    count(&QErfcStatistics::frameRx);

    QErfcMsg frame;
    {
        QMutexLocker lock(&m_cipherLock);
        if (!frame.decode(bytes, m_cipher))
            return;
    }
    frame.setInterface(devInterface);
    frame.setSendTime(now());
    QMutexLocker dispatchLock(&m_dispatchLock);
    dispatch(frame);
}

bool QErfcStackPrivate::answer(const QErfcMsg& request, QErfc::ResponseCode code,
                               const QByteArray& payload, QErfcMsg* answerOut)
{
    QErfcMsg response;
    if (!request.makeResponse(&response))
        return false;
    response.setResponseCode(code);
    response.setPayload(payload);
    queueFrame(response);
    if (answerOut)
        *answerOut = response;
    return true;
}

void QErfcStackPrivate::dispatch(QErfcMsg& frame)
{
    const uchar own = ownAddress();

    if (frame.crcError()) {
        count(&QErfcStatistics::crcError);
        // A damaged header claiming our own address as source is not answered:
        // the answer would come back to us.
        if (frame.source() != own)
            answer(frame, QErfc::CrcError, QByteArray());
        return;
    }
    if (frame.source() == own) {
        count(&QErfcStatistics::routingError);
        if (QErfcStack* f = facade())
            emit f->errorDetected(QErfc::OwnAddressError);
        return;
    }
    if (frame.destination() == Broadcast || frame.source() == Broadcast) {
        if (frame.isResponse())
            return;
        {
            QMutexLocker lock(&m_interfacesLock);
            for (QErfcInterface* link : qAsConst(m_interfaces)) {
                if (link != frame.interface())
                    queueFrame(frame, link);
            }
        }
        dispatchLocal(frame, true);
        return;
    }
    if (frame.destination() != own) {
        // A frame for another node: pass it on, or answer on its behalf.
        QErfcNodePtr node = findNode(frame.destination());
        if (!node) {
            count(&QErfcStatistics::unknownNode);
            answer(frame, QErfc::UnknonwAddr, QByteArray());
            return;
        }
        QErfcInterface* link = node->interface();
        if (link == frame.interface()) {
            count(&QErfcStatistics::routingError);
            if (QErfcStack* f = facade())
                emit f->errorDetected(QErfc::RoutingLoopError);
            answer(frame, QErfc::RoutingError, QByteArray());
            return;
        }
        count(&QErfcStatistics::routing);
        queueFrame(frame, link);
        return;
    }
    if (frame.isResponse())
        dispatchResponse(frame);
    else
        dispatchLocal(frame, false);
}

void QErfcStackPrivate::dispatchLocal(QErfcMsg& frame, bool broadcast)
{
    QErfcNodePtr node = findNode(frame.source());
    if (node) {
        QErfcMsg stored;
        bool inProgress = false;
        if (node->checkDuplicate(frame, &stored, &inProgress)) {
            count(&QErfcStatistics::retransmit);
            queueFrame(stored);
            return;
        }
        if (inProgress)
            return;
    } else if (!broadcast) {
        // A node must say hello before it may call the PC.
        answer(frame, QErfc::ProtocolError, QByteArray());
        return;
    }

    QErfcMsg response;
    if (frame.isEvent()) {
        // Delivered without the table lock, through the subscription's guard:
        // its slots may delete it, or unsubscribe.
        const QErfcEventConnectHandle connection = eventConnection(frame.source(), frame.functionId());
        if (node && connection.object())
            node->markInProgress(frame);
        const QErfcIncomingEvent event = frame.toIncomingEvent();
        if (!connection.call([&event](QErfcEventConnect* c) { c->onEvent(event); }))
            count(&QErfcStatistics::unknownEvent);
        if (answer(frame, QErfc::OK, QByteArray(), &response) && node)
            node->storeAnswer(response);
        return;
    }

    const QErfcHandle<QErfcFunction> function = beginCall(frame.functionId(), frame.privilege());
    if (!function.isAlive()) {
        count(&QErfcStatistics::unknownFunction);
        if (answer(frame, QErfc::UnknownFid, QByteArray(), &response) && node)
            node->storeAnswer(response);
        return;
    }
    if (node)
        node->markInProgress(frame);

    // Called without the function-table lock, so that a handler that blocks
    // does not freeze registration on other threads; a function released
    // meanwhile goes once the call is over.
    QErfcIncomingRequest request = frame.toIncomingRequest();
    QErfcResponse result;
    // Inside the function's guard: destroyed on another thread meanwhile, it
    // waits for the call to return; destroyed before, it is not called.
    QErfc::ResponseCode code = QErfc::UnknownFid;
    function.call([&](QErfcFunction* f) {
        if (frame.functionId() <= 15) {
            auto* internal = qobject_cast<QErfcIntFnct*>(f);
            code = internal ? internal->process(request, result, frame.interface()) : QErfc::UnknownFid;
        } else {
            code = f->call(request, result);
        }
    });
    endCall();
    if (code > QErfc::CrcError)
        return; // the handler asked for no answer
    QByteArray payload = result.payload();
    if (payload.size() > QErfcMsg::MaxPayload) {
        qWarning("Function %d answered %d bytes; at most %d fit a frame", frame.functionId(),
                 int(payload.size()), int(QErfcMsg::MaxPayload));
        code = QErfc::FunctionError;
        payload.clear();
    }
    if (answer(frame, code, payload, &response) && node)
        node->storeAnswer(response);
}

void QErfcStackPrivate::dispatchResponse(const QErfcMsg& frame)
{
    QErfcNodePtr node = findNode(frame.source());
    if (!node)
        return;
    if (frame.responseCode() == QErfc::CrcError) {
        // The node got our frame damaged: send it again at the next tick.
        if (node->matchPending(frame, nullptr))
            node->forceResend(frame);
        else
            count(&QErfcStatistics::unexpResponse);
        return;
    }
    QErfcMsg sent;
    if (!node->takePending(frame, &sent)) {
        count(&QErfcStatistics::unexpResponse);
        return;
    }
    // The frames queued behind the answered one on its link, to any node,
    // waited for it there: their time-out starts with this answer (a received
    // frame's send time is its arrival) at the earliest.
    QList<QErfcNodePtr> nodes;
    {
        QMutexLocker lock(&m_nodesLock);
        nodes = m_nodes.values();
    }
    for (const QErfcNodePtr& n : qAsConst(nodes))
        n->startTimeoutsBehind(sent.interface(), sent.linkOrder(), frame.sendTime());
    sent.completeRequest(frame.source(), frame.functionId(), frame.responseCode(), frame.payload());
}
