#include "qerfcthread.h"
#include "qerfcinterface.h"

#include <QTimer>

namespace {
thread_local bool stackThread = false;
}

bool QErfcThread::isCurrentStackThread()
{
    return stackThread;
}

QErfcThread::QErfcThread(QObject* parent)
    : QThread(parent)
{
    // Its slots run on the thread it starts.
    moveToThread(this);
}

QErfcThread::~QErfcThread()
{
    delete m_discoveryTimer;
    delete m_retransmitTimer;
}

void QErfcThread::run()
{
    stackThread = true;
    m_discoveryTimer = new QTimer;
    m_discoveryTimer->setInterval(DiscoveryIntervalMs);
    connect(m_discoveryTimer, &QTimer::timeout, this, &QErfcThread::drcRefresh, Qt::DirectConnection);
    m_discoveryTimer->start();

    m_retransmitTimer = new QTimer;
    m_retransmitTimer->setTimerType(Qt::PreciseTimer);
    m_retransmitTimer->setInterval(RetransmitIntervalMs);
    connect(m_retransmitTimer, &QTimer::timeout, this, &QErfcThread::retransmitRefresh,
            Qt::DirectConnection);
    m_retransmitTimer->start();

    exec();

    // Timers belong to this thread: stop and delete them here.
    delete m_discoveryTimer;
    m_discoveryTimer = nullptr;
    delete m_retransmitTimer;
    m_retransmitTimer = nullptr;
}

void QErfcThread::forgetLink(QErfcInterface* devInterface)
{
    QMutexLocker lock(&m_linksLock);
    m_links.remove(devInterface);
}

void QErfcThread::onFrameReceived(QByteArray frame)
{
    auto* link = qobject_cast<QErfcInterface*>(sender());
    {
        QMutexLocker lock(&m_linksLock);
        if (!m_links.contains(link))
            return;
    }
    emit frameReceived(link, frame);
}

void QErfcThread::onNewInterface(QErfcInterface* devInterface, bool* ok)
{
    *ok = devInterface->bind();
    connect(devInterface, &QErfcInterface::frameReceived, this, &QErfcThread::onFrameReceived,
            Qt::UniqueConnection);
    QMutexLocker lock(&m_linksLock);
    m_links.insert(devInterface);
}

void QErfcThread::onRemoveInterface(QErfcInterface* devInterface)
{
    {
        QMutexLocker lock(&m_linksLock);
        m_links.remove(devInterface);
    }
    devInterface->release();
    disconnect(devInterface, &QErfcInterface::frameReceived, this, &QErfcThread::onFrameReceived);
}

void QErfcThread::onFrameTransmit(QErfcInterface* devInterface, QByteArray frame)
{
    QMutexLocker lock(&m_linksLock);
    if (m_links.contains(devInterface))
        devInterface->transmit(frame);
}
