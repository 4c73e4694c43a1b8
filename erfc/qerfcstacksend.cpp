// The stack engine: sending requests and datagrams, queueing frames, retransmission.

#include "qerfcdatagram.h"
#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfceventconnect.h"
#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcguiwait.h"
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

#include <optional>

using namespace QErfcStackHelpers;
using namespace QErfcWire;

void QErfcStackPrivate::checkSendArguments(int payloadSize, uchar address, uchar functionId) const
{
    if (!isEnabled())
        fail(QErfcException::StackDisabled);
    if (payloadSize > QErfcMsg::MaxPayload)
        fail(QErfcException::PayloadError);
    if (address > Broadcast)
        fail(QErfcException::AddressError);
    if (functionId > 127)
        fail(QErfcException::FunctionIdError);
}

bool QErfcStackPrivate::sendRequest(QErfcRequest* request)
{
    checkSendArguments(request->payload().size(), request->address(), request->functionId());
    if (request->timeout() < 10)
        fail(QErfcException::TimeoutError);
    if (request->address() == Broadcast)
        fail(QErfcException::BroadcastNotAllowed);

    const uchar own = ownAddress();
    QErfcMsg frame(request, own);
    QErfcNodePtr node = findNode(request->address());
    frame.setPrivilege(privilege());
    if (!node || !reserveSlot(node, frame)) {
        completeWithConnectionError(request, own);
        return false;
    }
    transmitFrame(frame);
    node->unlock();
    return true;
}

bool QErfcStackPrivate::reserveSlot(const QErfcNodePtr& node, QErfcMsg& frame)
{
    const QDeadlineTimer deadline = sendDeadline();
    frame.setInterface(node->interface());
    // Only a sender that has to wait marks the GUI thread as waiting: a
    // node's call handed to the GUI thread meanwhile then gives up at once
    // instead of holding the stack thread, which alone can free the window.
    std::optional<QErfcGuiWait> guiWait;
    if (!node->tryLock(0)) {
        guiWait.emplace();
        if (!node->tryLock(int(deadline.remainingTime())))
            return false;
    }
    QErfcNode::ReserveResult reserved = node->reserve(frame, false, 0);
    // The stack thread completes outstanding requests: it must never wait for a window.
    if (reserved == QErfcNode::NoSlot && !onStackThread()) {
        if (!guiWait)
            guiWait.emplace();
        reserved = node->reserve(frame, true, int(deadline.remainingTime()));
    }
    if (reserved != QErfcNode::Reserved) {
        node->unlock();
        return false;
    }
    return true;
}

bool QErfcStackPrivate::sendDatagram(QErfcDatagram* datagram)
{
    checkSendArguments(datagram->payload().size(), datagram->address(), datagram->functionId());
    QErfcMsg frame(datagram, ownAddress());
    frame.setPrivilege(privilege());
    if (datagram->address() != Broadcast) {
        QErfcNodePtr node = findNode(datagram->address());
        if (!node)
            return false;
        frame.setInterface(node->interface());
    }
    transmitFrame(frame);
    return true;
}

void QErfcStackPrivate::transmitFrame(QErfcMsg& frame)
{
    if (frame.destination() < Broadcast && frame.source() < Broadcast) {
        queueFrame(frame);
        return;
    }
    QMutexLocker lock(&m_interfacesLock);
    for (QErfcInterface* link : qAsConst(m_interfaces)) {
        frame.setInterface(link);
        queueFrame(frame, link);
    }
}

void QErfcStackPrivate::queueFrame(const QErfcMsg& frame, QErfcInterface* link)
{
    if (!link)
        link = frame.interface();
    if (!link)
        return;
    QByteArray bytes;
    {
        QMutexLocker lock(&m_cipherLock);
        bytes = frame.encode(m_cipher);
    }
    if (QErfcStack* f = facade())
        emit f->trafficTx(bytes.size());
    count(&QErfcStatistics::frameTx);
    emit frameTransmit(link, bytes);
}

void QErfcStackPrivate::doRetransmits()
{
    QMutexLocker dispatchLock(&m_dispatchLock);
    QList<QErfcNodePtr> nodes;
    {
        QMutexLocker lock(&m_nodesLock);
        nodes = m_nodes.values();
    }
    const qint64 t = now();
    for (const QErfcNodePtr& node : qAsConst(nodes)) {
        const QErfcNode::DueFrames due = node->takeDueFrames(t);
        for (const QErfcMsg& frame : due.resend) {
            count(&QErfcStatistics::retries);
            queueFrame(frame);
        }
        for (const QErfcMsg& frame : due.expired) {
            if (frame.retries() > 0)
                count(&QErfcStatistics::maxRetries);
            frame.completeRequest(frame.source(), frame.functionId(), QErfc::ConnectionError,
                                  QByteArray());
        }
    }
}
