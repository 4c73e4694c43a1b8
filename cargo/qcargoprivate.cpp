#include "qcargo_p.h"
#include "qcargoexec_p.h"
#include "qcargoframe.h"
#include "qcargoreceive_p.h"
#include "qcargosend_p.h"

#include "qerfcexception.h"
#include "qerfcfunction.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"

#include <QMetaEnum>
#include <QRandomGenerator>
#include <QSet>

QCargoPrivate::QCargoPrivate(QCargo* q, QErfcStack* stack)
    : QObject(q)
    , q(q)
    , stack(stack)
    , function(new QErfcFunction)
    , sender(new QCargoSend(this))
    , control(new QCargoExec(this))
    , receiver(new QCargoReceive(this))
    , name(QStringLiteral("CargoPort"))
{
    QErfc::registerMetaTypes();
    qRegisterMetaType<QCargo::CargoState>("QCargo::CargoState");
    qRegisterMetaType<QCargo::CargoError>("QCargo::CargoError");

    control->moveToThread(&controlThread);
    connect(this, &QCargoPrivate::connectToNode, control, &QCargoExec::onConnectToNode);
    connect(this, &QCargoPrivate::disconnectFromNode, control, &QCargoExec::onDisconnectFromNode);
    connect(this, &QCargoPrivate::sendNext, control, &QCargoExec::onSendNext);
    connect(this, &QCargoPrivate::sendMissing, control, &QCargoExec::onSendMissing);
    connect(this, &QCargoPrivate::unregister, control, &QCargoExec::onUnregister);

    sender->moveToThread(&sendThread);
    connect(sender, &QCargoSend::transactionProgress, q, &QCargo::transactionProgress);
    connect(sender, &QCargoSend::bytesWritten, q, &QCargo::bytesWritten);
    connect(sender, &QCargoSend::finished, q, &QCargo::finished);
    connect(this, &QCargoPrivate::transmitData, sender, &QCargoSend::onTransmitData);
    connect(receiver, &QCargoReceive::readyRead, q, &QCargo::readyRead);

    // Frames and node updates are handled right on the stack thread, through
    // the guard: none reaches the stream once its destruction has begun.
    const QErfcHandle<QCargoPrivate> self = handle();
    connect(function, &QErfcFunction::callSignal, function,
            [self](QErfcIncomingRequest& request, QErfcResponse& response, QErfc::ResponseCode& code) {
                if (!self.call([&](QCargoPrivate* d) { d->receiver->onFunctionCall(request, response, code); }))
                    code = QErfc::UnknownFid;
            },
            Qt::DirectConnection);
    connect(stack, &QErfcStack::drcUpdate, this,
            [self](uchar addr, QErfc::DrcUpdate action, QErfc::Mode mode) {
                self.call([&](QCargoPrivate* d) { d->onDrcUpdate(addr, action, mode); });
            },
            Qt::DirectConnection);
    // Every frame the stack receives is counted on its thread first.
    connect(stack, &QErfcStack::trafficRx, this,
            [self](int) {
                self.call([](QCargoPrivate* d) {
                    if (!d->stackThread.load())
                        d->stackThread = QThread::currentThread();
                });
            },
            Qt::DirectConnection);

    sendThread.setObjectName(QStringLiteral("QCargo send"));
    controlThread.setObjectName(QStringLiteral("QCargo control"));
    sendThread.start(QThread::InheritPriority);
    controlThread.start(QThread::InheritPriority);
}

QCargoPrivate::~QCargoPrivate()
{
    // Waits for a frame or an answer being handled on the stack thread (or a
    // queued signal on another thread); a call on this thread, from whose
    // signal the device is being deleted, touches nothing more.
    guard->close();
    stopping = true;
    {
        QMutexLocker lock(&stateLock);
        m_state = QCargo::StateDisconnected;
    }
    sender->clear();
    // Unregistered here and now: the control thread may be blocked in a request.
    {
        QMutexLocker lock(&functionLock);
        dropRegistrationLocked();
    }
    disconnect(stack, nullptr, this, nullptr);
    windowEvent.set(QCargoEvent::Idle);
    wakeAll();

    // Both threads look for the stop in every wait, so a running
    // transmission or request gives up within a poll.
    controlThread.quit();
    sendThread.quit();
    controlThread.wait();
    sendThread.wait();
    delete control; // with its requests still outstanding, which then complete nothing
    delete sender;

    // A frame the stack looked the function up for may still be on its way
    // to it: the function goes on the stack thread, after that frame.
    QErfcFunction* f = function;
    QThread* onStack = stackThread.load();
    if (onStack && onStack->isRunning() && onStack != QThread::currentThread())
        QMetaObject::invokeMethod(onStack, [f] { delete f; }, Qt::QueuedConnection);
    else
        delete f;
}

// ---------------------------------------------------------------- state

QCargo::CargoState QCargoPrivate::state() const
{
    QMutexLocker lock(&stateLock);
    return m_state;
}

bool QCargoPrivate::emitOnOwnThread(const std::function<void(QCargoPrivate*)>& emitter)
{
    if (QThread::currentThread() == q->thread()) {
        const QErfcGuardPtr alive = guard;
        emitter(this);
        return alive->isOpen();
    }
    const QErfcHandle<QCargoPrivate> self = handle();
    QMetaObject::invokeMethod(q, [self, emitter] {
        self.call([&](QCargoPrivate* d) { emitter(d); });
    }, Qt::QueuedConnection);
    return true;
}

bool QCargoPrivate::changeState(QCargo::CargoState state)
{
    return emitOnOwnThread([state](QCargoPrivate* d) { emit d->q->stateChanged(state); });
}

bool QCargoPrivate::enterListening()
{
    {
        QMutexLocker lock(&stateLock);
        if (m_state != QCargo::StateDisconnected && m_state != QCargo::StateConnecting)
            return false;
        m_state = QCargo::StateListening;
    }
    if (emitOnOwnThread([](QCargoPrivate* d) { emit d->q->listening(); }))
        changeState(QCargo::StateListening);
    return true;
}

bool QCargoPrivate::enterConnecting()
{
    {
        QMutexLocker lock(&stateLock);
        if (m_state != QCargo::StateDisconnected && m_state != QCargo::StateConnecting)
            return false;
        m_state = QCargo::StateConnecting;
    }
    changeState(QCargo::StateConnecting);
    return true;
}

bool QCargoPrivate::enterConnected(QCargo::CargoState from)
{
    {
        QMutexLocker lock(&stateLock);
        if (m_state != from)
            return false;
        ++connection;
        receiver->reset();
        sender->clear();
        windowEvent.set(QCargoEvent::Idle);
        m_state = QCargo::StateConnected;
    }
    connectPending = false;
    connectedWake.wakeAll();
    // The device opens on its own thread, ahead of the signals; a waiter
    // there that sees the state opens it itself (syncDevice).
    emitOnOwnThread([](QCargoPrivate* d) {
        d->syncDevice();
        const QErfcGuardPtr alive = d->guard;
        emit d->q->connected();
        if (alive->isOpen())
            emit d->q->stateChanged(QCargo::StateConnected);
    });
    return true;
}

void QCargoPrivate::goDisconnected()
{
    quint64 current;
    {
        // The unregistering is owed before anyone can see the state: a wait
        // for the disconnect ends only once the function is gone.
        QMutexLocker functions(&functionLock);
        {
            QMutexLocker lock(&stateLock);
            if (m_state == QCargo::StateDisconnected)
                return;
            m_state = QCargo::StateDisconnected;
        }
        unregisterPending = true;
        current = session;
    }
    sender->clear();
    windowEvent.poke();
    emit unregister(current);
}

bool QCargoPrivate::setError(QCargo::CargoError code)
{
    wakeAll();
    // The device's own string belongs to its thread.
    return emitOnOwnThread([code](QCargoPrivate* d) {
        d->q->setErrorString(QCargo::errorString(code));
        emit d->q->error(code);
    });
}

void QCargoPrivate::failConnect(QCargo::CargoError code)
{
    connectPending = false;
    setError(code);
}

void QCargoPrivate::wakeAll()
{
    writtenWake.wakeAll();
    dataWake.wakeAll();
    connectedWake.wakeAll();
    disconnectedWake.wakeAll();
}

void QCargoPrivate::onDrcUpdate(quint8 addr, QErfc::DrcUpdate, QErfc::Mode)
{
    if (addr == remoteAddress.load() && isConnected())
        goDisconnected();
}

// ---------------------------------------------------------------- the Cargo function

bool QCargoPrivate::chooseLocalFunctionId()
{
    QSet<int> taken;
    for (uchar id : stack->functionIds()) {
        if (id >= 16 && id <= 127)
            taken.insert(id);
    }
    if (taken.size() >= 112)
        return false;
    int id;
    do {
        id = int(QRandomGenerator::global()->bounded(112)) + 16;
    } while (taken.contains(id));
    localFunctionId = quint8(id);
    return true;
}

void QCargoPrivate::dropRegistrationLocked()
{
    if (!registered)
        return;
    try {
        stack->unregisterFunction(function);
    } catch (const QErfcException&) {
    }
    registered = false;
}

bool QCargoPrivate::registerFunction(QErfc::Privilege privilege)
{
    bool owed = false;
    bool ok = true;
    {
        QMutexLocker lock(&functionLock);
        // A registration left from before (a failed connect, or a disconnect
        // the control thread has not finished yet) goes first.
        dropRegistrationLocked();
        owed = unregisterPending;
        unregisterPending = false;
        ++session;
        function->setId(localFunctionId.load());
        function->setDescription(currentName());
        function->setPrivilege(privilege);
        try {
            stack->registerFunction(function);
            registered = true;
        } catch (const QErfcException&) {
            ok = false;
        }
    }
    if (owed)
        announceDisconnected();
    if (!ok)
        setError(QCargo::ErrorFunctionRegister);
    return ok;
}

void QCargoPrivate::unregisterSession(quint64 which)
{
    {
        QMutexLocker lock(&functionLock);
        if (!unregisterPending || which != session)
            return; // done already, by a registration that came first
        unregisterPending = false;
        dropRegistrationLocked();
    }
    announceDisconnected();
}

void QCargoPrivate::announceDisconnected()
{
    windowEvent.set(QCargoEvent::Idle); // releases a sender waiting for an answer
    connectPending = false;
    wakeAll();
    // The device closes on its own thread, after any readyRead queued there
    // for the last window, and only if no new connection has begun since.
    const quint64 closing = connection.load();
    const QErfcHandle<QCargoPrivate> self = handle();
    QMetaObject::invokeMethod(q, [self, closing] {
        self.call([closing](QCargoPrivate* d) {
            const QErfcGuardPtr alive = d->guard;
            d->syncDevice();
            if (d->connection.load() == closing)
                d->closeDevice(); // emits aboutToClose
            if (!alive->isOpen())
                return;
            emit d->q->disconnected();
            if (alive->isOpen())
                emit d->q->stateChanged(d->state());
        });
    }, Qt::QueuedConnection);
}

void QCargoPrivate::syncDevice()
{
    // The device's own state belongs to its thread.
    if (QThread::currentThread() != q->thread())
        return;
    const quint64 current = connection.load();
    if (current == openedFor)
        return;
    openedFor = current;
    // Bytes of an earlier connection not read yet stay readable ahead of
    // the new ones: they are in the receive buffer, not in the device.
    if (q->isOpen())
        q->setOpenMode(QIODevice::ReadWrite | QIODevice::Unbuffered);
    else
        q->QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

void QCargoPrivate::closeDevice()
{
    if (!q->isOpen())
        return;
    // What the peer sent and nobody has read yet stays readable.
    if (receiver->size() > 0)
        q->setOpenMode(QIODevice::ReadOnly | QIODevice::Unbuffered);
    else
        q->QIODevice::close();
}

void QCargoPrivate::closeDrained()
{
    // Called after a read on the device's thread: once the last bytes of a
    // closed stream have been read, the device closes for good.
    if (q->openMode() == (QIODevice::ReadOnly | QIODevice::Unbuffered) && receiver->size() == 0
        && state() == QCargo::StateDisconnected) {
        const quint64 closing = connection.load();
        const QErfcHandle<QCargoPrivate> self = handle();
        QMetaObject::invokeMethod(q, [self, closing] {
            self.call([closing](QCargoPrivate* d) {
                if (d->connection.load() == closing && d->state() == QCargo::StateDisconnected
                    && d->receiver->size() == 0 && d->q->openMode() != QIODevice::NotOpen)
                    d->q->QIODevice::close();
            });
        }, Qt::QueuedConnection);
    }
}

// ---------------------------------------------------------------- the line

QString QCargoPrivate::currentName() const
{
    QMutexLocker lock(&nameLock);
    return name;
}

qint32 QCargoPrivate::lineRate() const
{
    const qint32 given = linkByteRate.load();
    if (given > 0)
        return given;
    return stack->linkByteRate(remoteAddress.load());
}

qint64 QCargoPrivate::wireBytes(qint64 dataBytes)
{
    const qint64 blocks = (dataBytes + QCargoFrame::MaxBlock - 1) / QCargoFrame::MaxBlock;
    return (dataBytes + 9 * blocks) * 51 / 50;
}

qint64 QCargoPrivate::frameWireMicros(int dataBytes) const
{
    const qint32 rate = lineRate();
    if (rate <= 0)
        return 0;
    return (qint64(dataBytes) + 9) * 51 / 50 * 1000000 / rate;
}

quint16 QCargoPrivate::windowCap() const
{
    const qint32 rate = lineRate();
    if (rate <= 0)
        return QCargoFrame::MaxWindow;
    // The largest window whose blocks cross the line within MaxWindowWireMs.
    const qint64 lineBytes = qint64(rate) * MaxWindowWireMs / 1000;
    const qint64 data = lineBytes * 50 / 51 * QCargoFrame::MaxBlock / (QCargoFrame::MaxBlock + 9);
    return quint16(qBound<qint64>(QCargoFrame::MaxBlock, data, QCargoFrame::MaxWindow));
}

quint8 QCargoPrivate::retries(int base) const
{
    const qint32 rate = lineRate();
    if (rate <= 0)
        return quint8(base);
    // A request may wait behind a window in each direction: the own data
    // ahead of it, and the peer's data ahead of its answer.
    const qint64 waitMs = (wireBytes(peerWindow.load()) + wireBytes(ownWindow.load())) * 1000 / rate;
    const qint64 extra = (waitMs + RequestTimeoutMs - 1) / RequestTimeoutMs;
    return quint8(qMin<qint64>(255, base + extra));
}

bool QCargoPrivate::waitForAnswer(QErfcRequest& request, const std::function<bool()>& giveUp)
{
    for (;;) {
        if (request.waitForResponse(PollMs))
            return true;
        if (stopping.load() || (giveUp && giveUp()))
            return false;
    }
}
