// The stack engine: the remote node table, hellos, goodbyes and expiry.

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

QErfcNodePtr QErfcStackPrivate::findNode(uchar address) const
{
    QMutexLocker lock(&m_nodesLock);
    return m_nodes.value(address);
}

void QErfcStackPrivate::addNode(QErfcInterface* link, uchar address, quint32 runId, uchar window,
                                QErfc::Mode mode)
{
    if (address == Broadcast) {
        drcHello();
        return;
    }
    if (address == ownAddress())
        return;

    QErfcNodePtr existing;
    QErfc::Mode oldMode = mode;
    {
        QMutexLocker lock(&m_nodesLock);
        // Checked under the table lock: a disable that has cleared the flag
        // meanwhile finds no node left behind, one that clears it later drops
        // this one too.
        if (!isEnabled())
            return;
        {
            // A hello still on its way from a link being released adds no
            // node: the release has dropped that link's nodes, or drops this
            // one once it takes the table lock.
            QMutexLocker links(&m_interfacesLock);
            if (!m_interfaces.contains(link))
                return;
        }
        existing = m_nodes.value(address);
        if (!existing) {
            m_nodes.insert(address, std::make_shared<QErfcNode>(link, address, runId, window,
                                                                &m_memory[address], mode));
            queueDrcUpdate(address, QErfc::NewNode, mode);
        } else {
            oldMode = existing->mode();
            if (!existing->refresh(link, runId, window, mode, now()))
                return; // the regular periodic hello
            queueDrcUpdate(address, QErfc::RemovedNode, oldMode);
        }
    }
    if (!existing) {
        drcHello();
        deliverDrcUpdates();
        return;
    }

    // The node restarted: answers stored for its previous life mean nothing now.
    existing->clearDuplicateFilter();
    deliverDrcUpdates();
    dropSubscriber(address);
    dropEventConnections(address);
    drcHello();
    {
        // Reported new only while it is still this record: a disable or a
        // release may have dropped it meanwhile (and reported that).
        QMutexLocker lock(&m_nodesLock);
        if (!isEnabled() || m_nodes.value(address) != existing)
            return;
        queueDrcUpdate(address, QErfc::NewNode, mode);
    }
    deliverDrcUpdates();
}

void QErfcStackPrivate::removeNode(uchar address)
{
    QErfcNodePtr node;
    {
        QMutexLocker lock(&m_nodesLock);
        node = m_nodes.take(address);
        if (node)
            queueDrcUpdate(address, QErfc::RemovedNode, node->mode());
    }
    if (!node)
        return;
    node->deleteNode();
    deliverDrcUpdates();
    dropSubscriber(address);
    dropEventConnections(address);
}

void QErfcStackPrivate::removeNodes(const QList<uchar>& addresses)
{
    for (uchar address : addresses)
        removeNode(address);
}

void QErfcStackPrivate::queueDrcUpdate(uchar address, QErfc::DrcUpdate state, QErfc::Mode mode)
{
    QMutexLocker lock(&m_drcLock);
    m_drcUpdates.enqueue({address, state, mode});
}

void QErfcStackPrivate::deliverDrcUpdates()
{
    // A removal made by disable or releaseInterface on the caller's thread
    // goes out on the stack thread too, behind any update that thread is
    // emitting: receivers, queued or direct, see the order the table saw.
    if (!onStackThread()) {
        QMetaObject::invokeMethod(m_thread, [this] { deliverDrcUpdates(); }, Qt::QueuedConnection);
        return;
    }
    // A receiver that changes the table from its slot adds to the queue:
    // the loop below emits that after the update in hand.
    if (m_deliveringDrc)
        return;
    m_deliveringDrc = true;
    for (;;) {
        DrcUpdateEntry update;
        {
            QMutexLocker lock(&m_drcLock);
            if (m_drcUpdates.isEmpty())
                break;
            update = m_drcUpdates.dequeue();
        }
        if (QErfcStack* f = facade())
            emit f->drcUpdate(update.address, update.state, update.mode);
    }
    m_deliveringDrc = false;
}

QList<uchar> QErfcStackPrivate::knownNodes() const
{
    QMutexLocker lock(&m_nodesLock);
    return m_nodes.keys();
}

void QErfcStackPrivate::sendNetworkDatagram(const QByteArray& payload)
{
    QErfcDatagram datagram(Broadcast, FnNetwork, payload);
    try {
        sendDatagram(&datagram);
    } catch (const QErfcException&) {
        // Disabled meanwhile: nothing to announce.
    }
}

void QErfcStackPrivate::drcHello()
{
    if (!isEnabled())
        return;
    const quint32 id = m_runId;
    sendNetworkDatagram(bytes({NetHello, int(id >> 24), int(id >> 16), int(id >> 8), int(id),
                               AdvertisedWindow, m_mode.load()}));
}

void QErfcStackPrivate::drcGoodbye()
{
    if (!isEnabled())
        return;
    sendNetworkDatagram(QByteArray(1, char(NetGoodbye)));
}

void QErfcStackPrivate::drcCheckNodes()
{
    QList<uchar> expired;
    const qint64 t = now();
    {
        QMutexLocker lock(&m_nodesLock);
        for (auto it = m_nodes.cbegin(); it != m_nodes.cend(); ++it) {
            if (it.value()->isExpired(t))
                expired.append(it.key());
        }
    }
    removeNodes(expired);
}
