#include "qcargo.h"
#include "qcargo_p.h"
#include "qcargoframe.h"
#include "qcargoreceive_p.h"
#include "qcargosend_p.h"

#include <QMetaEnum>

QCargo::QCargo(QErfcStack* stack, QObject* parent)
    : QCargo(stack, 0, 0, parent)
{
}

QCargo::QCargo(QErfcStack* stack, quint8 remoteAddress, quint8 remoteFunctionId, QObject* parent)
    : QIODevice(parent)
    , d(new QCargoPrivate(this, stack))
{
    d->remoteAddress = remoteAddress;
    d->remoteFunctionId = remoteFunctionId;
    // Without a free id the choice keeps 0, and registering then fails.
    d->chooseLocalFunctionId();
}

QCargo::~QCargo()
{
    delete d;
    d = nullptr;
}

namespace {

// The setters' rule: values change only while disconnected.
template <typename Apply>
void setWhileDisconnected(QCargoPrivate* d, Apply apply)
{
    if (d->state() != QCargo::StateDisconnected) {
        d->setError(QCargo::ErrorWrongState);
        return;
    }
    apply();
}

} // namespace

void QCargo::setRemoteAddress(quint8 address)
{
    setWhileDisconnected(d, [&] { d->remoteAddress = address; });
}

quint8 QCargo::remoteAddress() const { return d->remoteAddress.load(); }

void QCargo::setRemoteFunctionId(quint8 functionId)
{
    setWhileDisconnected(d, [&] { d->remoteFunctionId = functionId; });
}

quint8 QCargo::remoteFunctionId() const { return d->remoteFunctionId.load(); }

void QCargo::setLocalFunctionId(quint8 functionId)
{
    setWhileDisconnected(d, [&] { d->localFunctionId = functionId; });
}

quint8 QCargo::localFunctionId() const { return d->localFunctionId.load(); }

void QCargo::setName(const QString& name)
{
    setWhileDisconnected(d, [&] {
        QMutexLocker lock(&d->nameLock);
        d->name = name;
    });
}

QString QCargo::name() const { return d->currentName(); }

void QCargo::setOwnWindow(quint16 window)
{
    if (!QCargoFrame::isValidWindow(window))
        return;
    setWhileDisconnected(d, [&] {
        d->configuredWindow = window;
        d->ownWindow = window;
    });
}

quint16 QCargo::ownWindow() const { return d->ownWindow.load(); }
quint16 QCargo::peerWindow() const { return d->peerWindow.load(); }
void QCargo::setLinkByteRate(qint32 bytesPerSecond) { d->linkByteRate = qMax(0, bytesPerSecond); }
qint32 QCargo::linkByteRate() const { return d->lineRate(); }

bool QCargo::listen(QErfc::Privilege privilege, quint8 localFunctionId)
{
    const CargoState s = d->state();
    if (s == StateConnected || s == StateListening) {
        d->setError(ErrorWrongState);
        return false;
    }
    if (localFunctionId != 0)
        d->localFunctionId = localFunctionId;
    if (!d->registerFunction(privilege))
        return false; // ErrorFunctionRegister is out
    if (!d->enterListening()) {
        // Connected meanwhile: this listen came too late.
        d->setError(ErrorWrongState);
        return false;
    }
    return true;
}

void QCargo::connectToNode()
{
    const CargoState s = d->state();
    if (s == StateConnected || s == StateListening) {
        d->setError(ErrorWrongState);
        return;
    }
    d->connectPending = true;
    emit d->connectToNode();
}

void QCargo::connectToNode(quint8 address, quint8 functionId, bool keepLocalFunctionId)
{
    const CargoState s = d->state();
    if (s == StateConnected || s == StateListening) {
        d->setError(ErrorWrongState);
        return;
    }
    d->remoteAddress = address;
    d->remoteFunctionId = functionId;
    if (!keepLocalFunctionId)
        d->chooseLocalFunctionId();
    d->connectPending = true;
    emit d->connectToNode();
}

void QCargo::disconnectFromNode()
{
    if (d->state() != StateDisconnected)
        emit d->disconnectFromNode();
}

QCargo::CargoState QCargo::state() const
{
    // A caller on the device's thread that sees the state connected finds
    // the device open, also before the queued open has run.
    d->syncDevice();
    return d->state();
}
QString QCargo::stateString() const { return stateString(state()); }

QString QCargo::stateString(CargoState state)
{
    return QString::fromLatin1(QMetaEnum::fromType<CargoState>().valueToKey(state));
}

QString QCargo::errorString(CargoError error)
{
    return QString::fromLatin1(QMetaEnum::fromType<CargoError>().valueToKey(error));
}

bool QCargo::waitForConnected(int msecs)
{
    // Also done when there is nothing to wait for: no connect attempt under
    // way (it failed, or none was made) and no listening.
    d->connectedWake.wait([this] {
        const CargoState s = d->state();
        return s == StateConnected || (!d->connectPending.load() && s != StateListening);
    }, msecs);
    return state() == StateConnected; // opens the device on this thread
}

bool QCargo::waitForDisconnected(int msecs)
{
    // Done once the function is unregistered, not merely when the state says so.
    return d->disconnectedWake.wait([this] {
        if (d->state() != StateDisconnected)
            return false;
        QMutexLocker lock(&d->functionLock);
        return !d->unregisterPending;
    }, msecs);
}

QCargo::Counters QCargo::counters() const
{
    Counters c;
    c.windowsSent = d->windowsSent.load();
    c.windowRestarts = d->windowRestarts.load();
    c.nextsSent = d->nextsSent.load();
    c.missingsSent = d->missingsSent.load();
    c.blocksIgnored = d->blocksIgnored.load();
    return c;
}

bool QCargo::isSequential() const
{
    return true;
}

// The device is unbuffered: every byte not yet read is in the receive buffer,
// so bytesAvailable, canReadLine and the reads agree.
qint64 QCargo::bytesAvailable() const
{
    d->syncDevice();
    if (!isReadable())
        return 0;
    return d->receiver->size() + QIODevice::bytesAvailable();
}

qint64 QCargo::bytesToWrite() const
{
    return d->sender->size();
}

bool QCargo::canReadLine() const
{
    d->syncDevice();
    return isReadable() && (d->receiver->canReadLine() || QIODevice::canReadLine());
}

bool QCargo::waitForReadyRead(int msecs)
{
    // Data means a connection began: the device opens here for reading.
    const bool ready = d->receiver->size() > 0
        || d->dataWake.wait([this] { return d->receiver->size() > 0; }, msecs);
    d->syncDevice();
    return ready;
}

bool QCargo::waitForBytesWritten(int msecs)
{
    if (d->sender->isEmpty())
        return true;
    return d->writtenWake.wait([this] { return d->sender->isEmpty(); }, msecs);
}

qint64 QCargo::readData(char* data, qint64 maxlen)
{
    if (maxlen <= 0)
        return 0;
    const qint64 n = d->receiver->read(data, maxlen);
    d->closeDrained();
    return n;
}

qint64 QCargo::readLineData(char* data, qint64 maxlen)
{
    if (maxlen <= 0)
        return 0;
    const qint64 n = d->receiver->readLine(data, maxlen);
    d->closeDrained();
    return n;
}

qint64 QCargo::writeData(const char* data, qint64 len)
{
    {
        // Under the state lock: a stream that dies now either takes these
        // bytes with it or refuses them, and never keeps them for later.
        QMutexLocker lock(&d->stateLock);
        if (d->m_state != StateConnected || !isWritable()) {
            lock.unlock();
            d->setError(ErrorWrongState);
            return -1;
        }
        if (len <= 0)
            return 0;
        d->sender->append(data, len);
    }
    emit d->transmitData();
    return len;
}
