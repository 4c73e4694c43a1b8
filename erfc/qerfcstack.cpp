#include "qerfcexception.h"
#include "qerfcstack_p.h"
#include "qerfcstreaminterface.h"

QErfcStack::QErfcStack(QObject* parent)
    : QErfcStack(0, QErfc::Application, parent)
{
}

QErfcStack::QErfcStack(uchar address, QObject* parent)
    : QErfcStack(address, QErfc::Application, parent)
{
}

QErfcStack::QErfcStack(uchar address, QErfc::Mode mode, QObject* parent)
    : QObject(parent)
{
    if (address >= QErfcMsg::BroadcastAddress)
        throw QErfcException(QErfcException::AddressError);
    d = new QErfcStackPrivate(this, address, mode);
}

QErfcStack::~QErfcStack()
{
    // Says goodbye, drops every node and stops the stack thread. A thread
    // that does not stop is still inside the engine: the engine stays with
    // it (it no longer signals through this object) instead of being freed
    // under it.
    if (d->shutDown()) {
        delete d;
    } else {
        d->setParent(nullptr);
    }
}

void QErfcStack::setAddress(uchar address)
{
    if (d->isEnabled())
        throw QErfcException(QErfcException::StackEnabled);
    if (address >= QErfcMsg::BroadcastAddress)
        throw QErfcException(QErfcException::AddressError);
    d->m_address = address;
}

uchar QErfcStack::address() const { return d->ownAddress(); }
void QErfcStack::setPrivilege(QErfc::Privilege privilege) { d->m_privilege = int(privilege); }
QErfc::Privilege QErfcStack::privilege() const { return d->privilege(); }
QErfc::Mode QErfcStack::mode() const { return QErfc::Mode(d->m_mode.load()); }

void QErfcStack::setNodeDescription(const QString& text)
{
    d->setText(d->m_nodeDescription, text, QErfcException::DescriptionError);
}
QString QErfcStack::nodeDescription() const { return d->text(d->m_nodeDescription); }

void QErfcStack::setSoftwareVersion(const QString& text)
{
    d->setText(d->m_softwareVersion, text, QErfcException::DescriptionError);
}
QString QErfcStack::softwareVersion() const { return d->text(d->m_softwareVersion); }

void QErfcStack::setSoftwareHash(const QByteArray& hash) { d->setBytes(d->m_softwareHash, hash); }
QByteArray QErfcStack::softwareHash() const
{
    QMutexLocker lock(&d->m_configLock);
    return d->m_softwareHash;
}

void QErfcStack::setBootloaderVersion(const QString& text)
{
    d->setText(d->m_bootloaderVersion, text, QErfcException::DescriptionError);
}
QString QErfcStack::bootloaderVersion() const { return d->text(d->m_bootloaderVersion); }

void QErfcStack::setBootloaderHash(const QByteArray& hash) { d->setBytes(d->m_bootloaderHash, hash); }
QByteArray QErfcStack::bootloaderHash() const
{
    QMutexLocker lock(&d->m_configLock);
    return d->m_bootloaderHash;
}

void QErfcStack::setHardwareDescription(const QString& text)
{
    d->setText(d->m_hardwareDescription, text, QErfcException::DescriptionError);
}
QString QErfcStack::hardwareDescription() const { return d->text(d->m_hardwareDescription); }

void QErfcStack::setHardwareRevision(const QString& text)
{
    d->setText(d->m_hardwareRevision, text, QErfcException::DescriptionError);
}
QString QErfcStack::hardwareRevision() const { return d->text(d->m_hardwareRevision); }

void QErfcStack::setSerial(const QString& text)
{
    d->setText(d->m_serial, text, QErfcException::DescriptionError);
}
QString QErfcStack::serial() const { return d->text(d->m_serial); }

void QErfcStack::setUniqueId(const QByteArray& id) { d->setBytes(d->m_uniqueId, id); }
QByteArray QErfcStack::uniqueId() const
{
    QMutexLocker lock(&d->m_configLock);
    return d->m_uniqueId;
}

void QErfcStack::setCrypto(QErfcCrypto* cipher)
{
    QMutexLocker lock(&d->m_cipherLock);
    d->m_cipher = cipher;
}

QErfcCrypto* QErfcStack::crypto() const
{
    QMutexLocker lock(&d->m_cipherLock);
    return d->m_cipher;
}

void QErfcStack::enable() { d->enable(); }
void QErfcStack::disable() { d->disable(); }
bool QErfcStack::isEnabled() const { return d->isEnabled(); }

QErfcStatistics QErfcStack::statistics() const { return d->statistics(); }
void QErfcStack::resetStatistics() { d->resetStatistics(); }
QList<uchar> QErfcStack::knownNodes() const { return d->knownNodes(); }

bool QErfcStack::knownNode(uchar address, QErfc::Mode* mode) const
{
    const QErfcNodePtr node = d->findNode(address);
    if (!node)
        return false;
    if (mode)
        *mode = node->mode();
    return true;
}

QList<uchar> QErfcStack::functionIds() const
{
    QMutexLocker lock(&d->m_functionsLock);
    QList<uchar> ids;
    for (auto it = d->m_functions.cbegin(); it != d->m_functions.cend(); ++it) {
        if (it.value().isAlive())
            ids.append(it.key());
    }
    return ids;
}

QList<uchar> QErfcStack::eventIds() const
{
    QMutexLocker lock(&d->m_eventsLock);
    QList<uchar> ids;
    for (auto it = d->m_events.cbegin(); it != d->m_events.cend(); ++it) {
        if (it.value().isAlive())
            ids.append(it.key());
    }
    return ids;
}

qint32 QErfcStack::linkByteRate(uchar address) const
{
    const QErfcNodePtr node = d->findNode(address);
    if (!node)
        return 0;
    QErfcInterface* link = node->interface();
    // Only a link still bound is asked: a released one may be gone already.
    QMutexLocker lock(&d->m_interfacesLock);
    if (!d->m_interfaces.contains(link))
        return 0;
    const auto* stream = qobject_cast<QErfcStreamInterface*>(link);
    return stream ? stream->byteRate() : 0;
}

void QErfcStack::bindInterface(QErfcInterface* device) { d->bindInterface(device); }
void QErfcStack::releaseInterface(QErfcInterface* device) { d->releaseInterface(device); }
void QErfcStack::registerFunction(QErfcFunction* function) { d->registerFunction(function, false); }
void QErfcStack::registerEvent(QErfcEvent* event) { d->registerEvent(event); }
void QErfcStack::unregisterFunction(QErfcFunction* function) { d->unregisterFunction(function); }
void QErfcStack::releaseFunction(QErfcFunction* function) { d->releaseFunction(function); }
void QErfcStack::unregisterEvent(QErfcEvent* event) { d->unregisterEvent(event); }
bool QErfcStack::send(QErfcRequest* request) { return d->sendRequest(request); }
bool QErfcStack::send(QErfcDatagram* datagram) { return d->sendDatagram(datagram); }
bool QErfcStack::send(QErfcEmitEvent* event) { return d->emitEvent(event); }
bool QErfcStack::connectToEvent(QErfcEventConnect* event) { return d->connectToEvent(event); }
bool QErfcStack::disconnectFromEvent(QErfcEventConnect* event) { return d->disconnectFromEvent(event); }
bool QErfcStack::disconnectFromEvent(uchar remoteAddr, uchar eventId)
{
    return d->disconnectFromEvent(remoteAddr, eventId);
}
