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
    {
        QMutexLocker lock(&m_nodesLock);
        // Checked under the table lock: a disable that has cleared the flag
        // meanwhile finds no node left behind, one that clears it later drops
        // this one too.
        if (!isEnabled())
            return;
        existing = m_nodes.value(address);
        if (!existing) {
            m_nodes.insert(address, std::make_shared<QErfcNode>(link, address, runId, window,
                                                                &m_memory[address], mode));
        }
    }
    if (!existing) {
        drcHello();
        emit q->drcUpdate(address, QErfc::NewNode, mode);
        return;
    }

    const QErfc::Mode oldMode = existing->mode();
    if (!existing->refresh(link, runId, window, mode, now()))
        return; // the regular periodic hello

    // The node restarted: answers stored for its previous life mean nothing now.
    existing->clearDuplicateFilter();
    emit q->drcUpdate(address, QErfc::RemovedNode, oldMode);
    dropSubscriber(address);
    dropEventConnections(address);
    drcHello();
    emit q->drcUpdate(address, QErfc::NewNode, mode);
}

void QErfcStackPrivate::removeNode(uchar address)
{
    QErfcNodePtr node;
    {
        QMutexLocker lock(&m_nodesLock);
        node = m_nodes.take(address);
    }
    if (!node)
        return;
    const QErfc::Mode mode = node->mode();
    node->deleteNode();
    emit q->drcUpdate(address, QErfc::RemovedNode, mode);
    dropSubscriber(address);
    dropEventConnections(address);
}

void QErfcStackPrivate::removeNodes(const QList<uchar>& addresses)
{
    for (uchar address : addresses)
        removeNode(address);
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
                               AdvertisedWindow, m_mode}));
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
